#include "geometry/geometry.hpp"
#include "geometry/segment_distance.hpp"

namespace quillmere {

double point_line_euclidean_distance(Coord start, Coord end, Coord p) {
  return SegmentDistance(start, end)(p);
}

}  // namespace quillmere
