#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop.hpp"
#include "pipeline/pipelines.hpp"
#include "pipeline/wkt_read_ahead.hpp"
#include "pool/pool.hpp"

namespace quillmere {
namespace {

constexpr std::size_t chunk = WktReadAhead::chunk_size;

std::vector<std::string> polygon_texts(std::size_t n) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < n; ++i) {
    texts.push_back("POLYGON((" + std::to_string(i) + " 0,1 " + std::to_string(i % 7) + ",2 2))");
  }
  return texts;
}

// The list as the conversion hands it over: one more view at a time, told
// of the views so far at every multiple of the chunk size.
std::vector<Polygon> read_ahead(const std::vector<std::string>& texts) {
  std::vector<std::string_view> views;
  WktReadAhead ahead;
  for (const std::string& text : texts) {
    views.push_back(text);
    if (views.size() % chunk == 0) ahead.converted(views);
  }
  return ahead.finish(views);
}

std::string outcome(const std::vector<std::string>& texts) {
  try {
    read_ahead(texts);
  } catch (const Stop& stop) {
    return stop.message();
  }
  return "(read)";
}

class ReadAhead : public ::testing::TestWithParam<bool> {
 protected:
  // With a running pool the chunks start early; without one, finish() reads
  // everything.
  pool::ThreadPool pool_{2};
  std::optional<pool::ScopedPool> scoped_;
  void SetUp() override {
    if (GetParam()) scoped_.emplace(pool_);
  }
};

INSTANTIATE_TEST_SUITE_P(PoolRunning, ReadAhead, ::testing::Bool());

TEST_P(ReadAhead, GivesWhatReadingTheWholeListGives) {
  for (std::size_t n : {std::size_t{0}, std::size_t{5}, chunk - 1, chunk, chunk + 1, 3 * chunk, 3 * chunk + 17}) {
    const std::vector<std::string> texts = polygon_texts(n);
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    EXPECT_EQ(read_ahead(texts), read_polygons_from_wkts(views)) << n;
  }
}

TEST_P(ReadAhead, LowestIndexStopWinsAcrossChunks) {
  std::vector<std::string> texts = polygon_texts(4 * chunk + 10);
  texts[3 * chunk + 5] = "POINT(1 2)";          // a later chunk
  texts[4 * chunk + 2] = "x";                   // the rest, read at the end
  texts[chunk + 7] = "POLYGON((0 0,1 y))";      // an earlier chunk
  EXPECT_EQ(outcome(texts), "Unable to parse Polygon from WKT: \"Expected a number for the Y coordinate\"");
  texts[chunk + 7] = "POLYGON((0 0))";
  EXPECT_EQ(outcome(texts),
            "Unable to read Polygon from WKT: MismatchedGeometry { expected: \"geo_types::geometry::polygon::Polygon\", "
            "found: \"geo_types::geometry::point::Point\" }");
  texts[3 * chunk + 5] = "POLYGON((0 0))";
  EXPECT_EQ(outcome(texts), "Unable to parse Polygon from WKT: \"Invalid type encountered\"");
}

TEST_P(ReadAhead, AbandonedReadAheadWaitsForItsChunks) {
  // Conversion failed after two chunks had started: nothing is finished, and
  // the texts die right after the read-ahead (under the sanitizers, a chunk
  // still reading them would be reported). The pool serves the next call.
  auto texts = std::make_unique<std::vector<std::string>>(polygon_texts(2 * chunk + 3));
  std::vector<std::string_view> views(texts->begin(), texts->end());
  {
    WktReadAhead ahead;
    ahead.converted(std::span(views).first(chunk));
    ahead.converted(std::span(views).first(2 * chunk));
  }
  texts.reset();
  EXPECT_EQ(read_ahead(polygon_texts(chunk + 1)).size(), chunk + 1);
}

}  // namespace
}  // namespace quillmere
