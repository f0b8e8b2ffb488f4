// Public surface of the WKT subsystem.
#pragma once

#include <string>

#include "geometry/geometry.hpp"

namespace quillmere::wkt {

// The WKT text of one result polygon, in the fixed layout.
std::string polygon_to_wkt_string(const Polygon& polygon);

}  // namespace quillmere::wkt
