#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/geometry.hpp"
#include "geometry/rdp_screen.hpp"
#include "test_support.hpp"

namespace quillmere {
namespace {

using testing_support::run_with_stack;
using testing_support::same_bits;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// ---- distance -----------------------------------------------------------

struct DistanceCase {
  std::string name;
  Coord start, end, p;
  double expected;
};
void PrintTo(const DistanceCase& c, std::ostream* os) { *os << c.name; }


class Distance : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(Distance, IsTheClampedSegmentDistance) {
  const DistanceCase& c = GetParam();
  const double d = point_line_euclidean_distance(c.start, c.end, c.p);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(d)) << d;
  } else {
    EXPECT_EQ(d, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HandComputed, Distance,
    ::testing::Values(
        DistanceCase{"equal_ends", {0, 0}, {0, 0}, {3, 4}, 5.0},
        DistanceCase{"signed_zero_ends_are_equal", {0, 0}, {-0.0, 0}, {3, 4}, 5.0},
        DistanceCase{"before_start", {0, 0}, {1, 0}, {-3, 4}, 5.0},
        DistanceCase{"foot_exactly_at_start", {0, 0}, {1, 0}, {0, 5}, 5.0},
        DistanceCase{"after_end", {0, 0}, {1, 0}, {4, 4}, 5.0},
        DistanceCase{"inside", {0, 0}, {2, 0}, {1, 3}, 3.0},
        DistanceCase{"square_corner_to_diagonal", {0, 0}, {1, 1}, {1, 0}, 0.7071067811865476},
        DistanceCase{"no_overflow", {0, 0}, {0, 0}, {1e200, 1e200}, 1.4142135623730951e200},
        // Differs in the last digit when products are fused.
        DistanceCase{"products_rounded_separately",
                     {2.0499309730235837, 3.7088214372297434},
                     {7.160611275259727, 0.7818826924859068},
                     {6.40102484218954, 1.0409386961381184},
                     0.152697676537842},
        DistanceCase{"nan_point", {0, 0}, {1, 0}, {nan, 0}, nan},
        DistanceCase{"nan_end_makes_foot_nan", {0, 0}, {nan, 0}, {1, 1}, nan}),
    [](const auto& info) { return info.param.name; });

// ---- the recursive definition, written plainly, as the oracle ------------

std::vector<RdpIndex> reference_compute_rdp(std::span<const RdpIndex> p, double tolerance,
                                            std::size_t depth, std::size_t& max_depth) {
  if (depth > max_depth) max_depth = depth;
  if (p.empty()) return {};
  const RdpIndex first = p.front();
  const RdpIndex last = p.back();
  std::size_t index = 0;
  double farthest = 0.0;
  for (std::size_t i = 1; i + 1 < p.size(); ++i) {
    const double d = point_line_euclidean_distance(first.coord, last.coord, p[i].coord);
    if (d > farthest) {
      index = i;
      farthest = d;
    }
  }
  if (farthest > tolerance) {
    std::vector<RdpIndex> left =
        reference_compute_rdp(p.subspan(0, index + 1), tolerance, depth + 1, max_depth);
    const std::vector<RdpIndex> right =
        reference_compute_rdp(p.subspan(index), tolerance, depth + 1, max_depth);
    left.pop_back();
    left.insert(left.end(), right.begin(), right.end());
    return left;
  }
  return {first, last};
}

std::vector<Coord> reference_rdp(std::span<const Coord> points, double tolerance,
                                 std::size_t* max_depth = nullptr) {
  if (tolerance <= 0) return {points.begin(), points.end()};
  std::vector<RdpIndex> records;
  for (std::size_t i = 0; i < points.size(); ++i) records.push_back({i, points[i]});
  std::size_t depth = 0;
  std::vector<Coord> kept;
  for (const RdpIndex& r : reference_compute_rdp(records, tolerance, 0, depth)) {
    kept.push_back(r.coord);
  }
  if (max_depth != nullptr) *max_depth = depth;
  return kept;
}

// ---- hand-computed examples ---------------------------------------------

struct RdpCase {
  std::string name;
  std::vector<Coord> points;
  double tolerance;
  std::vector<Coord> expected;
};
void PrintTo(const RdpCase& c, std::ostream* os) { *os << c.name; }


class RdpExamples : public ::testing::TestWithParam<RdpCase> {};

TEST_P(RdpExamples, KeepsExactlyThesePoints) {
  const RdpCase& c = GetParam();
  EXPECT_TRUE(same_bits(rdp(c.points, c.tolerance), c.expected));
}

const std::vector<Coord> square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
const std::vector<Coord> collinear{{0, 0}, {1, 0}, {2, 0}, {3, 0}};
// (1 1) and (2 1) lie equally far (1.0) from the base (0 0)-(3 0); splitting
// at the earlier one keeps it and drops the later one, and the other way round.
const std::vector<Coord> tie{{0, 0}, {1, 1}, {2, 1}, {3, 0}};

INSTANTIATE_TEST_SUITE_P(
    HandComputed, RdpExamples,
    ::testing::Values(
        RdpCase{"square_half", square, 0.5, square},
        RdpCase{"square_0_8", square, 0.8, {{0, 0}, {1, 1}, {0, 0}}},
        RdpCase{"triangle_20", {{0, 0}, {10, 0}, {0, 10}, {0, 0}}, 20, {{0, 0}, {0, 0}}},
        RdpCase{"distance_equal_to_tolerance_is_dropped",
                {{0, 0}, {1, 1}, {2, 0}}, 1.0, {{0, 0}, {2, 0}}},
        RdpCase{"distance_above_tolerance_is_kept",
                {{0, 0}, {1, 1}, {2, 0}}, 0.999, {{0, 0}, {1, 1}, {2, 0}}},
        RdpCase{"tie_splits_at_the_earlier_point", tie, 0.5, {{0, 0}, {1, 1}, {3, 0}}},
        RdpCase{"zero_keeps_everything", collinear, 0.0, collinear},
        RdpCase{"negative_zero_keeps_everything", collinear, -0.0, collinear},
        RdpCase{"negative_keeps_everything", collinear, -1.0, collinear},
        RdpCase{"tiny_positive_drops_collinear", collinear, 1e-300, {{0, 0}, {3, 0}}},
        RdpCase{"nan_tolerance_keeps_ends", square, nan, {{0, 0}, {0, 0}}},
        RdpCase{"infinite_tolerance_keeps_ends", {{0, 0}, {1, 5}, {2, 0}}, inf, {{0, 0}, {2, 0}}},
        RdpCase{"one_point_twice", {{4, 2}}, 1.0, {{4, 2}, {4, 2}}},
        RdpCase{"one_point_zero_tolerance", {{4, 2}}, 0.0, {{4, 2}}},
        RdpCase{"two_points", {{4, 2}, {5, 2}}, 1.0, {{4, 2}, {5, 2}}},
        RdpCase{"empty", {}, 1.0, {}},
        RdpCase{"nan_start_never_splits",
                {{nan, 0}, {1, 0}, {1, 1}, {nan, 0}}, 0.5, {{nan, 0}, {nan, 0}}}),
    [](const auto& info) { return info.param.name; });

TEST(Simplify, SimplifiesEveryRingWithTheSameTolerance) {
  const Polygon polygon(LineString{square},
                        {LineString{{{0.2, 0.2}, {0.3, 0.2}, {0.4, 0.2}, {0.4, 0.4}, {0.2, 0.2}}},
                         LineString{}, LineString{{{0.5, 0.5}}}});
  const Polygon result = simplify(polygon, 0.8);
  EXPECT_TRUE(same_bits(result.exterior().coords, std::vector<Coord>{{0, 0}, {1, 1}, {0, 0}}));
  ASSERT_EQ(result.interiors().size(), 3u);
  EXPECT_TRUE(same_bits(result.interiors()[0].coords,
                        std::vector<Coord>{{0.2, 0.2}, {0.2, 0.2}}));
  EXPECT_TRUE(result.interiors()[1].coords.empty());
  EXPECT_TRUE(same_bits(result.interiors()[2].coords, std::vector<Coord>{{0.5, 0.5}, {0.5, 0.5}}));
  // Consuming the polygon gives the same polygon.
  EXPECT_EQ(simplify(Polygon(polygon), 0.8), result);
}

TEST(Simplify, NonPositiveToleranceReturnsThePolygonUnchanged) {
  const Polygon polygon(LineString{square}, {LineString{collinear}});
  EXPECT_EQ(simplify(polygon, 0.0), polygon);
  EXPECT_EQ(simplify(polygon, -0.0), polygon);
  EXPECT_EQ(simplify(polygon, -5.0), polygon);
  EXPECT_EQ(simplify(Polygon(polygon), -0.0), polygon);
}

TEST(Simplify, NanStartRingIsClosedAgainAfterwards) {
  const Polygon polygon(LineString{{{nan, 0}, {1, 0}, {1, 1}}}, {});
  for (const Polygon& result : {simplify(polygon, 0.5), simplify(Polygon(polygon), 0.5)}) {
    EXPECT_TRUE(same_bits(result.exterior().coords, std::vector<Coord>{{nan, 0}, {nan, 0}, {nan, 0}}));
  }
}

// The definition, followed literally, would split a stretch at its own start
// for ever when no inner point beats a negative tolerance. The walk splits
// only at inner points (rdp itself never passes a tolerance <= 0 on).
TEST(ComputeRdp, NegativeToleranceTerminatesAndSplitsOnlyAtInnerPoints) {
  const std::vector<RdpIndex> records{{0, {0, 0}}, {1, {1, 0}}, {2, {2, 0}}, {3, {2, 1}}};
  const std::vector<RdpIndex> kept = compute_rdp(records, -1.0);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].index, 0u);
  EXPECT_EQ(kept[1].index, 2u);
  EXPECT_EQ(kept[2].index, 3u);
  EXPECT_EQ(compute_rdp(std::span(records).first(2), -1.0).size(), 2u);
}

// ---- the walk against the recursive definition --------------------------

std::vector<Coord> random_line(std::mt19937_64& rng, std::size_t n, int style) {
  std::uniform_real_distribution<double> real(-100.0, 100.0);
  std::uniform_int_distribution<int> grid(-4, 4);
  std::vector<Coord> line;
  for (std::size_t i = 0; i < n; ++i) {
    if (style == 0) {
      line.push_back({real(rng), real(rng)});
    } else {
      // A small grid: many duplicates, collinear runs and equal distances.
      line.push_back({double(grid(rng)), double(grid(rng))});
    }
  }
  if (style == 2 && n > 0) {
    // A few non-finite coordinates.
    const double specials[] = {nan, inf, -inf};
    for (int k = 0; k < 2; ++k) line[rng() % n].x = specials[rng() % 3];
  }
  if (n > 1 && rng() % 2 == 0) line.back() = line.front();
  return line;
}

TEST(RdpWalk, MatchesTheRecursiveDefinitionOnRandomLines) {
  std::mt19937_64 rng(11);
  const double tolerances[] = {1e-9, 0.3, 1.0, 1.5, 7.0, 40.0, nan, inf};
  for (int trial = 0; trial < 3000; ++trial) {
    const int style = trial % 3;
    const std::vector<Coord> line = random_line(rng, rng() % 40, style);
    const double tolerance = tolerances[rng() % std::size(tolerances)];
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::vector<Coord> expected_points = reference_rdp(line, tolerance);
    ASSERT_TRUE(same_bits(rdp(line, tolerance), expected_points));
    std::vector<Coord> in_place = line;
    rdp_in_place(in_place, tolerance);
    ASSERT_TRUE(same_bits(in_place, expected_points));

    // compute_rdp copies whole records, whatever their index values.
    std::vector<RdpIndex> records;
    for (std::size_t i = 0; i < line.size(); ++i) records.push_back({1000 + 3 * i, line[i]});
    std::size_t unused = 0;
    const std::vector<RdpIndex> expected = reference_compute_rdp(records, tolerance, 0, unused);
    const std::vector<RdpIndex> kept = compute_rdp(records, tolerance);
    ASSERT_EQ(kept.size(), expected.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
      ASSERT_EQ(kept[i].index, expected[i].index);
      ASSERT_TRUE(same_bits(kept[i].coord, expected[i].coord));
    }
  }
}

// Lines that make the estimate-first search work hardest: equal or nearly
// equal distances, feet exactly at or beside the segment's ends, collinear
// runs, and scales at and just past the ends of the screening range (past
// them the plain scan runs).
std::vector<Coord> screening_line(std::mt19937_64& rng, int kind, double scale) {
  std::vector<Coord> line;
  const std::size_t n = 5 + rng() % 60;
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double a = 2.0 * 3.141592653589793 * double(i) / double(n);
    switch (kind) {
      case 0:  // a regular polygon: many distances equal up to rounding
        line.push_back({scale * std::cos(a), scale * std::sin(a)});
        break;
      case 1:  // feet exactly at 0 and 1 of the segment (0,0)-(scale,0)
        line.push_back({scale * double(rng() % 2), scale * double(int(rng() % 7) - 3)});
        break;
      case 2:  // collinear with the ends
        line.push_back({scale * double(i), 0.0});
        break;
      default:  // random, within a few units of the scale
        line.push_back({scale * unit(rng), scale * unit(rng)});
        break;
    }
  }
  if (kind == 1) {
    line.front() = {0.0, 0.0};
    line.back() = {scale, 0.0};
  }
  if (kind == 0 || rng() % 2 == 0) line.back() = line.front();
  return line;
}

TEST(RdpWalk, EstimateFirstSearchKeepsTheExactChoices) {
  std::mt19937_64 rng(23);
  const double scales[] = {1.0, 0x1p-85, 0x1p85, 0x1p-99, 0x1p99, 0x1p-101, 0x1p101, 1e-7, 123.456};
  for (int trial = 0; trial < 4000; ++trial) {
    const double scale = scales[rng() % std::size(scales)];
    const int kind = static_cast<int>(rng() % 4);
    const std::vector<Coord> line = screening_line(rng, kind, scale);
    // Tolerances at the distance the first split is decided on, and a unit
    // in the last place either side, besides ordinary and unusable ones.
    double first = 0.0;
    for (std::size_t i = 1; i + 1 < line.size(); ++i) {
      first = std::max(first, point_line_euclidean_distance(line.front(), line.back(), line[i]));
    }
    for (const double tolerance : {scale * 1e-3, scale * 0.3, 0x1p-1074, first, std::nextafter(first, 0.0),
                                   std::nextafter(first, inf)}) {
      SCOPED_TRACE("trial " + std::to_string(trial) + " kind " + std::to_string(kind));
      const std::vector<Coord> expected = reference_rdp(line, tolerance);
      ASSERT_TRUE(same_bits(rdp(line, tolerance), expected));
      std::vector<Coord> in_place = line;
      rdp_in_place(in_place, tolerance);
      ASSERT_TRUE(same_bits(in_place, expected));
    }
  }
}

// The lanes must tell exactly what the one-at-a-time estimates tell.
TEST(RdpWalk, LaneEstimatesAgreeWithOneAtATime) {
  using Lanes = std::size_t (*)(const Coord*, std::size_t, std::size_t, StretchEstimates&);
  std::vector<Lanes> widths = {estimate_stretch_two_lanes};
  if (four_lanes_supported()) widths.push_back(estimate_stretch_four_lanes);
  std::mt19937_64 rng(29);
  for (int trial = 0; trial < 3000; ++trial) {
    const std::vector<Coord> line = screening_line(rng, static_cast<int>(rng() % 4), trial % 2 ? 1.0 : 1e-3);
    const std::size_t lo = rng() % 3;
    const std::size_t hi = line.size() - 1 - rng() % 3;
    StretchEstimates expected;
    expected.at = lo;
    estimate_stretch(ContiguousCoords{line.data()}, lo, lo + 1, hi, expected);
    for (Lanes lanes : widths) {
      StretchEstimates got;
      got.at = lo;
      const std::size_t first = lanes(line.data(), lo, hi, got);
      estimate_stretch(ContiguousCoords{line.data()}, lo, first, hi, got);
      SCOPED_TRACE("trial " + std::to_string(trial));
      ASSERT_EQ(got.top, expected.top);
      ASSERT_EQ(got.second, expected.second);
      if (expected.second < expected.top) {
        ASSERT_EQ(got.at, expected.at);
      }
      ASSERT_EQ(got.scale, expected.scale);
      ASSERT_EQ(got.near_an_end, expected.near_an_end);
    }
  }
}

TEST(RdpWalk, KeepsEndsAndInputOrder) {
  std::mt19937_64 rng(5);
  for (int trial = 0; trial < 500; ++trial) {
    const std::vector<Coord> line = random_line(rng, 1 + rng() % 60, 0);
    const double tolerance = 0.5 + double(rng() % 50);
    std::vector<RdpIndex> records;
    for (std::size_t i = 0; i < line.size(); ++i) records.push_back({i, line[i]});
    const std::vector<RdpIndex> kept = compute_rdp(records, tolerance);
    ASSERT_GE(kept.size(), 2u);
    EXPECT_EQ(kept.front().index, 0u);
    EXPECT_EQ(kept.back().index, line.size() - 1);
    for (std::size_t i = 1; i + 1 < kept.size(); ++i) {
      ASSERT_LT(kept[i - 1].index, kept[i].index);
    }
  }
}

// ---- depth: no recursion on the thread's stack --------------------------

constexpr std::size_t small_stack = 256 * 1024;
constexpr std::size_t big_stack = 512 * 1024 * 1024;

// A closed square spiral growing 3% a point: every split of every stretch
// falls on the point just before the stretch's end, so the recursion goes
// about n deep (n^2/2 distance evaluations, hence the modest n).
std::vector<Coord> end_splitting_ring(std::size_t n) {
  std::vector<Coord> ring;
  double radius = 1.0;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Coord directions[] = {{radius, 0}, {0, radius}, {-radius, 0}, {0, -radius}};
    ring.push_back(directions[i % 4]);
    radius *= 1.03;
  }
  ring.push_back(ring.front());
  return ring;
}

TEST(RdpWalk, RingThatSplitsAtEveryEndRunsOnASmallStack) {
  const std::vector<Coord> ring = end_splitting_ring(10'000);
  std::vector<Coord> expected;
  std::size_t depth = 0;
  run_with_stack(big_stack, [&] { expected = reference_rdp(ring, 0.01, &depth); });
  ASSERT_GT(depth, 9'500u);  // a recursive walk would need depth frames

  std::vector<Coord> kept;
  run_with_stack(small_stack, [&] { kept = rdp(ring, 0.01); });
  EXPECT_TRUE(same_bits(kept, expected));
}

TEST(RdpWalk, MillionPointRingRunsOnASmallStack) {
  std::mt19937_64 rng(17);
  std::normal_distribution<double> noise(0.0, 0.5);
  const std::size_t n = 1'000'000;
  std::vector<Coord> ring;
  ring.reserve(n);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double angle = 6.283185307179586 * double(i) / double(n - 1);
    ring.push_back({1000.0 * std::cos(angle) + noise(rng), 1000.0 * std::sin(angle) + noise(rng)});
  }
  ring.push_back(ring.front());
  const Polygon polygon(LineString{ring}, {});

  std::vector<Coord> expected;
  run_with_stack(big_stack, [&] { expected = reference_rdp(ring, 0.25); });
  ASSERT_GT(expected.size(), 1000u);

  Polygon result;
  run_with_stack(small_stack, [&] { result = simplify(polygon, 0.25); });
  EXPECT_TRUE(same_bits(result.exterior().coords, expected));
}

}  // namespace
}  // namespace quillmere
