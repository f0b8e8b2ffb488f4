// Polygons in the flat array layout of shapely's to_ragged_array: one
// coordinate array and nested offset arrays (rings into coordinates,
// polygons into rings, multipolygons into polygons). Read in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"

namespace quillmere::ragged {

// A read-only array of offsets whose elements are int32 or int64.
struct Offsets {
  const void* data = nullptr;
  std::size_t size = 0;
  bool wide = false;  // int64 elements

  std::int64_t operator[](std::size_t i) const noexcept {
    return wide ? static_cast<const std::int64_t*>(data)[i] : static_cast<const std::int32_t*>(data)[i];
  }
};

// The geometry type codes of shapely.GeometryType.
enum class Kind { Polygon = 3, MultiPolygon = 6 };

struct Arrays {
  Kind kind = Kind::Polygon;
  const double* coords = nullptr;  // x0 y0 x1 y1 ...
  std::size_t num_coords = 0;
  // [0] rings into coords, [1] polygons into rings, [2] multipolygons into
  // polygons (MultiPolygon only).
  std::vector<Offsets> offsets;
};

// Why the arrays cannot be read safely (an offset array that is empty,
// negative, decreasing or pointing past the array it indexes), naming the
// array and the position; nothing when they can.
std::optional<std::string> check(const Arrays& arrays);

// Polygons of the arrays (over all multipolygons for the MultiPolygon kind).
std::size_t polygon_count(const Arrays& arrays) noexcept;
// Rings of polygon p, closed as every Polygon is built.
Polygon read_polygon(const Arrays& arrays, std::size_t p);

// Where each result polygon goes in the output arrays, counted from the
// results: polygons that are left out (nothing at all in a MultiPolygon
// when `drop_empty`) take no place.
struct Layout {
  std::size_t num_coords = 0;
  std::size_t num_rings = 0;
  std::size_t num_polygons = 0;  // kept
  struct Place {
    std::size_t coord = 0;
    std::size_t ring = 0;
  };
  std::vector<Place> places;  // per input polygon
};
Layout plan_output(const Arrays& arrays, std::span<const Polygon> results, bool drop_empty);

// The output's offset arrays (int64): polygons into rings, and for
// MultiPolygon multipolygons into polygons, of sizes num_polygons + 1 and
// (multipolygon count) + 1.
void write_outer_offsets(const Arrays& arrays, std::span<const Polygon> results, bool drop_empty,
                         std::int64_t* polygon_offsets, std::int64_t* multipolygon_offsets);
// Polygon p's coordinates and ring offsets, at its place; the last ring
// offset (the coordinate total) is written by the caller.
void write_polygon(const Polygon& polygon, const Layout::Place& place, double* coords,
                   std::int64_t* ring_offsets) noexcept;

}  // namespace quillmere::ragged
