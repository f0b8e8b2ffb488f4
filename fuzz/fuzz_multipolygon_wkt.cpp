// POLYGON and MULTIPOLYGON reading of arbitrary bytes, as smooth_simplify_wkts
// reads them. The first byte chooses smoothing passes, tolerance and the
// collapse policy; the rest is the text. Checked:
// - a POLYGON text reads exactly as quillmere reads it (polygon or message);
// - any text reads as the syntax tree reads it;
// - a result that can read back (finite numbers, no empty ring) does, to the
//   same text; smoothing, dropping collapsed rings and writing never fail.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "common/stop.hpp"
#include "pipeline/pipelines.hpp"
#include "wkt/polygonal.hpp"

namespace {

using namespace quillmere;

std::string written(const wkt::Polygonal& polygonal) {
  wkt::TextSink sink;
  wkt::write_polygonal_text(polygonal, sink);
  return std::string(sink.data(), sink.size());
}

bool reads_back(const Polygon& polygon) {
  auto finite = [](const LineString& ring) {
    if (ring.coords.empty()) return false;
    for (const Coord& c : ring.coords) {
      if (!std::isfinite(c.x) || !std::isfinite(c.y)) return false;
    }
    return true;
  };
  if (polygon.is_empty()) return true;
  if (!finite(polygon.exterior())) return false;
  for (const auto& ring : polygon.interiors()) {
    if (!finite(ring)) return false;
  }
  return true;
}

bool reads_back(const wkt::Polygonal& polygonal) {
  if (!polygonal.multi) return reads_back(polygonal.polygon);
  for (const Polygon& p : polygonal.polygons) {
    if (!reads_back(p)) return false;
  }
  return true;
}

// The tree's reading, in the same written form.
std::string through_the_tree(std::string_view text) {
  wkt::Wkt tree;
  if (wkt::Wkt::from_str(text, tree) != nullptr) return "parse error";
  wkt::Polygonal polygonal;
  if (auto* polygon = std::get_if<wkt::Polygon>(&tree.item.value)) {
    polygonal.polygon = wkt::from(std::move(*polygon));
  } else if (auto* multi = std::get_if<wkt::MultiPolygon>(&tree.item.value)) {
    polygonal.multi = true;
    for (wkt::Polygon& p : multi->polygons) polygonal.polygons.push_back(wkt::from(std::move(p)));
  } else {
    return "other kind";
  }
  return written(polygonal);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  wkt::Polygonal polygonal;
  std::string message;
  const bool read = wkt::read_polygonal(text, polygonal, message);
  const std::string tree = through_the_tree(text);
  if (read != (tree != "parse error" && tree != "other kind")) std::abort();
  if (read && written(polygonal) != tree) std::abort();
  if (read && !polygonal.multi) {
    // quillmere's own reading of the POLYGON text.
    try {
      if (wkt::polygon_to_wkt_string(wkt::read_polygon_from_wkt(text)) != written(polygonal)) std::abort();
    } catch (const Stop&) {
      std::abort();
    }
  }
  if (!read) {
    if (message.rfind("Unable to ", 0) != 0) std::abort();
    bool stopped = false;
    try {
      wkt::read_polygon_from_wkt(text);
    } catch (const Stop& stop) {
      stopped = true;
      if (stop.message() != message) std::abort();
    }
    if (!stopped) std::abort();
    return 0;
  }

  const std::string first = written(polygonal);
  if (reads_back(polygonal)) {
    wkt::Polygonal again;
    if (!wkt::read_polygonal(first, again, message) || written(again) != first) std::abort();
  }

  // As smooth_simplify_wkts finishes a text (few points: rings stay small).
  const std::uint64_t passes = flags & 3;
  const double tolerance = (flags & 4) ? 0.5 : 0.0;
  const bool keep = (flags & 8) != 0;
  auto finish = [&](Polygon& p) {
    p = smooth_simplify_polygon(std::move(p), passes, tolerance);
    if (!keep) p.drop_short_rings(4);
  };
  if (polygonal.multi) {
    for (Polygon& p : polygonal.polygons) finish(p);
    if (!keep) std::erase_if(polygonal.polygons, [](const Polygon& p) { return p.is_empty(); });
  } else {
    finish(polygonal.polygon);
  }
  const std::string result = written(polygonal);
  if (!keep && reads_back(polygonal)) {
    wkt::Polygonal again;
    if (!wkt::read_polygonal(result, again, message) || written(again) != result) std::abort();
  }
  return 0;
}
