// The FeatureCollection call in parallel from the start: the calling thread
// only finds where the features stand; workers parse, decode, smooth,
// simplify and write blocks of them. Any failure sends the call back to the
// serial path, which alone decides what a failing text reports.
#include <algorithm>
#include <optional>
#include <utility>
#include <variant>

#include "geojson/geojson.hpp"
#include "pipelines.hpp"
#include "pool/handover.hpp"
#include "pool/largest_first.hpp"
#include "pool/pool.hpp"

namespace quillmere {

namespace {

// Input bytes per block: enough blocks for the workers to end together, few
// enough that handing them over costs nothing; a larger feature is a block
// alone.
constexpr std::size_t kBlockBytes = 256 * 1024;
// The top-level object and the "features" array are open around a feature.
constexpr int kFeatureDepth = 2;

struct Block {
  std::size_t index = 0;
  geojson::TextBuffer text;
};

struct Work {
  std::string_view text;
  const std::vector<std::pair<std::size_t, std::size_t>>* features = nullptr;
  std::vector<std::size_t> block_starts;  // first feature of each block, then the feature count
  std::optional<pool::LargestFirst> blocks;
  std::uint64_t smoothing_iterations = 0;
  double tolerance = 0.0;

  pool::Handover<Block> handover;

  std::size_t block_bytes(std::size_t block) const {
    return (*features)[block_starts[block + 1] - 1].second - (*features)[block_starts[block]].first;
  }

  // Throws (a Stop, Cancelled, bad_alloc) or returns false on any failure.
  bool write_block(std::size_t block, geojson::TextBuffer& out, std::vector<json::Value>& payloads,
                   json::Arena& storage) const {
    json::ParseOptions options;
    options.cancelled = handover.abandoned_flag();
    options.enclosing_depth = kFeatureDepth;
    for (std::size_t f = block_starts[block]; f < block_starts[block + 1]; ++f) {
      const auto [begin, end] = (*features)[f];
      std::variant<json::Document, json::Error> parsed =
          json::from_str(text.substr(begin, end - begin), options, std::move(storage));
      auto* document = std::get_if<json::Document>(&parsed);
      if (document == nullptr) return false;
      payloads.clear();
      if (geojson::decode_feature_of_collection(document->root(), payloads)) return false;
      for (const json::Value& payload : payloads) {
        const Polygon result =
            smooth_simplify_polygon(geojson::create_geo_polygon(payload), smoothing_iterations, tolerance);
        if (!out.empty()) out.append(",");
        geojson::append_feature_text(result, out);
      }
      storage = std::move(document->arena());
    }
    return true;
  }

  void fail() {
    handover.abandon();
    handover.stop();
  }

  // The piece's own range only says that a worker is there to help.
  static void piece(void* context, std::size_t, std::size_t) noexcept {
    auto& w = *static_cast<Work*>(context);
    std::vector<json::Value> payloads;
    json::Arena storage;  // the trees of the piece's features, one after the other
    std::size_t index = 0;
    while (!w.handover.abandoned() && w.blocks->take(index)) {
      try {
        Block block = w.handover.take_spare();
        block.index = index;
        block.text.clear();
        if (!w.write_block(block.index, block.text, payloads, storage)) {
          w.fail();
          return;
        }
        w.handover.hand_over(std::move(block));
      } catch (...) {
        w.fail();
        return;
      }
    }
  }
};

// Whether the text outside the features parses and decodes as a collection.
bool rest_is_collection(const std::string& rest) {
  std::variant<json::Document, json::Error> parsed = json::from_str(rest);
  const auto* document = std::get_if<json::Document>(&parsed);
  if (document == nullptr) return false;
  geojson::GeoJsonKind kind{};
  std::vector<geojson::PolygonalGeometry> geometries;
  if (geojson::check_geojson(document->root(), kind, geometries)) return false;
  return kind == geojson::GeoJsonKind::FeatureCollection;
}

FcBlocksResult run_blocks(Work& work, FeatureTextSink& sink) {
  const std::size_t n = work.blocks->size();
  bool sink_gave_up = false;
  pool::BackgroundBatch batch(n, &Work::piece, &work);
  for (std::size_t taken_count = 0; taken_count < n;) {
    std::vector<Block> taken;
    work.handover.take(taken);
    if (work.handover.stopped()) break;
    for (const Block& block : taken) {
      if (!sink.take(block.index, block.text.view())) {
        sink_gave_up = true;
        break;
      }
    }
    if (sink_gave_up) {
      work.handover.abandon();
      break;
    }
    taken_count += taken.size();
    work.handover.give_back(taken);
  }
  batch.wait();
  if (sink_gave_up) return FcBlocksResult::SinkGaveUp;
  return work.handover.stopped() ? FcBlocksResult::NotTaken : FcBlocksResult::Written;
}

}  // namespace

FcBlocksResult smooth_simplify_fc_blocks(std::string_view text, std::uint64_t smoothing_iterations,
                                         double simplify_tolerance, FeatureTextSink& sink) {
  Work work;
  try {
    std::optional<geojson::FeatureCollectionOutline> outline = geojson::outline_feature_collection(text);
    if (!outline || !rest_is_collection(outline->rest)) return FcBlocksResult::NotTaken;
    const auto& features = outline->features;
    work.text = text;
    work.features = &features;
    work.smoothing_iterations = smoothing_iterations;
    work.tolerance = simplify_tolerance;
    for (std::size_t f = 0; f < features.size();) {
      work.block_starts.push_back(f);
      const std::size_t first = features[f].first;
      while (f < features.size() && features[f].second - first < kBlockBytes) ++f;
      if (f < features.size() && features[f].first == first) ++f;  // a large feature alone
    }
    work.block_starts.push_back(features.size());
    work.blocks.emplace(work.block_starts.size() - 1, [&work](std::size_t b) { return work.block_bytes(b); });
    if (!sink.begin(work.blocks->size())) return FcBlocksResult::SinkGaveUp;
    return run_blocks(work, sink);
  } catch (...) {
    // Pool start, allocation: the serial path meets the same failure, or
    // another one that comes first.
    return FcBlocksResult::NotTaken;
  }
}

}  // namespace quillmere
