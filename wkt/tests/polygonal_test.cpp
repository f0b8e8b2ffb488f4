#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>

#include "common/stop.hpp"
#include "wkt/polygonal.hpp"

namespace quillmere::wkt {
namespace {

std::string written(const Polygonal& polygonal) {
  TextSink sink;
  write_polygonal_text(polygonal, sink);
  return std::string(sink.data(), sink.size());
}

// What read_polygonal gives: the written text, or the message.
std::string outcome(std::string_view text) {
  Polygonal polygonal;
  std::string message;
  if (!read_polygonal(text, polygonal, message)) return "error: " + message;
  return written(polygonal);
}

// The tree's reading of the same text, written in the same layout.
std::string tree_outcome(std::string_view text) {
  Wkt tree;
  if (ErrorText error = Wkt::from_str(text, tree)) return "error: Unable to parse Polygon from WKT: " + debug_text(error);
  Polygonal polygonal;
  if (auto* polygon = std::get_if<Polygon>(&tree.item.value)) {
    polygonal.polygon = from(std::move(*polygon));
  } else if (auto* multi = std::get_if<MultiPolygon>(&tree.item.value)) {
    polygonal.multi = true;
    for (Polygon& p : multi->polygons) polygonal.polygons.push_back(from(std::move(p)));
  } else {
    quillmere::Geometry geometry;
    if (auto error = try_from(std::move(tree.item), geometry)) return "error: Unable to read Polygon from WKT: " + error->debug();
    quillmere::Polygon unused;
    return "error: Unable to read Polygon from WKT: " + try_from(std::move(geometry), unused)->debug();
  }
  return written(polygonal);
}

TEST(Polygonal, Layout) {
  EXPECT_EQ(outcome("MULTIPOLYGON EMPTY"), "MULTIPOLYGON EMPTY");
  EXPECT_EQ(outcome("multipolygon(((0 0,1 0,1 1)),((5 5,6 5,6 6,5 5),(5.5 5.1,5.6 5.1,5.6 5.2)))"),
            "MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5),(5.5 5.1,5.6 5.1,5.6 5.2,5.5 5.1)))");
  EXPECT_EQ(outcome("MULTIPOLYGON(EMPTY,(EMPTY),((0 0,1 0,1 1,0 0),EMPTY))"),
            "MULTIPOLYGON(EMPTY,EMPTY,((0 0,1 0,1 1,0 0),()))");
  EXPECT_EQ(outcome("POLYGON EMPTY"), "POLYGON EMPTY");
  EXPECT_EQ(outcome("POLYGON(EMPTY,(0 0,1 0,1 1,0 0))"), "POLYGON((0 0,1 0,1 1,0 0))");
  EXPECT_EQ(outcome("POINT(1 2)"),
            "error: Unable to read Polygon from WKT: MismatchedGeometry { expected: "
            "\"geo_types::geometry::polygon::Polygon\", found: \"geo_types::geometry::point::Point\" }");
}

// A POLYGON text gives exactly what quillmere's polygon reading gives.
TEST(Polygonal, PolygonTextsAsQuillmereReadsThem) {
  const char* pieces[] = {"(", "(", ")", ")", ",", ",", "0", "1.5", "-2", "EMPTY", "x", "1x", "+", "\t"};
  std::mt19937 random(5);
  int read = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = "POLYGON";
    const int n = static_cast<int>(random() % 24);
    for (int i = 0; i < n; ++i) text += std::string(random() % 3 ? "" : " ") + pieces[random() % std::size(pieces)];
    std::string expected;
    try {
      expected = polygon_to_wkt_string(read_polygon_from_wkt(text));
      ++read;
    } catch (const Stop& stop) {
      expected = "error: " + stop.message();
    }
    ASSERT_EQ(outcome(text), expected) << text;
  }
  EXPECT_GT(read, 100);
}

// MULTIPOLYGON texts, well formed or with one byte changed: the scan and its
// hand-over to the tree agree with the tree alone.
TEST(Polygonal, MultiPolygonTextsAsTheTreeReadsThem) {
  const char* numbers[] = {"0", "-0", "1.5", "-2", ".5", "5.", "+3", "1e3", "-nan", "-inf", "1e400",
                           "12345678901234567890", "123.4567891", "1.2.3", "x", "-", "EMPTY"};
  const std::string spaces[] = {"", " ", "\t", "\n", std::string(1, '\0')};
  std::mt19937 random(23);
  auto pick = [&random](const auto& list) { return list[random() % std::size(list)]; };
  auto space = [&] { return random() % 4 ? std::string() : pick(spaces); };
  int read = 0;
  for (int round = 0; round < 50000; ++round) {
    std::string text = space() + (round % 2 ? "MULTIPOLYGON" : "MultiPolygon") + space() + "(";
    const int members = 1 + static_cast<int>(random() % 3);
    for (int m = 0; m < members; ++m) {
      if (random() % 10 == 0) {
        text += space() + "EMPTY";
      } else {
        text += space() + "(";
        const int rings = 1 + static_cast<int>(random() % 2);
        for (int r = 0; r < rings; ++r) {
          text += space() + "(";
          const int coords = 1 + static_cast<int>(random() % 4);
          for (int c = 0; c < coords; ++c) {
            const bool plain = random() % 3;
            text += space() + (plain ? std::to_string(random() % 200) + "." + std::to_string(random() % 100) : pick(numbers));
            text += " " + space() + (plain ? std::to_string(random() % 90) : pick(numbers));
            text += space() + (c + 1 < coords ? "," : ")");
          }
          text += space() + (r + 1 < rings ? "," : ")");
        }
      }
      text += space() + (m + 1 < members ? "," : ")");
    }
    if (random() % 3 == 0) {
      const std::size_t at = random() % text.size();
      const char bytes[] = {'(', ')', ',', ' ', '0', 'E', '.', '\0'};
      switch (random() % 3) {
        case 0: text[at] = bytes[random() % std::size(bytes)]; break;
        case 1: text.erase(at, 1); break;
        default: text.insert(at, 1, text[at]); break;
      }
    }
    const std::string expected = tree_outcome(text);
    if (expected.rfind("error", 0) != 0) ++read;
    ASSERT_EQ(outcome(text), expected) << text;
  }
  EXPECT_GT(read, 3000);
}

// (Like quillmere's, an empty ring's "()" does not read back; only
// keep_collapsed can leave one.)
TEST(Polygonal, WrittenTextsReadBack) {
  const std::string text = "MULTIPOLYGON(EMPTY,((0 0,1 0,1 1,0 0),(0.5 0.1,0.6 0.1,0.6 0.2,0.5 0.1)),((0.1 0.2,3 4,5 6,0.1 0.2)))";
  EXPECT_EQ(outcome(text), text);
  EXPECT_EQ(outcome(outcome(text)), text);
}

}  // namespace
}  // namespace quillmere::wkt
