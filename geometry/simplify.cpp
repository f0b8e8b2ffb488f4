#include <utility>

#include "geometry/geometry.hpp"

namespace quillmere {

Polygon simplify(const Polygon& polygon, const double& tolerance) {
  LineString exterior{rdp(polygon.exterior().coords, tolerance)};
  std::vector<LineString> interiors;
  interiors.reserve(polygon.interiors().size());
  for (const LineString& ring : polygon.interiors()) {
    interiors.push_back(LineString{rdp(ring.coords, tolerance)});
  }
  return Polygon(std::move(exterior), std::move(interiors));
}

Polygon simplify(Polygon&& polygon, const double& tolerance) {
  auto [exterior, interiors] = std::move(polygon).into_rings();
  rdp_in_place(exterior.coords, tolerance);
  for (LineString& ring : interiors) rdp_in_place(ring.coords, tolerance);
  return Polygon(std::move(exterior), std::move(interiors));
}

}  // namespace quillmere
