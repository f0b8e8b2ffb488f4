// GeoJSON reading of arbitrary bytes: the collection reader, then the writer
// on whatever it read; the written text must read back to as many polygons.
// Also the JSON reader alone, whose compact text of any accepted value must
// be accepted again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "common/stop.hpp"
#include "geojson/geojson.hpp"
#include "pipeline/pipelines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  auto parsed = quillmere::json::from_str(text);
  if (auto* document = std::get_if<quillmere::json::Document>(&parsed)) {
    std::string compact = quillmere::json::to_string(document->root());
    if (!std::holds_alternative<quillmere::json::Document>(quillmere::json::from_str(compact))) std::abort();
    (void)quillmere::json::debug(document->root());
  } else {
    const auto& error = std::get<quillmere::json::Error>(parsed);
    if (error.line == 0 || error.column > size) std::abort();
  }

  try {
    auto polygons = quillmere::read_polygons_from_feature_collection(text);
    if (!polygons) return 0;
    std::string written = quillmere::geojson::write_feature_collection(*polygons);
    auto again = quillmere::read_polygons_from_feature_collection(written);
    if (!again || again->size() != polygons->size()) std::abort();
  } catch (const quillmere::Stop&) {
  }
  return 0;
}
