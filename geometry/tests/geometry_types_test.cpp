#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/geometry.hpp"
#include "test_support.hpp"

namespace quillmere {
namespace {

using testing_support::same_bits;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct EqualityCase {
  Coord a, b;
  bool equal;
};

class CoordEquality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(CoordEquality, IsIeeeEqualityOfBothComponents) {
  EXPECT_EQ(GetParam().a == GetParam().b, GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(Table, CoordEquality,
                         ::testing::Values(EqualityCase{{1, 2}, {1, 2}, true},
                                           EqualityCase{{0.0, -0.0}, {-0.0, 0.0}, true},
                                           EqualityCase{{nan, 0}, {nan, 0}, false},
                                           EqualityCase{{0, nan}, {0, nan}, false},
                                           EqualityCase{{1, 2}, {2, 1}, false}));

TEST(Polygon, ConstructionClosesOnlyRingsWhoseEndsDiffer) {
  const Polygon p(LineString{{{0, 0}, {1, 0}, {1, 1}}},
                  {LineString{}, LineString{{{5, 5}}}, LineString{{{0, 0}, {1, 0}, {-0.0, 0}}},
                   LineString{{{nan, 0}, {1, 0}, {nan, 0}}}});
  EXPECT_TRUE(same_bits(p.exterior().coords, std::vector<Coord>{{0, 0}, {1, 0}, {1, 1}, {0, 0}}));
  EXPECT_TRUE(p.interiors()[0].coords.empty());
  EXPECT_EQ(p.interiors()[1].coords.size(), 1u);
  EXPECT_EQ(p.interiors()[2].coords.size(), 3u);
  EXPECT_EQ(p.interiors()[3].coords.size(), 4u);
}

}  // namespace
}  // namespace quillmere
