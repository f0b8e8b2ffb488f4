#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "ragged/ragged.hpp"

namespace quillmere::ragged {
namespace {

// Two multipolygons: {square with a 3-point hole, triangle}, {empty polygon}.
struct Fixture {
  std::vector<double> coords{0, 0, 4, 0, 4, 4, 0, 0, 1, 1, 2, 1, 1, 1, 5, 5, 6, 5, 6, 6, 5, 5};
  std::vector<std::int32_t> rings{0, 4, 7, 11};
  std::vector<std::int64_t> polygons{0, 2, 3, 3};
  std::vector<std::int32_t> multis{0, 2, 3};
  Arrays arrays() const {
    return Arrays{Kind::MultiPolygon, coords.data(), coords.size() / 2,
                  {Offsets{rings.data(), rings.size(), false}, Offsets{polygons.data(), polygons.size(), true},
                   Offsets{multis.data(), multis.size(), false}}};
  }
};

TEST(Ragged, ReadsPolygonsAcrossOffsetWidths) {
  Fixture f;
  Arrays a = f.arrays();
  ASSERT_FALSE(check(a));
  ASSERT_EQ(polygon_count(a), 3u);
  Polygon first = read_polygon(a, 0);
  EXPECT_EQ(first.exterior().coords.size(), 4u);
  ASSERT_EQ(first.interiors().size(), 1u);
  EXPECT_EQ(first.interiors()[0].coords.size(), 3u);
  EXPECT_TRUE(read_polygon(a, 2).is_empty());
}

TEST(Ragged, ChecksNameTheArrayAndPosition) {
  Fixture f;
  f.polygons[2] = 4;  // past the 3 rings
  EXPECT_EQ(*check(f.arrays()), "offsets[1] points past offsets[0] at position 2 (4 > 3)");
  Fixture g;
  g.rings[2] = 3;
  EXPECT_EQ(*check(g.arrays()), "offsets[0] decreases at position 2 (3)");
}

TEST(Ragged, DroppedPolygonsLeaveTheirMultipolygonAndOffsetsFollow) {
  Fixture f;
  Arrays a = f.arrays();
  std::vector<Polygon> results{read_polygon(a, 0), Polygon(), read_polygon(a, 1)};
  Layout layout = plan_output(a, results, true);
  EXPECT_EQ(layout.num_polygons, 2u);
  EXPECT_EQ(layout.num_rings, 3u);
  EXPECT_EQ(layout.num_coords, 11u);
  std::vector<std::int64_t> polygon_offsets(layout.num_polygons + 1), multi_offsets(f.multis.size());
  write_outer_offsets(a, results, true, polygon_offsets.data(), multi_offsets.data());
  EXPECT_EQ(polygon_offsets, (std::vector<std::int64_t>{0, 2, 3}));
  EXPECT_EQ(multi_offsets, (std::vector<std::int64_t>{0, 1, 2}));
  std::vector<double> coords(2 * layout.num_coords);
  std::vector<std::int64_t> ring_offsets(layout.num_rings + 1);
  for (std::size_t p = 0; p < results.size(); ++p) write_polygon(results[p], layout.places[p], coords.data(), ring_offsets.data());
  EXPECT_EQ(ring_offsets[2], 7);
  EXPECT_EQ(coords[14], 5.0);

  Layout kept = plan_output(a, results, false);
  EXPECT_EQ(kept.num_polygons, 3u);
}

}  // namespace
}  // namespace quillmere::ragged
