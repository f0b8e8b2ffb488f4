#include <gtest/gtest.h>

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

TEST(WriteNumber, NonFiniteTextsReadBackOnlyWhenSigned) {
  double back = 0;
  EXPECT_TRUE(parse_number(number_text(-inf), back));
  EXPECT_EQ(back, -inf);
  // An unsigned "NaN" or "inf" is a word for the tokenizer, never a number.
  Wkt tree;
  EXPECT_STREQ(Wkt::from_str("POINT(" + number_text(nan) + " 0)", tree), errors::missing_close_paren);
  EXPECT_STREQ(Wkt::from_str("POINT(" + number_text(inf) + " 0)", tree), errors::missing_close_paren);
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
