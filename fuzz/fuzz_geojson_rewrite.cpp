// The byte-preserving GeoJSON rewrite on arbitrary bytes. The first byte
// chooses the options (smoothing passes, tolerance, keep_collapsed, the
// parallel path); the rest is the text. Checked:
// - an invalid text leaves the output as it was, and the reason is
//   quillmere's message where quillmere reads the text as a collection;
// - the serial and parallel paths write the same bytes;
// - the result is valid again, every byte outside the replaced coordinates
//   values is the input's, and quillmere reads as many polygons, with rings
//   as long, from it as from a rewrite without any transform.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/stop.hpp"
#include "geojson/geojson.hpp"
#include "geojson/rewrite.hpp"
#include "pipeline/pipelines.hpp"

namespace {

using namespace quillmere;

struct Smoothing {
  std::uint64_t passes;
  double tolerance;
  static void transform(void* context, Polygon& polygon) {
    const auto& s = *static_cast<const Smoothing*>(context);
    polygon = smooth_simplify_polygon(std::move(polygon), s.passes, s.tolerance);
  }
};

// The text between the polygonal coordinates values, in order; empty when
// the text is not valid.
std::vector<std::string_view> gaps(std::string_view text) {
  std::vector<json::ArraySpan> spans;
  auto parsed = json::from_str(text, json::ParseOptions{&spans, nullptr});
  auto* document = std::get_if<json::Document>(&parsed);
  if (document == nullptr) std::abort();
  std::vector<geojson::PolygonalGeometry> found;
  geojson::GeoJsonKind kind;
  if (geojson::check_geojson(document->root(), kind, found)) std::abort();
  std::vector<std::size_t> cuts;
  for (const auto& geometry : found) {
    for (const auto& span : spans) {
      if (span.storage == geometry.coordinates.elements().data()) {
        cuts.push_back(span.begin);
        cuts.push_back(span.end);
      }
    }
  }
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::string_view> out;
  std::size_t cursor = 0;
  for (std::size_t i = 0; i + 1 < cuts.size(); i += 2) {
    out.push_back(text.substr(cursor, cuts[i] - cursor));
    cursor = cuts[i + 1];
  }
  out.push_back(text.substr(cursor));
  return out;
}

std::vector<std::size_t> ring_sizes(const std::vector<Polygon>& polygons) {
  std::vector<std::size_t> sizes;
  for (const Polygon& p : polygons) {
    sizes.push_back(p.exterior().coords.size());
    for (const auto& ring : p.interiors()) sizes.push_back(ring.coords.size());
    sizes.push_back(SIZE_MAX);
  }
  return sizes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  Smoothing smoothing{static_cast<std::uint64_t>(flags & 3), (flags & 4) ? 0.5 : 0.0};
  geojson::RewriteOptions options;
  options.transform = &Smoothing::transform;
  options.context = &smoothing;
  options.keep_collapsed = (flags & 8) != 0;
  options.parallel_from_bytes = (flags & 16) ? 0 : SIZE_MAX;

  std::string out = "<";
  std::string reason;
  const bool valid = geojson::rewrite_geojson(text, options, out, reason);
  if (!valid) {
    if (out != "<" || reason.empty()) std::abort();
    // Where quillmere reads the text as a collection, it stops with the same
    // message, or the first short position was in a collection member here.
    try {
      if (read_polygons_from_feature_collection(text)) {
        if (reason.rfind("index out of bounds", 0) != 0) std::abort();
      }
    } catch (const Stop& stop) {
      if (stop.message() != reason && reason.rfind("index out of bounds", 0) != 0) std::abort();
    }
    return 0;
  }
  const std::string_view result = std::string_view(out).substr(1);

  // The other path gives the same bytes.
  geojson::RewriteOptions other = options;
  other.parallel_from_bytes = (flags & 16) ? SIZE_MAX : 0;
  std::string again;
  if (!geojson::rewrite_geojson(text, other, again, reason) || again != result) std::abort();

  // Every byte outside the replaced values is kept.
  if (gaps(text) != gaps(result)) std::abort();

  // quillmere reads the result as it reads the unsmoothed rewrite, ring for
  // ring, when it reads collections; for any kind, the result is read again.
  geojson::RewriteOptions plain;
  plain.transform = [](void*, Polygon&) {};
  plain.keep_collapsed = true;
  std::string unsmoothed;
  if (!geojson::rewrite_geojson(text, plain, unsmoothed, reason)) std::abort();
  // The result is valid again. (Not byte for byte the same once more: the
  // JSON reader is not correctly rounded, so the shortest digits of a long
  // number may read back as a neighbouring double.)
  std::string twice;
  if (!geojson::rewrite_geojson(result, plain, twice, reason)) std::abort();
  if (gaps(twice) != gaps(result)) std::abort();
  try {
    auto before = read_polygons_from_feature_collection(unsmoothed);
    auto after = read_polygons_from_feature_collection(result);
    if (before.has_value() != after.has_value()) std::abort();
    if (before && smoothing.passes == 0 && smoothing.tolerance == 0.0 && options.keep_collapsed &&
        ring_sizes(*before) != ring_sizes(*after)) {
      std::abort();
    }
  } catch (const Stop&) {
    std::abort();  // every position written has two numbers
  }
  return 0;
}
