#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <variant>

#include "geojson/geojson.hpp"
#include "geojson/rewrite.hpp"

namespace quillmere::geojson {
namespace {

TEST(MemberArraySpans, EveryMemberArrayIsFoundInTheText) {
  const std::string text = R"( {"a" : [1, [2]] ,"b":{"c":[ ]},"d":"[x]","e":[],"a\u0062":[3]} )";
  std::vector<json::ArraySpan> spans;
  auto parsed = json::from_str(text, json::ParseOptions{&spans, nullptr});
  ASSERT_TRUE(std::holds_alternative<json::Document>(parsed));
  std::vector<std::string> texts;
  for (const auto& span : spans) texts.push_back(text.substr(span.begin, span.end - span.begin));
  EXPECT_EQ(texts, (std::vector<std::string>{"[1, [2]]", "[ ]", "[]", "[3]"}));
  // Each one is found by its value's storage; the empty ones have their own.
  const json::Value& root = std::get<json::Document>(parsed).root();
  EXPECT_EQ(root.find("a")->elements().data(), spans[0].storage);
  EXPECT_EQ(root.find("b")->find("c")->elements().data(), spans[1].storage);
  EXPECT_EQ(root.find("e")->elements().data(), spans[2].storage);
  EXPECT_EQ(root.find("ab")->elements().data(), spans[3].storage);
  EXPECT_NE(spans[1].storage, spans[2].storage);
}

TEST(MemberArraySpans, SameDocumentAndErrorsWithOrWithout) {
  for (std::string text : {R"({"a":[1,2],"b":[[1.5e3,-0]]})", R"({"a":[1,2,]})", R"([1,{"x":[}])", ""}) {
    std::vector<json::ArraySpan> spans;
    auto with = json::from_str(text, json::ParseOptions{&spans, nullptr});
    auto without = json::from_str(text);
    ASSERT_EQ(with.index(), without.index()) << text;
    if (auto* error = std::get_if<json::Error>(&with)) {
      EXPECT_EQ(*error, std::get<json::Error>(without));
    } else {
      EXPECT_EQ(json::to_string(std::get<json::Document>(with).root()),
                json::to_string(std::get<json::Document>(without).root()));
    }
  }
}

TEST(Cancellation, ASetFlagEndsTheParse) {
  std::string text = "[";
  for (int i = 0; i < 100000; ++i) text += "[1,2],";
  text += "[1,2]]";
  std::atomic<bool> cancelled{true};
  EXPECT_THROW(json::from_str(text, json::ParseOptions{nullptr, &cancelled}), json::Cancelled);
  cancelled = false;
  EXPECT_TRUE(std::holds_alternative<json::Document>(json::from_str(text, json::ParseOptions{nullptr, &cancelled})));
}

TEST(CheckGeoJson, CollectsPolygonalGeometriesAtAnyDepthInOrder) {
  const std::string text = R"({"type":"GeometryCollection","geometries":[
    {"type":"Polygon","coordinates":[[[1,1]]]},
    {"type":"GeometryCollection","geometries":[{"type":"MultiPolygon","coordinates":[[[[2,2]]]]},
                                              {"type":"Point","coordinates":[0,0]}]},
    {"type":"Polygon","coordinates":[[[3,3]]]}]})";
  auto parsed = json::from_str(text);
  std::vector<PolygonalGeometry> found;
  GeoJsonKind kind;
  ASSERT_FALSE(check_geojson(std::get<json::Document>(parsed).root(), kind, found).has_value());
  EXPECT_EQ(kind, GeoJsonKind::Geometry);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_FALSE(found[0].multi);
  EXPECT_TRUE(found[1].multi);
  EXPECT_EQ(json::to_string(found[2].coordinates), "[[[3,3]]]");
}

TEST(CheckGeoJson, SameErrorsAsTheDecoder) {
  for (std::string text : {"[]", "{}", R"({"type":"Feature"})", R"({"type":"Feature","geometry":{"type":"Polygon"}})",
                           R"({"type":"FeatureCollection","features":[{"type":"Feature","geometry":null,"id":null}]})"}) {
    auto parsed = json::from_str(text);
    std::vector<PolygonalGeometry> found;
    GeoJsonKind kind;
    auto error = check_geojson(std::get<json::Document>(parsed).root(), kind, found);
    auto decoded = from_str(text);
    if (auto* expected = std::get_if<Error>(&decoded)) {
      ASSERT_TRUE(error.has_value()) << text;
      EXPECT_EQ(error->debug(), expected->debug());
    } else {
      EXPECT_FALSE(error.has_value()) << text;
    }
  }
}

// A transform that leaves every polygon as it is, or one that keeps only
// the first two positions of each ring, closed again to three (so every ring
// collapses).
void identity(void*, Polygon&) {}
void two_positions(void*, Polygon& polygon) {
  auto [exterior, interiors] = std::move(polygon).into_rings();
  if (exterior.coords.size() > 2) exterior.coords.resize(2);
  for (auto& ring : interiors) {
    if (ring.coords.size() > 2) ring.coords.resize(2);
  }
  polygon = Polygon(std::move(exterior), std::move(interiors));
}

std::string rewritten(std::string_view text, bool keep = false, std::size_t parallel_from = 1 << 20,
                      void (*transform)(void*, Polygon&) = identity) {
  RewriteOptions options;
  options.transform = transform;
  options.keep_collapsed = keep;
  options.parallel_from_bytes = parallel_from;
  std::string out = "<";
  std::string reason;
  if (!rewrite_geojson(text, options, out, reason)) {
    EXPECT_EQ(out, "<");  // left as it was
    return "error: " + reason;
  }
  return out;
}

TEST(Rewrite, OnlyPolygonalCoordinatesAreReplaced) {
  EXPECT_EQ(rewritten(R"( {"type" : "Polygon" , "bbox":[0,0,1,1], "coordinates" : [ [ [0,0,7] , [1,0] , [1,1] ] ] } )"),
            R"(< {"type" : "Polygon" , "bbox":[0,0,1,1], "coordinates" : [[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,0.0]]] } )");
  EXPECT_EQ(rewritten(R"({"type":"Feature","geometry":{"type":"LineString","coordinates":[[0,0],[1,1]]},"x":[1]})"),
            R"(<{"type":"Feature","geometry":{"type":"LineString","coordinates":[[0,0],[1,1]]},"x":[1]})");
  EXPECT_EQ(rewritten(R"({"type":"MultiPolygon","coordinates":[[],[[[1e0,2E1],[3,4],[5,6]]]]})", true),
            R"(<{"type":"MultiPolygon","coordinates":[[[]],[[[1.0,20.0],[3.0,4.0],[5.0,6.0],[1.0,20.0]]]]})");
}

TEST(Rewrite, CollapsedRingsAndPolygons) {
  const std::string text = R"({"type":"MultiPolygon","coordinates":[[[[0,0],[9,0],[9,9],[0,0]],[[1,1],[2,1],[2,2],[1,1]]],[[[5,5],[6,5],[6,6],[5,5]]]]})";
  EXPECT_EQ(rewritten(text, false, 1 << 20, two_positions), R"(<{"type":"MultiPolygon","coordinates":[]})");
  EXPECT_EQ(rewritten(text, true, 1 << 20, two_positions),
            R"(<{"type":"MultiPolygon","coordinates":[[[[0.0,0.0],[9.0,0.0],[0.0,0.0]],[[1.0,1.0],[2.0,1.0],[1.0,1.0]]],[[[5.0,5.0],[6.0,5.0],[5.0,5.0]]]]})");
  EXPECT_EQ(rewritten(text, false, 0, two_positions), R"(<{"type":"MultiPolygon","coordinates":[]})");
  EXPECT_EQ(rewritten(R"({"type":"Polygon","coordinates":[[[0,0],[9,0],[9,9],[0,0]]]})", false, 1 << 20, two_positions),
            R"(<{"type":"Polygon","coordinates":[]})");
}

TEST(Rewrite, InvalidTextsLeaveTheOutputAlone) {
  EXPECT_EQ(rewritten(R"({"type":"Polygon","coordinates":[[[0,0],[1]]]})"),
            "error: index out of bounds: the len is 1 but the index is 1");
  EXPECT_EQ(rewritten(R"({"type":"Polygon","coordinates":[[[0,0],[1]]]})", false, 0),
            "error: index out of bounds: the len is 1 but the index is 1");
  EXPECT_EQ(rewritten("{"), "error: called `Result::unwrap()` on an `Err` value: MalformedJson(Error(\"EOF while "
                            "parsing an object\", line: 1, column: 1))");
  EXPECT_EQ(rewritten(R"({"type":"Polygon","coordinates":7})"),
            "error: called `Result::unwrap()` on an `Err` value: ExpectedArrayValue(\"None\")");
}

// Random documents: the parallel path writes exactly what the serial one
// does, and a rewrite of the rewrite changes nothing more.
TEST(Rewrite, ParallelAndSerialPathsAgree) {
  std::mt19937 random(9);
  for (int round = 0; round < 200; ++round) {
    std::string text = R"({"type":"FeatureCollection","features":[)";
    const int features = 1 + static_cast<int>(random() % 12);
    for (int f = 0; f < features; ++f) {
      if (f) text += ",";
      const bool multi = random() % 2;
      text += R"({"type":"Feature","properties":{"f":)" + std::to_string(f) + R"(},"geometry":{"type":")" +
              (multi ? "MultiPolygon" : "Polygon") + R"(","coordinates":)" + (multi ? "[" : "");
      const int polygons = multi ? static_cast<int>(random() % 4) : 1;
      for (int p = 0; p < polygons; ++p) {
        if (p) text += ",";
        text += "[";
        const int rings = static_cast<int>(random() % 3);
        for (int r = 0; r < rings; ++r) {
          if (r) text += ",";
          text += "[";
          const int positions = static_cast<int>(random() % 7);
          for (int i = 0; i < positions; ++i) {
            if (i) text += ",";
            text += "[" + std::to_string(static_cast<int>(random() % 200) - 100) + "." +
                    std::to_string(random() % 1000) + "," + std::to_string(random() % 90) + "]";
          }
          text += "]";
        }
        text += "]";
      }
      text += std::string(multi ? "]" : "") + "}}";
    }
    text += "]}";
    for (bool keep : {false, true}) {
      const std::string serial = rewritten(text, keep, 1 << 20, two_positions);
      ASSERT_EQ(rewritten(text, keep, 0, two_positions), serial) << text;
      if (serial.rfind("error", 0) == 0) continue;
      const std::string again = rewritten(std::string_view(serial).substr(1), keep, 1 << 20, two_positions);
      ASSERT_EQ(again, serial) << text;
    }
  }
}

// The claim that keeps every bbox valid: each Chaikin point lies between the
// two points it is made from, coordinate by coordinate, after rounding too.
TEST(Rewrite, SmoothingStaysWithinTheExtent) {
  std::mt19937_64 random(1);
  std::uniform_int_distribution<int> exponent(-1074, 1023);
  for (int round = 0; round < 200000; ++round) {
    const double a = std::ldexp(static_cast<double>(random() >> 11) / 9007199254740992.0, exponent(random)) *
                     (random() % 2 ? 1 : -1);
    double b = a;
    for (int steps = static_cast<int>(random() % 6); steps > 0; --steps) {
      b = std::nextafter(b, random() % 2 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity());
    }
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    LineString line{{Coord{a, b}, Coord{b, a}, Coord{a, a}}};
    for (const Coord& c : chaikin_smoothing(line, 2).coords) {
      ASSERT_GE(c.x, std::min(a, b));
      ASSERT_LE(c.x, std::max(a, b));
      ASSERT_GE(c.y, std::min(a, b));
      ASSERT_LE(c.y, std::max(a, b));
    }
  }
}

}  // namespace
}  // namespace quillmere::geojson
