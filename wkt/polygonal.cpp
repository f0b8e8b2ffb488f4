#include "wkt/polygonal.hpp"

#include <utility>
#include <variant>

namespace quillmere::wkt {

bool read_polygonal(std::string_view text, Polygonal& out, std::string& message) {
  out.multi = false;
  // The usual shapes in one tight scan each.
  if (scan_polygon(text, out.polygon)) return true;
  if (scan_multipolygon(text, out.polygons)) {
    out.multi = true;
    return true;
  }
  // Everything else through the tree, whose rules the scans follow.
  Wkt tree;
  if (ErrorText error = Wkt::from_str(text, tree)) {
    message = "Unable to parse Polygon from WKT: " + debug_text(error);
    return false;
  }
  if (auto* polygon = std::get_if<Polygon>(&tree.item.value)) {
    out.polygon = from(std::move(*polygon));
    return true;
  }
  if (auto* multi = std::get_if<MultiPolygon>(&tree.item.value)) {
    out.multi = true;
    out.polygons.clear();
    out.polygons.reserve(multi->polygons.size());
    for (Polygon& polygon : multi->polygons) out.polygons.push_back(from(std::move(polygon)));
    return true;
  }
  // Another kind: the message of quillmere's conversion and narrowing.
  quillmere::Geometry geometry;
  if (auto error = try_from(std::move(tree.item), geometry)) {
    message = "Unable to read Polygon from WKT: " + error->debug();
    return false;
  }
  quillmere::Polygon unused;
  if (auto error = try_from(std::move(geometry), unused)) {
    message = "Unable to read Polygon from WKT: " + error->debug();
    return false;
  }
  // Not reached: only a Polygon narrows, and it was taken above.
  out.polygon = std::move(unused);
  return true;
}

void write_multipolygon_text(std::span<const quillmere::Polygon> polygons, TextSink& sink) {
  if (polygons.empty()) {
    sink.append("MULTIPOLYGON EMPTY");
    return;
  }
  sink.append("MULTIPOLYGON(");
  bool first = true;
  for (const quillmere::Polygon& polygon : polygons) {
    if (!first) sink.append(",");
    first = false;
    write_polygon_body(polygon, sink);
  }
  sink.append(")");
}

void write_polygonal_text(const Polygonal& polygonal, TextSink& sink) {
  if (polygonal.multi) {
    write_multipolygon_text(polygonal.polygons, sink);
  } else {
    write_polygon_text(polygonal.polygon, sink);
  }
}

}  // namespace quillmere::wkt
