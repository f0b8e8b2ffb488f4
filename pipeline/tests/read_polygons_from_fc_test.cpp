#include <gtest/gtest.h>

#include <string>

#include "common/stop.hpp"
#include "pipeline/pipelines.hpp"

namespace quillmere {
namespace {

std::string fc(std::string_view features) {
  return R"({"type":"FeatureCollection","features":[)" + std::string(features) + "]}";
}
std::string feature(std::string_view geometry) {
  return R"({"type":"Feature","properties":{"name":"x"},"geometry":)" + std::string(geometry) + "}";
}
std::string polygon(std::string_view rings) {
  return R"({"type":"Polygon","coordinates":)" + std::string(rings) + "}";
}

std::string stop_message(std::string_view text) {
  try {
    read_polygons_from_feature_collection(text);
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "no stop";
}

LineString line(std::vector<Coord> coords) { return LineString{std::move(coords)}; }

TEST(ReadPolygonsFromFc, PolygonsInDocumentOrderWithMultiPolygonsExpanded) {
  std::string text = fc(feature(polygon("[[[0,0],[1,0],[1,1]]]")) + "," +
                        feature(R"({"type":"MultiPolygon","coordinates":[[[[2,2],[3,2],[2,2]]],[],[[[4,4,9],[5,4],[4,5]],[[4.5,4.5]]]]})") +
                        "," + feature("null") + "," + feature(R"({"type":"Point","coordinates":[1,2]})") + "," +
                        feature(R"({"type":"GeometryCollection","geometries":[)" + polygon("[[[9,9]]]") + "]}") + "," +
                        feature(polygon("[[[-1,-1],[-2,-1],[-1,-1]]]")));
  auto polygons = read_polygons_from_feature_collection(text);
  ASSERT_TRUE(polygons.has_value());
  std::vector<Polygon> expected{
      Polygon(line({{0, 0}, {1, 0}, {1, 1}, {0, 0}}), {}),
      Polygon(line({{2, 2}, {3, 2}, {2, 2}}), {}),
      Polygon(),
      Polygon(line({{4, 4}, {5, 4}, {4, 5}, {4, 4}}), {line({{4.5, 4.5}})}),
      Polygon(line({{-1, -1}, {-2, -1}, {-1, -1}}), {}),
  };
  EXPECT_EQ(*polygons, expected);
}

TEST(ReadPolygonsFromFc, AbsentForAValidFeatureOrGeometry) {
  EXPECT_FALSE(read_polygons_from_feature_collection(feature(polygon("[]"))).has_value());
  EXPECT_FALSE(read_polygons_from_feature_collection(polygon("[]")).has_value());
  auto empty = read_polygons_from_feature_collection(fc(""));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST(ReadPolygonsFromFc, StopMessages) {
  const std::string prefix = "called `Result::unwrap()` on an `Err` value: ";
  EXPECT_EQ(stop_message("[]"), prefix + "ExpectedObjectValue(Array [])");
  EXPECT_EQ(stop_message("{\"type\":"), prefix + "MalformedJson(Error(\"EOF while parsing a value\", line: 1, column: 8))");
  EXPECT_EQ(stop_message(fc(feature(polygon("[[[1]]]")))), "index out of bounds: the len is 1 but the index is 1");
  EXPECT_EQ(stop_message(fc(feature(polygon("[[[0,0]],[[]]]")))), "index out of bounds: the len is 0 but the index is 0");
  // Decoding checks the whole document before any polygon is built.
  EXPECT_EQ(stop_message(fc(feature(polygon("[[[1]]]")) + ",5")), prefix + "ExpectedObjectValue(Number(5))");
  // Short positions in skipped geometries pass.
  EXPECT_EQ(stop_message(fc(feature(R"({"type":"LineString","coordinates":[[1]]})"))), "no stop");
  EXPECT_EQ(stop_message(feature(polygon("[[[1]]]"))), "no stop");
}

}  // namespace
}  // namespace quillmere
