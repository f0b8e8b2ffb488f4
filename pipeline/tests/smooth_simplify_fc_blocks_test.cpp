#include <gtest/gtest.h>

#include <map>
#include <string>

#include "geojson/geojson.hpp"
#include "pipeline/pipelines.hpp"
#include "pool/pool.hpp"

namespace quillmere {
namespace {

class Collected final : public FeatureTextSink {
 public:
  bool begin(std::size_t blocks) override {
    count = blocks;
    return true;
  }
  bool take(std::size_t block, std::string_view text) override {
    EXPECT_LT(block, count);
    EXPECT_EQ(texts.count(block), 0u);
    texts[block] = std::string(text);
    return true;
  }
  std::string joined() const {
    EXPECT_EQ(texts.size(), count);
    std::string out(geojson::kFeatureCollectionHead);
    bool first = true;
    for (const auto& [block, text] : texts) {
      if (text.empty()) continue;
      if (!first) out += ',';
      first = false;
      out += text;
    }
    return out + std::string(geojson::kFeatureCollectionTail);
  }
  std::size_t count = 0;
  std::map<std::size_t, std::string> texts;
};

std::string serial(std::string_view text, std::uint64_t k, double tolerance) {
  auto polygons = read_polygons_from_feature_collection(text);
  if (!polygons) return "absent";
  return geojson::write_feature_collection(smooth_simplify_polygons(std::move(*polygons), k, tolerance));
}

std::string nested(int arrays) { return std::string(arrays, '[') + std::string(arrays, ']'); }

std::string feature(std::string_view geometry, std::string_view extra = "") {
  return R"({"type":"Feature",)" + std::string(extra) + R"("geometry":)" + std::string(geometry) + "}";
}
const std::string kSquare = R"({"type":"Polygon","coordinates":[[[0,0],[4,0],[4,4],[0,4]],[[1,1],[2,1],[1,2]]]})";
const std::string kMulti = R"({"coordinates":[[[[5,5],[6,5.5],[7,7],[5,5]]],[]],"type":"MultiPolygon"})";

// A feature near 300 kB, so that the features span several blocks.
std::string large_polygon() {
  std::string ring;
  for (int i = 0; i < 16000; ++i) ring += (i ? "," : "") + std::string("[") + std::to_string(i % 97) + ".25," + std::to_string(i * 0.001) + "]";
  return R"({"type":"Polygon","coordinates":[[)" + ring + "]]}";
}

TEST(SmoothSimplifyFcBlocks, SameTextAsTheSerialPathForEveryPoolSize) {
  const std::string large = large_polygon();
  const std::vector<std::string> texts = {
      R"({"type":"FeatureCollection","features":[]})",
      R"( {"features" : [ )" + feature(kSquare) + " , " + feature("null") + "\n]\t,\"type\":\"FeatureCollection\",\"bbox\":[1,2]}",
      R"({"type":"FeatureCollection","features":[)" + feature(kMulti, R"("properties":{"a}":"{\"}","b":[[{}]]},)") + "," +
          feature(R"({"type":"GeometryCollection","geometries":[)" + kSquare + "]}") + "," +
          feature(R"({"type":"Point","coordinates":[1]})") + "," + feature(kSquare, R"("id":1.5,"x":)" + nested(124) + ",") +
          "]}",
      R"({"type":"FeatureCollection","features":[)" + feature(large) + "," + feature(kSquare) + "," + feature(large) +
          "," + feature(kMulti) + "]}",
  };
  for (std::size_t threads : {1, 2}) {
    pool::ThreadPool pool(threads);
    pool::ScopedPool scoped(pool);
    for (const std::string& text : texts) {
      for (std::uint64_t k : {0, 2}) {
        Collected collected;
        ASSERT_EQ(smooth_simplify_fc_blocks(text, k, 0.01, collected), FcBlocksResult::Written) << text.substr(0, 200);
        EXPECT_EQ(collected.joined(), serial(text, k, 0.01)) << text.substr(0, 200);
      }
    }
  }
}

// Every failure, and every text that is not plainly a collection, is left to
// the serial path, which alone knows which error comes first.
TEST(SmoothSimplifyFcBlocks, NotTakenWhereTheSerialPathMustDecide) {
  const std::string fc = R"({"type":"FeatureCollection","features":[)";
  const std::string ok = feature(kSquare);
  const std::vector<std::string> texts = {
      fc + feature(kSquare, R"("properties":5,)") + "," + ok + "," + R"({"type":"Feature","geometry":nul})" + "]}",
      fc + ok + "," + feature(R"({"type":"Polygon","coordinates":[[[0,0],[1]]]})") + "]}",
      (fc + ok + "]}").substr(0, fc.size() + 30),
      fc + ok + "]",
      fc + ok + "]} x",
      fc + ok + ",]}",
      fc + ok + " " + ok + "]}",
      fc + "]," + R"("features":[)" + ok + "]}",
      R"({"type":"FeatureCollection","feat\u0075res":[)" + ok + "]}",
      R"({"type":"Feature","geometry":null,"features":[)" + ok + "]}",
      R"({"type":"FeatureCollection","bbox":null,"features":[)" + ok + "]}",
      R"({"type":"FeatureCollection","features":{}})",
      fc + ok + ",5]}",
      fc + feature("null", R"("x":)" + nested(125) + ",") + "]}",
      R"([{"type":"FeatureCollection","features":[]}])",
  };
  for (const std::string& text : texts) {
    Collected collected;
    EXPECT_EQ(smooth_simplify_fc_blocks(text, 1, 0.0, collected), FcBlocksResult::NotTaken) << text;
  }
}

class GivingUp final : public FeatureTextSink {
 public:
  bool begin(std::size_t) override { return true; }
  bool take(std::size_t, std::string_view) override { return false; }
};

TEST(SmoothSimplifyFcBlocks, ASinkThatGivesUpEndsTheCall) {
  GivingUp sink;
  const std::string text = R"({"type":"FeatureCollection","features":[)" + feature(kSquare) + "]}";
  EXPECT_EQ(smooth_simplify_fc_blocks(text, 0, 0.0, sink), FcBlocksResult::SinkGaveUp);
}

}  // namespace
}  // namespace quillmere
