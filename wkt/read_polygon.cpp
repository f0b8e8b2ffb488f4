#include <utility>

#include "common/stop.hpp"
#include "wkt.hpp"

namespace quillmere::wkt {

quillmere::Polygon read_polygon_from_wkt(std::string_view text) {
  quillmere::Polygon scanned;
  if (scan_polygon(text, scanned)) return scanned;
  // Polygon texts, the only ones that can succeed, skip the tree.
  std::vector<quillmere::LineString> rings;
  ErrorText parse_error = nullptr;
  if (polygon_rings_from_str(text, rings, parse_error)) {
    if (parse_error) throw Stop("Unable to parse Polygon from WKT: " + debug_text(parse_error));
    if (rings.empty()) return quillmere::Polygon(quillmere::LineString{}, {});
    quillmere::LineString exterior = std::move(rings.front());
    rings.erase(rings.begin());
    return quillmere::Polygon(std::move(exterior), std::move(rings));
  }
  Wkt tree;
  if (ErrorText error = Wkt::from_str(text, tree)) {
    throw Stop("Unable to parse Polygon from WKT: " + debug_text(error));
  }
  quillmere::Geometry geometry;
  if (auto error = try_from(std::move(tree.item), geometry)) {
    throw Stop("Unable to read Polygon from WKT: " + error->debug());
  }
  quillmere::Polygon polygon;
  if (auto error = try_from(std::move(geometry), polygon)) {
    throw Stop("Unable to read Polygon from WKT: " + error->debug());
  }
  return polygon;
}

}  // namespace quillmere::wkt
