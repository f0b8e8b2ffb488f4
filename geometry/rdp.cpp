#include <algorithm>

#include "geometry/geometry.hpp"
#include "geometry/rdp_walk.hpp"

namespace quillmere {

namespace {

// Room for the kept points of a small ring in one allocation; larger
// results grow geometrically from there.
constexpr std::size_t initial_room = 256;

}  // namespace

std::vector<RdpIndex> compute_rdp(std::span<const RdpIndex> points, const double& tolerance) {
  std::vector<RdpIndex> kept;
  kept.reserve(std::min(points.size(), initial_room));
  const RdpIndex* p = points.data();
  rdp_walk(
      points.size(), [p](std::size_t i) { return p[i].coord; }, tolerance,
      [&kept, p](std::size_t i) { kept.push_back(p[i]); });
  return kept;
}

std::vector<Coord> rdp(std::span<const Coord> points, const double& tolerance) {
  // -0.0 counts as <= 0; NaN does not and goes through the walk.
  if (tolerance <= 0.0) return {points.begin(), points.end()};
  // Walking the coordinates in place keeps exactly the points that indexed
  // records would keep (record i holds point i), with a contiguous scan loop.
  std::vector<Coord> kept;
  kept.reserve(std::min(points.size(), initial_room));
  const Coord* p = points.data();
  rdp_walk(points.size(), ContiguousCoords{p}, tolerance, [&kept, p](std::size_t i) { kept.push_back(p[i]); });
  return kept;
}

}  // namespace quillmere
