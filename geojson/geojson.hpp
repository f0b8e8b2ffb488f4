// Public surface of the GeoJSON subsystem.
#pragma once

#include <span>
#include <string>

#include "geometry/geometry.hpp"

namespace quillmere::geojson {

// Compact FeatureCollection text with one Feature per polygon, in order.
std::string write_feature_collection(std::span<const Polygon> polygons);

}  // namespace quillmere::geojson
