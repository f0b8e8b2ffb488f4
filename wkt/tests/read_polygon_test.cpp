#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "pool/stop.hpp"
#include "wkt/wkt.hpp"

namespace quillmere::wkt {
namespace {

std::string stop_message(std::string_view text) {
  try {
    read_polygon_from_wkt(text);
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "(read)";
}

const std::string kParse = "Unable to parse Polygon from WKT: ";
const std::string kMismatch =
    "Unable to read Polygon from WKT: MismatchedGeometry { expected: \"geo_types::geometry::polygon::Polygon\", found: ";

struct StopCase {
  std::string text;
  std::string message;
};

class ReadStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(ReadStops, WithTheDocumentedMessage) { EXPECT_EQ(stop_message(GetParam().text), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadStops,
    ::testing::Values(
        StopCase{"", kParse + "\"Invalid WKT format\""}, StopCase{"x", kParse + "\"Invalid type encountered\""},
        StopCase{"POLYGÖN((0 0))", kParse + "\"Encountered non-ascii word\""},
        StopCase{"POLYGON", kParse + "\"Missing open parenthesis for type\""},
        StopCase{"POLYGON((0 0", kParse + "\"Missing closing parenthesis for type\""},
        StopCase{"POLYGON((0 0,x))", kParse + "\"Expected a number for the X coordinate\""},
        StopCase{"POLYGON((0 y))", kParse + "\"Expected a number for the Y coordinate\""},
        StopCase{"GEOMETRYCOLLECTION(1)", kParse + "\"Expected a word in GEOMETRYCOLLECTION\""},
        StopCase{"POLYGON((1 2x))", kParse + "\"Unable to parse input number as the desired output type\""},
        StopCase{"POINT(1 2)", kMismatch + "\"geo_types::geometry::point::Point\" }"},
        StopCase{"POINT EMPTY", kMismatch + "\"geo_types::geometry::multi_point::MultiPoint\" }"},
        StopCase{"MULTIPOINT(1 2)", kMismatch + "\"geo_types::geometry::multi_point::MultiPoint\" }"},
        StopCase{"LINESTRING(0 0,1 1)", kMismatch + "\"geo_types::geometry::line_string::LineString\" }"},
        StopCase{"LINEARRING(0 0,1 1)", kMismatch + "\"geo_types::geometry::line_string::LineString\" }"},
        StopCase{"MULTILINESTRING((0 0,1 1))", kMismatch + "\"geo_types::geometry::multi_line_string::MultiLineString\" }"},
        StopCase{"MULTIPOLYGON(((0 0,1 0,1 1,0 0)))", kMismatch + "\"geo_types::geometry::multi_polygon::MultiPolygon\" }"},
        StopCase{"GEOMETRYCOLLECTION(POLYGON((0 0,1 0,1 1,0 0)))",
                 kMismatch + "\"geo_types::geometry::geometry_collection::GeometryCollection\" }"},
        StopCase{"GEOMETRYCOLLECTION(POINT EMPTY)",
                 kMismatch + "\"geo_types::geometry::geometry_collection::GeometryCollection\" }"}));

TEST(ReadPolygon, ClosesRingsByTheSharedConstruction) {
  using quillmere::Coord;
  auto exterior = [](std::string_view text) { return read_polygon_from_wkt(text).exterior().coords; };
  EXPECT_EQ(exterior("POLYGON((0 0,1 0,1 1))"), (std::vector<Coord>{{0, 0}, {1, 0}, {1, 1}, {0, 0}}));
  EXPECT_EQ(exterior("POLYGON((0 0,1 0,1 1,0 0))"), (std::vector<Coord>{{0, 0}, {1, 0}, {1, 1}, {0, 0}}));
  EXPECT_EQ(exterior("POLYGON((5 5))"), (std::vector<Coord>{{5, 5}}));
  EXPECT_EQ(exterior("POLYGON((0 0,1 0,-0 0))").size(), 3u);  // 0 equals -0
  EXPECT_EQ(exterior("POLYGON((-nan 0,1 0,1 1,-nan 0))").size(), 5u);
  EXPECT_EQ(exterior("POLYGON((-nan 0))").size(), 2u);

  const auto holed = read_polygon_from_wkt("POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2))");
  ASSERT_EQ(holed.interiors().size(), 1u);
  EXPECT_EQ(holed.interiors()[0].coords.size(), 4u);

  for (auto text : {"POLYGON EMPTY", "POLYGON(EMPTY)"}) {
    const auto p = read_polygon_from_wkt(text);
    EXPECT_TRUE(p.exterior().coords.empty()) << text;
    EXPECT_TRUE(p.interiors().empty()) << text;
  }
  const auto empty_exterior = read_polygon_from_wkt("POLYGON(EMPTY,(0 0,1 0,1 1,0 0))");
  EXPECT_TRUE(empty_exterior.exterior().coords.empty());
  ASSERT_EQ(empty_exterior.interiors().size(), 1u);
  EXPECT_EQ(empty_exterior.interiors()[0].coords.size(), 4u);

  EXPECT_EQ(read_polygon_from_wkt("POLYGON((0 0,1 0,1 1,0 0)) anything"),
            read_polygon_from_wkt("POLYGON((0 0,1 0,1 1,0 0))"));
}

// The tree path, spelled out: parse, convert, narrow.
std::string through_the_tree(std::string_view text, quillmere::Polygon& out) {
  Wkt tree;
  if (ErrorText error = Wkt::from_str(text, tree)) return error;
  quillmere::Geometry geometry;
  if (auto error = try_from(std::move(tree.item), geometry)) return error->debug();
  if (auto error = try_from(std::move(geometry), out)) return error->debug();
  return "";
}

// POLYGON texts are read without the tree; outcomes must be identical.
TEST(ReadPolygon, DirectReadingMatchesTheTree) {
  const char* pieces[] = {"(", "(", "(", ")", ")", ")", ",", ",", ",", "0", "1.5", "-2", "EMPTY",
                          "x", "1x", "POINT", "-nan", "1e400"};
  std::mt19937 random(3);
  int polygons = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string text = round % 2 ? "POLYGON" : "polygon";
    const int n = static_cast<int>(random() % 30);
    for (int i = 0; i < n; ++i) {
      text += random() % 3 ? "" : " ";
      text += pieces[random() % std::size(pieces)];
    }
    quillmere::Polygon expected;
    std::string expected_error = through_the_tree(text, expected);
    std::string message = stop_message(text);
    if (expected_error.empty()) {
      ASSERT_EQ(message, "(read)") << text;
      const auto got = read_polygon_from_wkt(text);
      // Same coordinates bit for bit (NaN-safe): compare the written texts.
      ASSERT_EQ(polygon_to_wkt_string(got), polygon_to_wkt_string(expected)) << text;
      ASSERT_EQ(got.interiors().size(), expected.interiors().size()) << text;
      ++polygons;
    } else {
      ASSERT_NE(message.find(expected_error), std::string::npos) << text << " -> " << message;
    }
  }
  EXPECT_GT(polygons, 100);
}

TEST(Convert, EveryKindAndTheEmptyPointRule) {
  auto kind_of = [](std::string_view text) {
    Wkt tree;
    EXPECT_EQ(Wkt::from_str(text, tree), nullptr) << text;
    quillmere::Geometry g;
    EXPECT_FALSE(try_from(std::move(tree.item), g).has_value()) << text;
    return std::string(inner_type_name(g));
  };
  EXPECT_EQ(kind_of("POINT EMPTY"), "geo_types::geometry::multi_point::MultiPoint");
  EXPECT_EQ(kind_of("MULTIPOLYGON EMPTY"), "geo_types::geometry::multi_polygon::MultiPolygon");

  Wkt tree;
  ASSERT_EQ(Wkt::from_str("GEOMETRYCOLLECTION(POINT EMPTY,MULTIPOINT(1 2,(3 4)),LINESTRING(0 0,1 1))", tree), nullptr);
  quillmere::Geometry g;
  ASSERT_FALSE(try_from(std::move(tree.item), g).has_value());
  const auto& members = std::get<quillmere::GeometryCollection>(g.value).geometries;
  ASSERT_EQ(members.size(), 3u);
  EXPECT_TRUE(std::get<quillmere::MultiPoint>(members[0].value).points.empty());
  EXPECT_EQ(std::get<quillmere::MultiPoint>(members[1].value).points[1].coord.y, 4.0);
  // A linestring is not closed.
  EXPECT_EQ(std::get<quillmere::LineString>(members[2].value).coords.size(), 2u);
}

TEST(Convert, PointConversionErrorForAnEmptyMemberPoint) {
  // The parser never builds this; a hand-made tree must still fail cleanly,
  // also from inside a collection.
  MultiPoint mp;
  mp.points.push_back(Point{Coord{1, 2, {}, {}}});
  mp.points.push_back(Point{});
  quillmere::MultiPoint out;
  const auto error = try_from(MultiPoint(mp), out);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->debug(), "PointConversionError");

  Geometry collection{GeometryCollection{}};
  std::get<GeometryCollection>(collection.value).geometries.push_back(Geometry{mp});
  quillmere::Geometry g;
  const auto nested = try_from(std::move(collection), g);
  ASSERT_TRUE(nested.has_value());
  EXPECT_EQ(nested->debug(), "PointConversionError");
}

TEST(Convert, DebugTextEscapesQuotesAndBackslashes) {
  EXPECT_EQ(debug_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

}  // namespace
}  // namespace quillmere::wkt
