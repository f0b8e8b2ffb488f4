// The pipeline stages, between the module surfaces (src/, tools/) and the
// subsystems. Every stage may end in a Stop.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "geometry/geometry.hpp"

namespace quillmere {

// Reads every text into a Polygon, in parallel; the lowest-index unreadable
// text stops the call.
std::vector<Polygon> read_polygons_from_wkts(std::span<const std::string_view> texts);

// The polygons of a FeatureCollection text in document order; absent when the
// text is valid GeoJSON but not a FeatureCollection.
std::optional<std::vector<Polygon>> read_polygons_from_feature_collection(std::string_view text);

// Chaikin smoothing (when passes > 0) then RDP simplification of one polygon.
Polygon smooth_simplify_polygon(const Polygon& polygon, std::uint64_t smoothing_iterations,
                                double simplify_tolerance);
// The same for a polygon that is no longer needed: the result lives in the
// storage of the input (or of its smoothed copy), so it is meant to be used
// and released at once.
Polygon smooth_simplify_polygon(Polygon&& polygon, std::uint64_t smoothing_iterations, double simplify_tolerance);

// smooth_simplify_polygon of every polygon, in parallel, in input order.
// Consumes the input list.
std::vector<Polygon> smooth_simplify_polygons(std::vector<Polygon> polygons, std::uint64_t smoothing_iterations,
                                              double simplify_tolerance);

}  // namespace quillmere
