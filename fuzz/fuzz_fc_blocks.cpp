// The FeatureCollection call's parallel path on arbitrary bytes: whenever it
// writes a result, the serial path must accept the text and write the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "common/stop.hpp"
#include "geojson/geojson.hpp"
#include "pipeline/pipelines.hpp"

namespace {

class Collected final : public quillmere::FeatureTextSink {
 public:
  bool begin(std::size_t) override { return true; }
  bool take(std::size_t block, std::string_view text) override {
    if (!text.empty()) texts[block] = std::string(text);
    return true;
  }
  std::string joined() const {
    std::string out(quillmere::geojson::kFeatureCollectionHead);
    bool first = true;
    for (const auto& [block, text] : texts) {
      if (!first) out += ',';
      first = false;
      out += text;
    }
    return out + std::string(quillmere::geojson::kFeatureCollectionTail);
  }
  std::map<std::size_t, std::string> texts;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Collected collected;
  if (quillmere::smooth_simplify_fc_blocks(text, 1, 0.5, collected) != quillmere::FcBlocksResult::Written) return 0;
  try {
    auto polygons = quillmere::read_polygons_from_feature_collection(text);
    if (!polygons) std::abort();
    const std::string serial =
        quillmere::geojson::write_feature_collection(quillmere::smooth_simplify_polygons(std::move(*polygons), 1, 0.5));
    if (serial != collected.joined()) std::abort();
  } catch (const quillmere::Stop&) {
    std::abort();
  }
  return 0;
}
