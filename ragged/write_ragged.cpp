#include <cstring>

#include "ragged/ragged.hpp"

namespace quillmere::ragged {

namespace {

std::size_t ring_count(const Polygon& polygon) noexcept {
  return polygon.is_empty() ? 0 : 1 + polygon.interiors().size();
}

}  // namespace

Layout plan_output(const Arrays& arrays, std::span<const Polygon> results, bool drop_empty) {
  Layout layout;
  layout.places.resize(results.size());
  bool may_drop = drop_empty && arrays.kind == Kind::MultiPolygon;
  for (std::size_t p = 0; p < results.size(); ++p) {
    const Polygon& polygon = results[p];
    layout.places[p] = {layout.num_coords, layout.num_rings};
    if (may_drop && polygon.is_empty()) continue;
    ++layout.num_polygons;
    if (polygon.is_empty()) continue;
    layout.num_rings += ring_count(polygon);
    layout.num_coords += polygon.exterior().coords.size();
    for (const LineString& ring : polygon.interiors()) layout.num_coords += ring.coords.size();
  }
  return layout;
}

void write_outer_offsets(const Arrays& arrays, std::span<const Polygon> results, bool drop_empty,
                         std::int64_t* polygon_offsets, std::int64_t* multipolygon_offsets) {
  bool may_drop = drop_empty && arrays.kind == Kind::MultiPolygon;
  std::int64_t rings = 0;
  std::size_t kept = 0;
  // kept_before[p]: polygons kept before input polygon p, for the
  // multipolygon offsets below.
  std::vector<std::int64_t> kept_before;
  if (arrays.kind == Kind::MultiPolygon) kept_before.resize(results.size() + 1);
  for (std::size_t p = 0; p < results.size(); ++p) {
    if (!kept_before.empty()) kept_before[p] = static_cast<std::int64_t>(kept);
    if (may_drop && results[p].is_empty()) continue;
    polygon_offsets[kept++] = rings;
    rings += static_cast<std::int64_t>(ring_count(results[p]));
  }
  polygon_offsets[kept] = rings;
  if (arrays.kind != Kind::MultiPolygon) return;
  kept_before[results.size()] = static_cast<std::int64_t>(kept);
  const Offsets& members = arrays.offsets[2];
  for (std::size_t m = 0; m < members.size; ++m) {
    multipolygon_offsets[m] = kept_before[static_cast<std::size_t>(members[m])];
  }
}

void write_polygon(const Polygon& polygon, const Layout::Place& place, double* coords,
                   std::int64_t* ring_offsets) noexcept {
  if (polygon.is_empty()) return;
  std::size_t coord = place.coord;
  std::size_t ring = place.ring;
  auto write_ring = [&](const LineString& line) {
    ring_offsets[ring++] = static_cast<std::int64_t>(coord);
    // An empty ring may have no storage at all: no copy from a null pointer.
    if (!line.coords.empty()) std::memcpy(coords + 2 * coord, line.coords.data(), line.coords.size() * sizeof(Coord));
    coord += line.coords.size();
  };
  write_ring(polygon.exterior());
  for (const LineString& line : polygon.interiors()) write_ring(line);
}

}  // namespace quillmere::ragged
