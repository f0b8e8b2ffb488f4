#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/geometry.hpp"
#include "test_support.hpp"

// Huge-count tests ask for impossible allocations on purpose; under the
// address sanitizer those must come back as std::bad_alloc, not abort.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}

namespace quillmere {
namespace {

using testing_support::same_bits;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct SmoothCase {
  std::string name;
  std::vector<Coord> line;
  std::uint64_t passes;
  std::vector<Coord> expected;
};
void PrintTo(const SmoothCase& c, std::ostream* os) { *os << c.name; }


class ChaikinExamples : public ::testing::TestWithParam<SmoothCase> {};

TEST_P(ChaikinExamples, GivesTheExactPoints) {
  const SmoothCase& c = GetParam();
  const LineString result = chaikin_smoothing(LineString{c.line}, c.passes);
  EXPECT_TRUE(same_bits(result.coords, c.expected));
}

const std::vector<Coord> unit_square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};

INSTANTIATE_TEST_SUITE_P(
    HandComputed, ChaikinExamples,
    ::testing::Values(
        SmoothCase{"square_one_pass", unit_square, 1,
                   {{0.25, 0}, {0.75, 0}, {1, 0.25}, {1, 0.75}, {0.75, 1}, {0.25, 1},
                    {0, 0.75}, {0, 0.25}, {0.25, 0}}},
        SmoothCase{"square_two_passes", unit_square, 2,
                   {{0.375, 0},        {0.625, 0},        {0.8125, 0.0625},  {0.9375, 0.1875},
                    {1, 0.375},        {1, 0.625},        {0.9375, 0.8125},  {0.8125, 0.9375},
                    {0.625, 1},        {0.375, 1},        {0.1875, 0.9375},  {0.0625, 0.8125},
                    {0, 0.625},        {0, 0.375},        {0.0625, 0.1875},  {0.1875, 0.0625},
                    {0.375, 0}}},
        SmoothCase{"open_segment", {{0, 0}, {4, 0}}, 1, {{0, 0}, {1, 0}, {3, 0}, {4, 0}}},
        SmoothCase{"open_segment_two_passes",
                   {{0, 0}, {4, 0}},
                   2,
                   {{0, 0}, {0.25, 0}, {0.75, 0}, {1.5, 0}, {2.5, 0}, {3.25, 0}, {3.75, 0}, {4, 0}}},
        SmoothCase{"zero_passes_copy", {{0, 0}, {4, 0}, {nan, 1}}, 0, {{0, 0}, {4, 0}, {nan, 1}}},
        SmoothCase{"empty", {}, 1, {}},
        SmoothCase{"empty_many_passes", {}, 1000, {}},
        SmoothCase{"one_point_is_closed", {{2, 3}}, 1, {}},
        SmoothCase{"one_nan_point_is_open", {{nan, 3}}, 1, {{nan, 3}, {nan, 3}}},
        SmoothCase{"ring_of_two_equal_points", {{1, 1}, {1, 1}}, 1, {{1, 1}, {1, 1}, {1, 1}}},
        SmoothCase{"negative_zero_closes", {{0.0, 0}, {4, 0}, {-0.0, 0}}, 1,
                   {{1, 0}, {3, 0}, {3, 0}, {1, 0}, {1, 0}}},
        SmoothCase{"nan_start_is_open",
                   {{nan, 0}, {4, 0}, {4, 4}, {nan, 0}},
                   1,
                   {{nan, 0}, {nan, 0}, {nan, 0}, {4, 1}, {4, 3}, {nan, 3}, {nan, 1}, {nan, 0}}},
        // Products rounded on their own: a fused multiply-add, or the form
        // a + 0.25 * (b - a), gives -46.40426165127213 in the marked places.
        SmoothCase{"products_rounded_separately",
                   {{-56.680120573877325, -15.576684883456537},
                    {-15.576684883456537, -56.680120573877325}},
                   1,
                   {{-56.680120573877325, -15.576684883456537},
                    {-46.40426165127212, -25.852543806061732},
                    {-25.852543806061732, -46.40426165127212},
                    {-15.576684883456537, -56.680120573877325}}}),
    [](const auto& info) { return info.param.name; });

TEST(ChaikinSmoothing, ARingWhoseStartTurnsNanReopens) {
  // Q of (inf, -inf) is NaN, so after one pass the ring no longer closes and
  // the second pass treats it as open: 10 points, not 2^2 * 2 + 1.
  const LineString ring{{{inf, 0}, {-inf, 0}, {inf, 0}}};
  const LineString once = chaikin_smoothing(ring, 1);
  ASSERT_EQ(once.coords.size(), 5u);
  EXPECT_TRUE(std::isnan(once.coords.front().x));
  EXPECT_EQ(chaikin_smoothing(ring, 2).coords.size(), 10u);
}

// Point counts 2^n (m - 1) + 1 for rings and 2^n m for open lines, ends of
// open lines unchanged, rings still closed.
TEST(ChaikinSmoothing, PointCountsAndEndsOnRandomLines) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> coordinate(-1000.0, 1000.0);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t m = 1 + rng() % 12;
    const bool make_ring = m >= 2 && rng() % 2 == 0;
    LineString line;
    for (std::size_t i = 0; i < m; ++i) line.coords.push_back({coordinate(rng), coordinate(rng)});
    if (make_ring) line.coords.back() = line.coords.front();
    const bool closed = line.is_closed();
    for (std::uint64_t n = 0; n <= 7; ++n) {
      const LineString result = chaikin_smoothing(line, n);
      SCOPED_TRACE("m=" + std::to_string(m) + " n=" + std::to_string(n));
      if (n == 0) {
        EXPECT_TRUE(same_bits(result.coords, line.coords));
      } else if (closed) {
        ASSERT_EQ(result.coords.size(), m == 1 ? 0 : (std::size_t{1} << n) * (m - 1) + 1);
        if (m > 1) {
          EXPECT_TRUE(result.is_closed());
        }
      } else {
        ASSERT_EQ(result.coords.size(), (std::size_t{1} << n) * m);
        EXPECT_TRUE(same_bits(result.coords.front(), line.coords.front()));
        EXPECT_TRUE(same_bits(result.coords.back(), line.coords.back()));
      }
    }
  }
}

TEST(ChaikinSmoothing, PolygonSmoothsEveryRingWithTheSameCount) {
  const Polygon polygon(LineString{unit_square},
                        {LineString{{{0.25, 0.25}, {0.5, 0.25}, {0.5, 0.5}}},  // closed by Polygon
                         LineString{}, LineString{{{0.6, 0.6}}}});
  const Polygon result = chaikin_smoothing(polygon, 2);
  EXPECT_TRUE(same_bits(result.exterior().coords, chaikin_smoothing(polygon.exterior(), 2).coords));
  ASSERT_EQ(result.interiors().size(), 3u);
  EXPECT_TRUE(same_bits(result.interiors()[0].coords,
                        chaikin_smoothing(polygon.interiors()[0], 2).coords));
  EXPECT_EQ(result.interiors()[0].coords.size(), 13u);
  EXPECT_TRUE(result.interiors()[1].coords.empty());
  EXPECT_TRUE(result.interiors()[2].coords.empty());
}

TEST(ChaikinSmoothing, PolygonWithZeroPassesComesBackEqual) {
  const Polygon polygon(LineString{unit_square}, {LineString{{{0.2, 0.2}, {0.4, 0.2}, {0.3, 0.4}}}});
  EXPECT_EQ(chaikin_smoothing(polygon, 0), polygon);
}

TEST(ChaikinSmoothing, PolygonRingWithNanStartGetsItsFirstPointAppended) {
  const Polygon polygon(LineString{{{nan, 0}, {4, 0}, {4, 4}}}, {});
  // Construction already appended one copy: 4 points, open, 8 after a pass,
  // and the construction of the result appends another.
  const Polygon result = chaikin_smoothing(polygon, 1);
  ASSERT_EQ(result.exterior().coords.size(), 9u);
  EXPECT_TRUE(same_bits(result.exterior().coords.back(), Coord{nan, 0}));
  EXPECT_TRUE(same_bits(result.exterior().coords[7], Coord{nan, 0}));
}

TEST(ChaikinSmoothing, OnePointExteriorBecomesEmpty) {
  const Polygon result = chaikin_smoothing(Polygon(LineString{{{5, 5}}}, {}), 3);
  EXPECT_TRUE(result.exterior().coords.empty());
}

// Counts whose result cannot exist fail at once with std::bad_alloc; counts
// whose result is tiny finish at once (an empty line is not passed through
// 2^64 times).
struct HugeCase {
  std::string name;
  std::vector<Coord> line;
  std::uint64_t passes;
  bool fails;
  std::size_t points;
};
void PrintTo(const HugeCase& c, std::ostream* os) { *os << c.name; }


class ChaikinHugeCounts : public ::testing::TestWithParam<HugeCase> {};

TEST_P(ChaikinHugeCounts, EndsPromptly) {
  const HugeCase& c = GetParam();
  const LineString line{c.line};
  if (c.fails) {
    EXPECT_THROW(chaikin_smoothing(line, c.passes), std::bad_alloc);
    EXPECT_THROW(chaikin_smoothing(Polygon(LineString{}, {line}), c.passes), std::bad_alloc);
  } else {
    EXPECT_EQ(chaikin_smoothing(line, c.passes).coords.size(), c.points);
  }
}

constexpr std::uint64_t max_passes = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Counts, ChaikinHugeCounts,
    ::testing::Values(
        HugeCase{"ring_64", {{0, 0}, {1, 0}, {1, 1}, {0, 0}}, 64, true, 0},
        HugeCase{"ring_2pow63", {{0, 0}, {1, 0}, {1, 1}, {0, 0}}, std::uint64_t{1} << 63, true, 0},
        HugeCase{"ring_max", {{0, 0}, {1, 0}, {1, 1}, {0, 0}}, max_passes, true, 0},
        // Representable (3 * 2^50 + 1 points) but far beyond any memory.
        HugeCase{"ring_50", {{0, 0}, {1, 0}, {1, 1}, {0, 0}}, 50, true, 0},
        HugeCase{"open_64", {{0, 0}, {1, 0}}, 64, true, 0},
        HugeCase{"nan_point_64", {{nan, 0}}, 64, true, 0},
        HugeCase{"nan_point_4", {{nan, 0}}, 4, false, 16},
        HugeCase{"empty_max", {}, max_passes, false, 0},
        HugeCase{"one_point_max", {{1, 2}}, max_passes, false, 0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillmere
