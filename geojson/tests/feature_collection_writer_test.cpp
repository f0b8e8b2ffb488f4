#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "geojson/geojson.hpp"

namespace quillmere::geojson {
namespace {

using json::Arena;
using json::Member;
using json::Value;

Polygon polygon(std::vector<Coord> exterior, std::vector<std::vector<Coord>> interiors = {}) {
  std::vector<LineString> rings;
  for (auto& ring : interiors) rings.push_back(LineString{std::move(ring)});
  return Polygon(LineString{std::move(exterior)}, std::move(rings));
}

// The collection as its JSON object tree, members inserted in the model's
// order (the object sorts them), written by the general writer.
std::string through_the_model(std::span<const Polygon> polygons) {
  Arena arena;
  auto ring_value = [&](const LineString& ring) {
    std::vector<Value> positions;
    for (const Coord& c : ring.coords) {
      Value xy[] = {Value::floating(c.x), Value::floating(c.y)};
      positions.push_back(arena.make_array(xy));
    }
    return arena.make_array(positions);
  };
  std::vector<Value> features;
  for (const Polygon& p : polygons) {
    std::vector<Value> rings{ring_value(p.exterior())};
    for (const LineString& ring : p.interiors()) rings.push_back(ring_value(ring));
    Member geometry[] = {{"type", Value::string("Polygon")}, {"coordinates", arena.make_array(rings)}};
    Member feature[] = {{"type", Value::string("Feature")},
                        {"geometry", arena.make_object(geometry)},
                        {"properties", arena.make_object({})}};
    features.push_back(arena.make_object(feature));
  }
  Member collection[] = {{"type", Value::string("FeatureCollection")}, {"features", arena.make_array(features)}};
  return json::to_string(arena.make_object(collection));
}

TEST(FeatureCollectionText, TriangleExample) {
  std::vector<Polygon> polygons{polygon({{0, 0}, {1, 0}, {1, 1}})};
  EXPECT_EQ(write_feature_collection(polygons),
            R"({"features":[{"geometry":{"coordinates":[[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,0.0]]],"type":"Polygon"},)"
            R"("properties":{},"type":"Feature"}],"type":"FeatureCollection"})");
}

TEST(FeatureCollectionText, EmptyListAndEmptyRing) {
  EXPECT_EQ(write_feature_collection({}), R"({"features":[],"type":"FeatureCollection"})");
  std::vector<Polygon> empty{Polygon()};
  EXPECT_EQ(write_feature_collection(empty),
            R"({"features":[{"geometry":{"coordinates":[[]],"type":"Polygon"},"properties":{},"type":"Feature"}],)"
            R"("type":"FeatureCollection"})");
}

TEST(FeatureCollectionText, NumbersHolesAndNonFiniteValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Polygon> polygons{
      polygon({{2, -0.0}, {1e16, 1e15}, {1e-5, 1e-6}, {nan, inf}}, {{{0.5, 0.5}}, {{-inf, 3}, {4, 5}}})};
  EXPECT_EQ(write_feature_collection(polygons),
            R"({"features":[{"geometry":{"coordinates":[[[2.0,-0.0],[1e16,1000000000000000.0],[0.00001,1e-6],)"
            R"([null,null],[2.0,-0.0]],[[0.5,0.5]],[[null,3.0],[4.0,5.0],[null,3.0]]],"type":"Polygon"},)"
            R"("properties":{},"type":"Feature"}],"type":"FeatureCollection"})");
}

TEST(FeatureCollectionText, MatchesTheModelWrittenByTheGeneralWriter) {
  std::vector<Polygon> polygons;
  // Enough points to cross the writer's internal buffer several times.
  std::vector<Coord> big;
  for (int i = 0; i < 20000; ++i) big.push_back({i * 0.1 - 1000.0, std::sin(i) * 1e-7});
  polygons.push_back(polygon(big, {{{1, 2}, {3, 4}}}));
  polygons.push_back(Polygon());
  polygons.push_back(polygon({{-1.7976931348623157e308, 5e-324}, {123456.789, -0.000123}}));
  EXPECT_EQ(write_feature_collection(polygons), through_the_model(polygons));
}

TEST(FeatureCollectionText, OutgrowsItsSizeEstimate) {
  // The estimate samples every second position here, all of them short.
  std::vector<Coord> ring;
  for (int i = 0; i < 4096; ++i) {
    ring.push_back(i % 2 == 0 ? Coord{0, 0} : Coord{-1.2345678901234567e-300, 9.87654321012345e-299});
  }
  std::vector<Polygon> polygons{polygon(ring)};
  std::string text = write_feature_collection(polygons);
  EXPECT_EQ(text, through_the_model(polygons));
  EXPECT_GT(text.size(), 4096u * 25);
}

}  // namespace
}  // namespace quillmere::geojson
