// The batch step against a one-polygon-at-a-time reference, on pools of
// several sizes, for polygons of very different sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "pipeline/pipelines.hpp"
#include "pool/pool.hpp"

namespace quillmere {
namespace {

// Bit-for-bit equality (NaN coordinates included, -0.0 told from 0.0).
bool same_bits(const LineString& a, const LineString& b) {
  return a.coords.size() == b.coords.size() &&
         (a.coords.empty() || std::memcmp(a.coords.data(), b.coords.data(), a.coords.size() * sizeof(Coord)) == 0);
}
bool same_bits(const Polygon& a, const Polygon& b) {
  if (!same_bits(a.exterior(), b.exterior()) || a.interiors().size() != b.interiors().size()) return false;
  for (std::size_t i = 0; i < a.interiors().size(); ++i)
    if (!same_bits(a.interiors()[i], b.interiors()[i])) return false;
  return true;
}

LineString wobbly_ring(std::mt19937_64& random, std::size_t points, double cx, double cy, double radius) {
  LineString ring;
  std::uniform_real_distribution<double> jitter(0.8, 1.2);
  for (std::size_t i = 0; i < points; ++i) {
    double angle = 6.283185307179586 * static_cast<double>(i) / static_cast<double>(points);
    double r = radius * jitter(random);
    ring.coords.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle)});
  }
  return ring;
}

// Sizes from empty and one-point rings to rings of thousands of points,
// with and without holes, in an order that mixes them.
std::vector<Polygon> mixed_polygons(std::size_t count) {
  std::mt19937_64 random(7);
  std::vector<Polygon> polygons;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t kind = i % 11;
    std::size_t points = kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? 2 : kind < 8 ? 3 + random() % 40 : 200 + random() % 3000;
    double cx = static_cast<double>(i % 100), cy = static_cast<double>(i / 100);
    std::vector<LineString> holes;
    if (kind % 3 == 0 && points > 3) {
      holes.push_back(wobbly_ring(random, points / 2 + 3, cx, cy, 0.2));
      holes.push_back(LineString{});
    }
    polygons.emplace_back(wobbly_ring(random, points, cx, cy, 1.0), std::move(holes));
  }
  return polygons;
}

Polygon reference(const Polygon& p, std::uint64_t passes, double tolerance) {
  return passes == 0 ? simplify(p, tolerance) : simplify(chaikin_smoothing(p, passes), tolerance);
}

TEST(SmoothSimplifyPolygons, EmptyListGivesEmptyList) {
  EXPECT_TRUE(smooth_simplify_polygons({}, 3, 1.0).empty());
  EXPECT_TRUE(smooth_simplify_polygons({}, 0, 0.0).empty());
}

TEST(SmoothSimplifyPolygons, MatchesThePerPolygonStepOnEveryPoolSize) {
  const std::vector<Polygon> input = mixed_polygons(700);
  pool::ThreadPool pools[] = {pool::ThreadPool(1), pool::ThreadPool(2), pool::ThreadPool(8)};
  struct Case {
    std::uint64_t passes;
    double tolerance;
  };
  const Case cases[] = {
      {0, 0.01}, {1, 0.01}, {3, 0.001}, {2, 0.0}, {1, -1.0}, {2, std::numeric_limits<double>::quiet_NaN()}, {0, 5.0},
  };
  for (const Case& c : cases) {
    std::vector<Polygon> expected;
    for (const Polygon& p : input) expected.push_back(reference(p, c.passes, c.tolerance));
    for (pool::ThreadPool& pool : pools) {
      pool::ScopedPool use(pool);
      std::vector<Polygon> out = smooth_simplify_polygons(input, c.passes, c.tolerance);
      ASSERT_EQ(out.size(), input.size());
      for (std::size_t i = 0; i < out.size(); ++i) {
        ASSERT_TRUE(same_bits(out[i], expected[i]))
            << "polygon " << i << ", passes " << c.passes << ", tolerance " << c.tolerance << ", T "
            << pool.num_threads();
      }
    }
  }
}

TEST(SmoothSimplifyPolygons, NoSimplificationLeavesTheSmoothedRings) {
  const std::vector<Polygon> input = mixed_polygons(60);
  for (double tolerance : {0.0, -2.5}) {
    std::vector<Polygon> out = smooth_simplify_polygons(input, 2, tolerance);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(same_bits(out[i], chaikin_smoothing(input[i], 2))) << i;
  }
}

}  // namespace
}  // namespace quillmere
