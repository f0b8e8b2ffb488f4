// Size checks that let smoothing fail fast, with std::bad_alloc, when the
// point count of a many-pass result cannot be represented or allocated,
// instead of allocating pass after pass until memory runs out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/geometry.hpp"

namespace quillmere {

// Point count of `line` after `passes` (> 0) passes. Exact for open lines and
// for rings that stay closed; a ring whose start turns NaN reopens and grows a
// little faster, so this is a lower bound (each pass still checks its size).
// Throws std::bad_alloc when the count exceeds what a coordinate vector holds.
std::size_t smoothed_point_count(const LineString& line, std::uint64_t passes);

// Throws std::bad_alloc when `points` coordinates, plus `transient_points`
// more for the pass that builds them, cannot be allocated. Only large sizes
// are probed; small ones are left to the ordinary allocation.
void ensure_allocatable(std::size_t points, std::size_t transient_points);

}  // namespace quillmere
