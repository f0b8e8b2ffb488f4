#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::json {
namespace {

Number parse_number(const std::string& text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  if (!std::holds_alternative<Document>(parsed)) return {};
  Value v = std::get<Document>(parsed).root();
  EXPECT_TRUE(v.is_number()) << text;
  return v.number();
}

double parse_float(const std::string& text) {
  Number n = parse_number(text);
  EXPECT_EQ(n.kind, Number::Kind::Float) << text;
  return n.f;
}

double correctly_rounded(const std::string& text) {
  double d = 0;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

TEST(Numbers, IntegerKinds) {
  Number n = parse_number("18446744073709551615");
  EXPECT_EQ(n.kind, Number::Kind::Unsigned);
  EXPECT_EQ(n.u, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(parse_float("18446744073709551616"), 18446744073709551616.0);

  n = parse_number("-9223372036854775808");
  EXPECT_EQ(n.kind, Number::Kind::Negative);
  EXPECT_EQ(n.i, std::numeric_limits<std::int64_t>::min());
  n = parse_number("-1");
  EXPECT_EQ(n.kind, Number::Kind::Negative);
  EXPECT_EQ(n.i, -1);
  EXPECT_EQ(parse_float("-9223372036854775809"), -9223372036854775809.0);
  EXPECT_EQ(parse_float("-18446744073709551615"), -18446744073709551615.0);

  double negative_zero = parse_float("-0");
  EXPECT_EQ(negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(negative_zero));
  n = parse_number("0");
  EXPECT_EQ(n.kind, Number::Kind::Unsigned);
  EXPECT_EQ(n.u, 0u);
  EXPECT_EQ(parse_number("1.0").kind, Number::Kind::Float);
  EXPECT_EQ(parse_number("1e0").kind, Number::Kind::Float);
}

struct FloatCase {
  const char* text;
  double expected;
};

class FloatConversion : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatConversion, TwoStepResult) {
  double d = parse_float(GetParam().text);
  EXPECT_EQ(d, GetParam().expected) << GetParam().text;
  EXPECT_EQ(std::signbit(d), std::signbit(GetParam().expected)) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FloatConversion,
    ::testing::Values(FloatCase{"1.5", 1.5}, FloatCase{"-2.25E2", -225.0}, FloatCase{"1e+2", 100.0},
                      FloatCase{"0.1", 0.1}, FloatCase{"1e-400", 0.0}, FloatCase{"-1e-400", -0.0},
                      FloatCase{"0e999999999999", 0.0}, FloatCase{"-0e999999999999", -0.0},
                      FloatCase{"1e-99999999999", 0.0}, FloatCase{"0.0e-5", 0.0},
                      FloatCase{"1e308", 1e308}, FloatCase{"1.7976931348623157e308", 1.7976931348623157e308},
                      // below 1e-308 the value is divided by 1e308 first, then by the rest
                      FloatCase{"1e-320", 1e-320}, FloatCase{"5e-324", 5e-324}, FloatCase{"4.9e-324", 5e-324},
                      // leading digits that fit in 64 bits are kept, the rest truncated
                      FloatCase{"123456789012345678901", 1.2345678901234567e20},
                      FloatCase{"12345678901234567890.99", 12345678901234567890.0},
                      FloatCase{"1.2345678901234567e-300", 1.234567890123457e-300},
                      // an overflowed integer part still scales the fraction digits that fit
                      FloatCase{"18446744073709551617.5", 18446744073709551615.0},
                      FloatCase{"184467440737095516190.5", 1.8446744073709552e20},
                      FloatCase{"0.0073901907722397689", 0.00739019077223977},
                      // zeros count as held digits but never overflow
                      FloatCase{"0.000000000000000000000000001", 1e-27},
                      FloatCase{"-0.00000000000000000000000000000000000000000000000000", -0.0}));

TEST(Numbers, NotCorrectlyRounded) {
  // The two-step conversion and a correctly rounding one disagree here.
  for (const char* text : {"1.2345678901234567e-300", "123456789012345678901", "1.8023384149596760e-13"}) {
    EXPECT_NE(parse_float(text), correctly_rounded(text)) << text;
  }
  // ... and agree on short literals.
  for (const char* text : {"0.3", "3.141592653589793", "1e23", "2.2250738585072014e-308"}) {
    EXPECT_EQ(parse_float(text), correctly_rounded(text)) << text;
  }
}

TEST(Numbers, AsF64) {
  auto parsed = from_str("[18446744073709551615, -3, 2.5, \"2\"]");
  const Value& v = std::get<Document>(parsed).root();
  auto items = *v.as_array();
  EXPECT_EQ(*items[0].as_f64(), 18446744073709551616.0);
  EXPECT_EQ(*items[1].as_f64(), -3.0);
  EXPECT_EQ(*items[2].as_f64(), 2.5);
  EXPECT_FALSE(items[3].as_f64().has_value());
}

}  // namespace
}  // namespace quillmere::json
