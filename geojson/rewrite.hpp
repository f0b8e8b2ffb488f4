// Byte-preserving rewrite of a GeoJSON text: the "coordinates" value of every
// Polygon and MultiPolygon geometry is replaced by the coordinates of its
// transformed polygons; every other byte of the text is kept.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "geometry/geometry.hpp"

namespace quillmere::geojson {

struct RewriteOptions {
  // Replaces one polygon by its result; called on pool workers for large
  // texts, so it must be safe to call concurrently. Must not throw a Stop.
  void (*transform)(void* context, Polygon& polygon) = nullptr;
  void* context = nullptr;
  // false: a ring left with fewer than 4 positions is dropped, a polygon
  // without its exterior is written [] and leaves its MultiPolygon. true:
  // every ring is written as it is (an empty polygon as [[]], as quillmere
  // writes it).
  bool keep_collapsed = false;
  // Looked at between polygons and while parsing; once true the rewrite
  // throws json::Cancelled.
  const std::atomic<bool>* cancelled = nullptr;
  // Texts of at least this many bytes, with more than one polygon, have
  // their polygons converted, transformed and written in parallel batches.
  std::size_t parallel_from_bytes = std::size_t{1} << 20;
};

// Rewrites one text. A text is valid when the JSON reader and the GeoJSON
// rules of quillmere accept it, with a Feature or a Geometry allowed at the
// top level too, and when every polygon has positions of at least two
// numbers. For a valid text, appends the rewritten text to `out` and returns
// true; each replaced value is written compactly (quillmere's number text,
// positions of two numbers, exterior ring first). For an invalid one, leaves
// `out` as it was and returns false with quillmere's message in `reason`
// ("called `Result::unwrap()` on an `Err` value: ..." or "index out of
// bounds: ..."). May throw std::bad_alloc, json::Cancelled, or whatever the
// transform throws.
bool rewrite_geojson(std::string_view text, const RewriteOptions& options, std::string& out, std::string& reason);

// Appends the coordinates of one polygon as quillmere writes them: "[",
// the exterior ring (even when empty), the interior rings, "]", each ring
// "[[x,y],...]".
void append_polygon_coordinates(const Polygon& polygon, std::string& out);

}  // namespace quillmere::geojson
