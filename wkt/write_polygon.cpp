#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

template <class Coords>
void write_ring(const Coords& coords, std::string& sink) {
  bool first = true;
  for (const auto& c : coords) {
    if (!first) sink += ',';
    first = false;
    write_number(c.x, sink);
    sink += ' ';
    write_number(c.y, sink);
  }
}

// Typical coordinates need well under this; the string grows if not.
constexpr std::size_t bytes_per_coord_estimate = 40;

}  // namespace

Polygon g_polygon_to_w_polygon(const quillmere::Polygon& polygon) {
  Polygon out;
  out.rings.reserve(1 + polygon.interiors().size());
  auto convert = [&out](const quillmere::LineString& ring) {
    LineString& converted = out.rings.emplace_back();
    converted.coords.reserve(ring.coords.size());
    for (const quillmere::Coord& c : ring.coords) converted.coords.push_back(Coord{c.x, c.y, {}, {}});
  };
  // An empty exterior leaves no trace; empty interiors stay.
  if (!polygon.exterior().coords.empty()) convert(polygon.exterior());
  for (const quillmere::LineString& ring : polygon.interiors()) convert(ring);
  return out;
}

void write_polygon(const Polygon& polygon, std::string& sink) {
  if (polygon.rings.empty()) {
    sink += "POLYGON EMPTY";
    return;
  }
  sink += "POLYGON((";
  for (std::size_t i = 0; i < polygon.rings.size(); ++i) {
    if (i > 0) sink += "),(";
    write_ring(polygon.rings[i].coords, sink);
  }
  sink += "))";
}

std::string polygon_to_wkt_string(const quillmere::Polygon& polygon) {
  // The rings of g_polygon_to_w_polygon, written straight from the polygon.
  const bool has_exterior = !polygon.exterior().coords.empty();
  if (!has_exterior && polygon.interiors().empty()) return "POLYGON EMPTY";
  std::size_t coords = polygon.exterior().coords.size();
  for (const auto& ring : polygon.interiors()) coords += ring.coords.size();
  std::string out;
  out.reserve(16 + 3 * polygon.interiors().size() + coords * bytes_per_coord_estimate);
  out += "POLYGON((";
  bool first = true;
  if (has_exterior) {
    write_ring(polygon.exterior().coords, out);
    first = false;
  }
  for (const auto& ring : polygon.interiors()) {
    if (!first) out += "),(";
    first = false;
    write_ring(ring.coords, out);
  }
  out += "))";
  return out;
}

}  // namespace quillmere::wkt
