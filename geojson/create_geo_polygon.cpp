#include <cmath>
#include <string>

#include "common/stop.hpp"
#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

double to_f64(const json::Value& number) { return number.as_f64().value_or(std::nan("")); }

LineString ring_to_line_string(const json::Value& ring) {
  std::span<const json::Value> positions = ring.elements();
  LineString line;
  // One spare slot for the closing point the Polygon constructor may add.
  line.coords.reserve(positions.size() + 1);
  for (const json::Value& position : positions) {
    std::span<const json::Value> numbers = position.elements();
    if (numbers.size() < 2) {
      const std::string n = std::to_string(numbers.size());
      throw Stop("index out of bounds: the len is " + n + " but the index is " + n);
    }
    line.coords.push_back(Coord{to_f64(numbers[0]), to_f64(numbers[1])});
  }
  return line;
}

}  // namespace

Polygon create_geo_polygon(const json::Value& payload) {
  std::span<const json::Value> rings = payload.elements();
  LineString exterior;
  std::vector<LineString> interiors;
  if (!rings.empty()) {
    exterior = ring_to_line_string(rings[0]);
    interiors.reserve(rings.size() - 1);
    for (const json::Value& ring : rings.subspan(1)) interiors.push_back(ring_to_line_string(ring));
  }
  return Polygon(std::move(exterior), std::move(interiors));
}

}  // namespace quillmere::geojson
