#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "common/stop.hpp"
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

// The messages and the other closing cases are checked through the Python
// function; the reading itself closes a NaN ring once (the whole pipeline
// closes it again after simplifying).
TEST(ReadPolygon, RingStartingWithNaNGainsOneCoordinate) {
  EXPECT_EQ(read_polygon_from_wkt("POLYGON((-nan 0,1 0,1 1,-nan 0))").exterior().coords.size(), 5u);
  EXPECT_EQ(read_polygon_from_wkt("POLYGON((-nan 0))").exterior().coords.size(), 2u);
  EXPECT_EQ(read_polygon_from_wkt("POLYGON((5 5))").exterior().coords.size(), 1u);
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
// Reading must agree with the tree: the same polygon (bit for bit, NaN-safe:
// compared through the written texts) or the same error. Counts polygons.
void expect_read_like_the_tree(const std::string& text, int& polygons) {
  quillmere::Polygon expected;
  const std::string expected_error = through_the_tree(text, expected);
  const std::string message = stop_message(text);
  if (expected_error.empty()) {
    ASSERT_EQ(message, "(read)") << text;
    const auto got = read_polygon_from_wkt(text);
    ASSERT_EQ(polygon_to_wkt_string(got), polygon_to_wkt_string(expected)) << text;
    ASSERT_EQ(got.interiors().size(), expected.interiors().size()) << text;
    ++polygons;
  } else {
    ASSERT_NE(message.find(expected_error), std::string::npos) << text << " -> " << message;
  }
}

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
    ASSERT_NO_FATAL_FAILURE(expect_read_like_the_tree(text, polygons));
  }
  EXPECT_GT(polygons, 100);
}

// Mostly well-formed polygon texts with every number form and separator the
// grammar knows, some with one byte changed: the tight scan of the usual
// shape and its hand-over to the token rules must both agree with the tree.
TEST(ReadPolygon, ScannedTextsMatchTheTree) {
  const char* numbers[] = {"0",   "-0",    "1.5",  "-2",    ".5",  "5.",   "-.25", "007",  "0.000",
                           "+3",  "1e3",   "1E-3", "-nan",  "inf", "-inf", "1e400", "9007199254740993",
                           "12345678901234567890", "1234567890123456789", "0.0000000000000000000000001",
                           "123.4567891", "-77.12345678901234", "1.2.3", "1-", "x", "-", ".", "NaN", "1,"};
  const std::string spaces[] = {"", " ", "  ", "\t", "\n", "\r\n", std::string(1, '\0')};
  std::mt19937 random(17);
  auto pick = [&random](const auto& list) { return list[random() % std::size(list)]; };
  auto space = [&] { return random() % 4 ? std::string() : pick(spaces); };
  int polygons = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string text = space() + (round % 3 ? "POLYGON" : "Polygon") + space() + "(";
    const int rings = 1 + static_cast<int>(random() % 3);
    for (int r = 0; r < rings; ++r) {
      text += space() + "(";
      const int coords = 1 + static_cast<int>(random() % 5);
      for (int c = 0; c < coords; ++c) {
        const bool plain = random() % 3;
        text += space() + (plain ? std::to_string(random() % 2000) + "." + std::to_string(random() % 1000) : pick(numbers));
        text += random() % 8 ? std::string(" ") : pick(spaces);
        text += space() + (plain ? std::string("-") + std::to_string(random() % 90) : pick(numbers));
        text += space() + (c + 1 < coords ? "," : ")");
      }
      text += space() + (r + 1 < rings ? "," : ")");
    }
    if (random() % 4 == 0) text += pick(numbers);  // never read
    if (random() % 4 == 0 && !text.empty()) {
      // One byte replaced, removed or doubled.
      const std::size_t at = random() % text.size();
      const char bytes[] = {'(', ')', ',', ' ', '0', 'e', '.', '-', '\0', 'E'};
      switch (random() % 3) {
        case 0: text[at] = bytes[random() % std::size(bytes)]; break;
        case 1: text.erase(at, 1); break;
        default: text.insert(at, 1, text[at]); break;
      }
    }
    ASSERT_NO_FATAL_FAILURE(expect_read_like_the_tree(text, polygons));
  }
  EXPECT_GT(polygons, 10000);
  EXPECT_LT(polygons, 90000);
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
