#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/stop.hpp"
#include "pipeline/pipelines.hpp"

namespace quillmere {
namespace {

std::string stop_of(const std::vector<std::string_view>& texts) {
  try {
    read_polygons_from_wkts(texts);
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "(read)";
}

TEST(ReadPolygonsFromWkts, EmptyListGivesEmptyList) { EXPECT_TRUE(read_polygons_from_wkts({}).empty()); }

TEST(ReadPolygonsFromWkts, ReadsEveryTextInOrder) {
  std::vector<std::string> owned;
  for (int i = 0; i < 5000; ++i) {
    // Sizes vary a lot, so pieces finish out of order.
    std::string text = "POLYGON((" + std::to_string(i) + " 0";
    for (int j = 0; j < (i % 97) * 3; ++j) text += "," + std::to_string(j) + " 1";
    owned.push_back(text + "))");
  }
  const std::vector<std::string_view> texts(owned.begin(), owned.end());
  const auto polygons = read_polygons_from_wkts(texts);
  ASSERT_EQ(polygons.size(), texts.size());
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(polygons[i].exterior().coords.front().x, i);
    ASSERT_EQ(polygons[i].exterior().coords.size(), static_cast<std::size_t>((i % 97) * 3 + (i % 97 ? 2 : 1)));
  }
}

TEST(ReadPolygonsFromWkts, LowestIndexFailureWins) {
  EXPECT_EQ(stop_of({"POLYGON((0 0,1 0,1 1,0 0))", "x", "POINT(1 2)"}),
            "Unable to parse Polygon from WKT: \"Invalid type encountered\"");
  // Many failures far apart: always the first one's message.
  std::vector<std::string_view> texts(20000, "POLYGON((0 0,1 0,1 1,0 0))");
  texts[2] = "POINT(1 2)";
  texts[6] = "";
  for (std::size_t i = 100; i < texts.size(); i += 37) texts[i] = "LINESTRING(0 0,1 1)";
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(stop_of(texts),
              "Unable to read Polygon from WKT: MismatchedGeometry { expected: "
              "\"geo_types::geometry::polygon::Polygon\", found: \"geo_types::geometry::point::Point\" }");
  }
  texts[2] = "POLYGON EMPTY";
  texts.back() = "POLYGON";
  EXPECT_EQ(stop_of(texts), "Unable to parse Polygon from WKT: \"Invalid WKT format\"");
}

}  // namespace
}  // namespace quillmere
