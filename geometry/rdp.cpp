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

void rdp_in_place(std::vector<Coord>& points, const double& tolerance) {
  if (tolerance <= 0.0) return;
  if (points.size() == 1) {
    // The one record is kept twice: the result outgrows the input.
    points.push_back(points.front());
    return;
  }
  // The walk keeps positions in increasing order and never reads a point
  // before the last one it kept, so each kept point can move down to the
  // next free place at once.
  Coord* p = points.data();
  std::size_t count = 0;
  rdp_walk(points.size(), ContiguousCoords{p}, tolerance, [&count, p](std::size_t i) { p[count++] = p[i]; });
  points.resize(count);
}

}  // namespace quillmere
