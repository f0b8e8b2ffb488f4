#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "wkt/wkt.hpp"

namespace quillmere::wkt {
namespace {

std::string number_text(double v) {
  std::string s;
  write_number(v, s);
  return s;
}

struct NumberCase {
  double value;
  std::string text;
};

class NumberText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberText, IsShortestPositional) { EXPECT_EQ(number_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberText,
    ::testing::Values(
        NumberCase{1.0, "1"}, NumberCase{2.5, "2.5"}, NumberCase{-0.0, "-0"}, NumberCase{0.0, "0"},
        NumberCase{0.1, "0.1"}, NumberCase{0.1 + 0.2, "0.30000000000000004"}, NumberCase{1e16, "10000000000000000"},
        NumberCase{1e21, "1000000000000000000000"}, NumberCase{1e-7, "0.0000001"}, NumberCase{1.5e-7, "0.00000015"},
        NumberCase{-123.456, "-123.456"}, NumberCase{100.0, "100"}, NumberCase{0.5, "0.5"},
        NumberCase{1.2345678901234568e20, "123456789012345680000"},
        NumberCase{std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0')},
        NumberCase{-std::numeric_limits<double>::max(), "-17976931348623157" + std::string(292, '0')},
        NumberCase{std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
        NumberCase{std::numeric_limits<double>::min(), "0." + std::string(307, '0') + "22250738585072014"},
        NumberCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
        NumberCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        NumberCase{std::numeric_limits<double>::infinity(), "inf"},
        NumberCase{-std::numeric_limits<double>::infinity(), "-inf"}));

quillmere::LineString ring(std::initializer_list<quillmere::Coord> coords) { return quillmere::LineString{coords}; }

struct PolygonCase {
  quillmere::Polygon polygon;
  std::string text;
};

class PolygonText : public ::testing::TestWithParam<PolygonCase> {};

TEST_P(PolygonText, HasTheFixedLayout) {
  const auto& c = GetParam();
  EXPECT_EQ(polygon_to_wkt_string(c.polygon), c.text);
  // The direct writer and the two-step conversion give the same text.
  std::string two_step;
  write_polygon(g_polygon_to_w_polygon(c.polygon), two_step);
  EXPECT_EQ(two_step, c.text);
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, PolygonText,
    ::testing::Values(
        PolygonCase{quillmere::Polygon(ring({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}), {}),
                    "POLYGON((0 0,1 0,1 1,0 1,0 0))"},
        PolygonCase{quillmere::Polygon(ring({{0, 0}, {10, 0}, {10, 10}, {0, 10}}), {ring({{2, 2}, {3, 2}, {3, 3}})}),
                    "POLYGON((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2))"},
        PolygonCase{quillmere::Polygon(), "POLYGON EMPTY"},
        PolygonCase{quillmere::Polygon({}, {ring({{1, 1}, {2, 1}, {2, 2}})}), "POLYGON((1 1,2 1,2 2,1 1))"},
        PolygonCase{quillmere::Polygon({}, {ring({})}), "POLYGON(())"},
        PolygonCase{quillmere::Polygon({}, {ring({}), ring({{5, 5}})}), "POLYGON((),(5 5))"},
        PolygonCase{quillmere::Polygon(ring({{0, 0}, {1, 0}, {1, 1}}), {ring({})}), "POLYGON((0 0,1 0,1 1,0 0),())"},
        PolygonCase{quillmere::Polygon(ring({{5, 5}}), {}), "POLYGON((5 5))"},
        PolygonCase{quillmere::Polygon(ring({{nan, -inf}}), {}), "POLYGON((NaN -inf,NaN -inf))"}));

// Every finite double written reads back as exactly the same value.
TEST(WriteNumber, FiniteValuesRoundTrip) {
  std::mt19937_64 random(20261208);
  std::string text;
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    std::uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    text.clear();
    write_number(v, text);
    ASSERT_EQ(text.find_first_of("eE+"), std::string::npos) << text;
    double back = 0;
    ASSERT_TRUE(parse_number(text, back)) << text;
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
    ++checked;
  }
  EXPECT_GT(checked, 190000);
}

// The digits of the general shortest conversion, laid out by hand: the
// oracle for the writer's fast path on short decimals.
std::string positional_oracle(double v) {
  char sci[64];
  auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific);
  std::string s(sci, r.ptr);
  const auto epos = s.find('e');
  std::string digits;
  for (char c : s.substr(0, epos)) {
    if (c != '.') digits += c;
  }
  const int e = std::stoi(s.substr(epos + 1)) + 1;
  const int k = static_cast<int>(digits.size());
  std::string out = std::signbit(v) ? "-" : "";
  if (e <= 0) return out + "0." + std::string(-e, '0') + digits;
  if (e < k) return out + digits.substr(0, e) + "." + digits.substr(e);
  return out + digits + std::string(e - k, '0');
}

TEST(WriteNumber, ShortDecimalsMatchTheShortestDigits) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 1000000; ++round) {
    // Decimals of 1 to 17 digits at scales from 1e-12 to 1e17, so both sides
    // of every fast-path bound are reached.
    const int digits = 1 + static_cast<int>(random() % 17);
    std::uint64_t m = random() % 100000000000000000ull;
    std::uint64_t limit = 1;
    for (int i = 0; i < digits; ++i) limit *= 10;
    m %= limit;
    const int exponent = static_cast<int>(random() % 30) - 20;
    const std::string text = (random() % 2 ? "-" : "") + std::to_string(m) + "e" + std::to_string(exponent);
    double v = 0;
    ASSERT_TRUE(parse_number(text, v));
    if (v == 0) continue;
    ASSERT_EQ(number_text(v), positional_oracle(v)) << text;
  }
  for (double v : {1e15, 999999999999999.9, 99999999999999.99, 1e-7, 9.999999999999999e-8, 1e14, 0.1, 123456789012345.6,
                   0.30000000000000004, 4.35, 2.675, 1.0000000000000002, 1e8, 99999999.99999999, 12345678.123456,
                   10000000.5, 9999999.999999998, 99999999.0, 0.5, 7.0}) {
    EXPECT_EQ(number_text(v), positional_oracle(v)) << v;
  }
}

TEST(WriteNumber, NonFiniteTextsReadBackOnlyWhenSigned) {
  double back = 0;
  EXPECT_TRUE(parse_number(number_text(-inf), back));
  EXPECT_EQ(back, -inf);
  // An unsigned "NaN" or "inf" is a word for the tokenizer, never a number.
  Wkt tree;
  EXPECT_STREQ(Wkt::from_str("POINT(" + number_text(nan) + " 0)", tree), errors::missing_close_paren);
  EXPECT_STREQ(Wkt::from_str("POINT(" + number_text(inf) + " 0)", tree), errors::missing_close_paren);
}

// The longest number texts, many of them: the output grows well past its
// first estimate while being written.
TEST(WritePolygon, LongestNumbersGrowTheText) {
  quillmere::LineString ring;
  for (int i = 0; i < 2000; ++i) {
    ring.coords.push_back({-std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::max()});
    ring.coords.push_back({-2.2250738585072014e-308 * (1 + i * 1e-15), -inf});
  }
  const quillmere::Polygon polygon(ring, {ring});
  std::string two_step;
  write_polygon(g_polygon_to_w_polygon(polygon), two_step);
  const std::string direct = polygon_to_wkt_string(polygon);
  EXPECT_GT(direct.size(), 2u * 4000 * 300);
  EXPECT_EQ(direct, two_step);
}

TEST(WritePolygon, LargeRingWritesEveryCoordinate) {
  quillmere::LineString big;
  const int n = 200000;
  for (int i = 0; i < n; ++i) big.coords.push_back({i * 0.25, -i * 1e-9});
  const std::string text = polygon_to_wkt_string(quillmere::Polygon(big, {}));
  Wkt tree;
  ASSERT_EQ(Wkt::from_str(text, tree), nullptr);
  const auto& coords = std::get<Polygon>(tree.item.value).rings.at(0).coords;
  ASSERT_EQ(coords.size(), static_cast<std::size_t>(n + 1));
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(coords[i].x, big.coords[i].x);
    ASSERT_EQ(coords[i].y, big.coords[i].y);
  }
}

}  // namespace
}  // namespace quillmere::wkt

namespace quillmere::wkt {
namespace {

// A coordinate is its two number texts with a space between, whichever of
// them take the short path, the general one, or neither (signed zeros,
// NaN, infinities).
TEST(WriteCoordinate, IsTheTwoNumberTextsWithASpace) {
  std::mt19937_64 random(21);
  const double specials[] = {0.0, -0.0, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                             5e-324, 1e22, 99999999.5, 1e-7, 0.1};
  auto pick = [&](int kind) {
    switch (kind) {
      case 0: {  // a decimal of 1 to 15 digits, like survey data
        const double v = static_cast<double>(random() % 1000000000000000ull) /
                         exact_powers_of_ten[random() % 16];
        return random() % 2 ? -v : v;
      }
      case 1: {  // any bits
        double v;
        const std::uint64_t bits = random();
        std::memcpy(&v, &bits, sizeof v);
        return v;
      }
      default:
        return specials[random() % std::size(specials)];
    }
  };
  char out[2 * max_number_text + 1];
  for (int round = 0; round < 300000; ++round) {
    const double x = pick(static_cast<int>(random() % 3));
    const double y = pick(static_cast<int>(random() % 3));
    const std::string expected = number_text(x) + " " + number_text(y);
    ASSERT_EQ(std::string(out, write_coordinate_to(out, x, y)), expected) << x << " " << y;
  }
}

}  // namespace
}  // namespace quillmere::wkt
