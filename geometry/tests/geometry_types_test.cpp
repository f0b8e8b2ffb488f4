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

TEST(Polygon, DropShortRingsKeepsRingsOfFourAndEmptiesWithoutExterior) {
  const LineString two{{{0, 0}, {1, 0}}};
  const LineString nan_ring{{{nan, 0}, {1, 0}, {2, 2}, {nan, 0}}};  // ends differ; not closed again
  Polygon p(LineString{{{0, 0}, {4, 0}, {4, 4}, {0, 0}}}, {two, nan_ring, LineString{}});
  const std::size_t nan_size = p.interiors()[1].coords.size();
  p.drop_short_rings(4);
  ASSERT_EQ(p.interiors().size(), 1u);
  EXPECT_EQ(p.interiors()[0].coords.size(), nan_size);
  EXPECT_FALSE(p.is_empty());

  Polygon collapsed(two, {nan_ring});
  collapsed.drop_short_rings(4);
  EXPECT_TRUE(collapsed.is_empty());
  EXPECT_TRUE(collapsed.interiors().empty());
}

}  // namespace
}  // namespace quillmere
