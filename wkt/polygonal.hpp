// POLYGON and MULTIPOLYGON texts: read by the WKT reader's grammar and number
// reading with quillmere's messages, written in the writer's fixed layout
// (MULTIPOLYGON(((x y,...),(...)),((...))), MULTIPOLYGON EMPTY).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"
#include "wkt/wkt.hpp"

namespace quillmere::wkt {

// One text's polygons, in the text's kind.
struct Polygonal {
  bool multi = false;
  quillmere::Polygon polygon;                // POLYGON
  std::vector<quillmere::Polygon> polygons;  // MULTIPOLYGON members, in order
};

// Reads a POLYGON or MULTIPOLYGON text (rings closed by the shared Polygon
// construction). Returns false for any other text, with the message that
// reading it as a polygon gives in quillmere: 'Unable to parse Polygon from
// WKT: "..."' for a text that does not parse, 'Unable to read Polygon from
// WKT: MismatchedGeometry { ... }' for another kind. A POLYGON text gives
// exactly the polygon of read_polygon_from_wkt.
bool read_polygonal(std::string_view text, Polygonal& out, std::string& message);

// "MULTIPOLYGON EMPTY" without members; otherwise "MULTIPOLYGON(", the
// members' polygon bodies separated by ",", and ")". A member without rings
// is written EMPTY, which reads back as such.
void write_multipolygon_text(std::span<const quillmere::Polygon> polygons, TextSink& sink);

// The text in the input's kind: write_polygon_text or write_multipolygon_text.
void write_polygonal_text(const Polygonal& polygonal, TextSink& sink);

}  // namespace quillmere::wkt
