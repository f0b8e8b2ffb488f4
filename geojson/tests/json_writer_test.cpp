#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <limits>
#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::json {
namespace {

using namespace std::literals;

struct TextCase {
  double value;
  const char* text;
};

class NumberText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NumberText, Layout) { EXPECT_EQ(number_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Table, NumberText,
    ::testing::Values(TextCase{0.0, "0.0"}, TextCase{-0.0, "-0.0"}, TextCase{1.0, "1.0"}, TextCase{2.0, "2.0"},
                      TextCase{-2.0, "-2.0"}, TextCase{12.5, "12.5"}, TextCase{100.0, "100.0"}, TextCase{0.1, "0.1"},
                      TextCase{1e15, "1000000000000000.0"}, TextCase{1e16, "1e16"}, TextCase{1.5e16, "1.5e16"},
                      TextCase{123456789012345.6, "123456789012345.6"},
                      TextCase{1234567890123456.7, "1234567890123456.8"},
                      TextCase{12345678901234567.0, "1.2345678901234568e16"}, TextCase{1e-5, "0.00001"},
                      TextCase{2.5e-5, "0.000025"}, TextCase{1e-6, "1e-6"}, TextCase{-1.25e-7, "-1.25e-7"},
                      TextCase{0.0001234, "0.0001234"}, TextCase{5e-324, "5e-324"},
                      TextCase{1.7976931348623157e308, "1.7976931348623157e308"}, TextCase{1e100, "1e100"},
                      TextCase{-0.30000000000000004, "-0.30000000000000004"},
                      TextCase{std::numeric_limits<double>::quiet_NaN(), "null"},
                      TextCase{std::numeric_limits<double>::infinity(), "null"},
                      TextCase{-std::numeric_limits<double>::infinity(), "null"}));

TEST(NumberText, RoundTripsThroughTheReaderOnShortLiterals) {
  for (double v : {3.141592653589793, -7.25, 1e-7, 6.02214076e23, 0.007}) {
    auto parsed = from_str(number_text(v));
    ASSERT_TRUE(std::holds_alternative<Document>(parsed));
    EXPECT_EQ(std::get<Document>(parsed).root().number().f, v);
  }
}

TEST(StringText, EscapesQuotesBackslashesAndControlBytesOnly) {
  std::string out;
  write_string("a\"b\\c/\b\f\n\r\t\x01\x1f\x7f\xC3\xA9\0"sv, out);
  EXPECT_EQ(out, std::string("\"a\\\"b\\\\c/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xC3\xA9\\u0000\""));
}

std::string rewrite(std::string_view text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  if (!std::holds_alternative<Document>(parsed)) return {};
  return to_string(std::get<Document>(parsed).root());
}

TEST(CompactText, KeyOrderNoSpacesAndNumberKinds) {
  EXPECT_EQ(rewrite(R"( { "type" : "x", "b" : [ 1 , -2 , 3.0, 1E2, -0, 18446744073709551616 ], "a":{ }, "c":[ ] , "d":null, "e":true, "f":false } )"),
            R"({"a":{},"b":[1,-2,3.0,100.0,-0.0,1.8446744073709552e19],"c":[],"d":null,"e":true,"f":false,"type":"x"})");
  EXPECT_EQ(rewrite(R"("\u00e9\n\u0007")"), "\"\xC3\xA9\\n\\u0007\"");
}

TEST(CompactText, BuiltValues) {
  Arena arena;
  Member members[] = {{"z", Value::floating(std::nan(""))}, {"y", Value::negative_integer(-5)},
                      {"y", Value::unsigned_integer(7)}, {"x", arena.make_string("q\"")}};
  Value object = arena.make_object(members);
  Value items[] = {object, Value::boolean(false), Value::null()};
  EXPECT_EQ(to_string(arena.make_array(items)), R"([{"x":"q\"","y":7,"z":null},false,null])");
}

std::string debug_of(std::string_view text) {
  auto parsed = from_str(text);
  EXPECT_TRUE(std::holds_alternative<Document>(parsed)) << text;
  if (!std::holds_alternative<Document>(parsed)) return {};
  return debug(std::get<Document>(parsed).root());
}

TEST(DebugForm, Values) {
  EXPECT_EQ(debug_of("null"), "Null");
  EXPECT_EQ(debug_of("true"), "Bool(true)");
  EXPECT_EQ(debug_of("5"), "Number(5)");
  EXPECT_EQ(debug_of("-5"), "Number(-5)");
  EXPECT_EQ(debug_of("5.0"), "Number(5.0)");
  EXPECT_EQ(debug_of("1e16"), "Number(1e16)");
  EXPECT_EQ(debug_of("-0"), "Number(-0.0)");
  EXPECT_EQ(debug_of(R"("a\"b\\c")"), R"(String("a\"b\\c"))");
  EXPECT_EQ(debug_of("[]"), "Array []");
  EXPECT_EQ(debug_of("{}"), "Object {}");
  EXPECT_EQ(debug_of(R"([1, {"b": null, "a": [true]}, "x"])"),
            R"(Array [Number(1), Object {"a": Array [Bool(true)], "b": Null}, String("x")])");
}

TEST(DebugForm, ControlCharactersAreEscaped) {
  EXPECT_EQ(debug_text("t\tn\nr\r0\0e\x1b\x7f\xC2\x85\xC3\xA9"sv),
            "\"t\\tn\\nr\\r0\\0e\\u{1b}\\u{7f}\\u{85}\xC3\xA9\"");
}

TEST(DebugForm, Errors) {
  auto parsed = from_str("\"\t\"");
  ASSERT_TRUE(std::holds_alternative<Error>(parsed));
  EXPECT_EQ(std::get<Error>(parsed).debug(),
            R"(Error("control character (\\u0000-\\u001F) found while parsing a string", line: 1, column: 2))");
}

}  // namespace
}  // namespace quillmere::json

namespace quillmere::json {
namespace {

// Digits and scientific exponent of the text we write, and of to_chars.
std::pair<std::string, int> digits_of(std::string_view text) {
  std::string digits;
  int point = -1;
  int exponent = 0;
  std::size_t i = 0;
  if (text[0] == '-') ++i;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.') {
      point = static_cast<int>(digits.size());
    } else if (c == 'e') {
      std::size_t start = i + 1 + (text[i + 1] == '+' ? 1 : 0);
      std::from_chars(text.data() + start, text.data() + text.size(), exponent);
      break;
    } else {
      digits += c;
    }
  }
  if (point < 0) point = static_cast<int>(digits.size());
  // value = 0.digits * 10^(point + exponent)
  std::size_t lead = digits.find_first_not_of('0');
  int e = point + exponent - 1 - static_cast<int>(lead);
  digits = digits.substr(lead);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, e};
}

void expect_shortest(double v) {
  std::string ours = number_text(v);
  char sci[64];
  char* end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
  ASSERT_EQ(digits_of(ours), digits_of(std::string_view(sci, static_cast<std::size_t>(end - sci))))
      << ours << " vs " << std::string_view(sci, static_cast<std::size_t>(end - sci));
  double back = 0;
  std::from_chars(ours.data(), ours.data() + ours.size(), back);
  ASSERT_EQ(back, v) << ours;
}

TEST(NumberText, SameDigitsAsToCharsOnManyValues) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 300000; ++i) {
    // decimals with few digits (the common case), at every scale
    const std::uint64_t mantissa = rng() % 1000000000000000ULL >> (rng() % 50);
    const int scale = static_cast<int>(rng() % 40) - 25;
    char text[64];
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(mantissa), scale);
    double v = 0;
    std::from_chars(text, text + std::strlen(text), v);
    if (v == 0) continue;
    expect_shortest(v);
    expect_shortest(-v);
    // neighbours need 16 or 17 digits
    expect_shortest(std::nextafter(v, 0.0));
    expect_shortest(std::nextafter(v, 1e300));
    // and arbitrary bit patterns
    double bits;
    std::uint64_t raw = rng();
    std::memcpy(&bits, &raw, sizeof bits);
    if (std::isfinite(bits) && bits != 0) expect_shortest(bits);
  }
  for (double v : {1e15, 999999999999999.9, 999999999999999.0, 1e-7, 9.999999999999999e-8, 0.1, 0.3, 1e14 + 0.5,
                   1125899906842623.0, 4503599627370496.0, 123456789012345.0, 1234567890123456.0}) {
    expect_shortest(v);
  }
}

}  // namespace
}  // namespace quillmere::json
