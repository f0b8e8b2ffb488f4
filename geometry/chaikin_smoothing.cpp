#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "geometry/geometry.hpp"
#include "geometry/smoothing_size.hpp"

namespace quillmere {

namespace {

// The corner points of segment a-b, in exactly the written form:
// two products added, never a + 0.25 * (b - a).
inline Coord quarter_point(Coord a, Coord b) noexcept {
  return {0.75 * a.x + 0.25 * b.x, 0.75 * a.y + 0.25 * b.y};
}
inline Coord three_quarter_point(Coord a, Coord b) noexcept {
  return {0.25 * a.x + 0.75 * b.x, 0.25 * a.y + 0.75 * b.y};
}

}  // namespace

LineString smoothen_linestring(const LineString& line) {
  const std::vector<Coord>& in = line.coords;
  const std::size_t m = in.size();
  LineString out;
  if (m == 0) return out;

  const bool closed = line.is_closed();
  if (m > out.coords.max_size() / 2) throw std::bad_alloc();
  // Open: both ends kept plus two points per pair. Closed: two points per
  // pair plus the closing copy, nothing at all for a lone point.
  const std::size_t size = closed ? (m == 1 ? 0 : 2 * m - 1) : 2 * m;
  if (size == 0) return out;
  out.coords.reserve(size);

  if (!closed) out.coords.push_back(in.front());
  const Coord* p = in.data();
  for (std::size_t i = 0; i + 1 < m; ++i) {
    out.coords.push_back(quarter_point(p[i], p[i + 1]));
    out.coords.push_back(three_quarter_point(p[i], p[i + 1]));
  }
  if (closed) {
    out.coords.push_back(out.coords.front());
  } else {
    out.coords.push_back(in.back());
  }
  return out;
}

LineString chaikin_smoothing(const LineString& line, std::uint64_t passes) {
  if (passes == 0) return line;
  const std::size_t final_points = smoothed_point_count(line, passes);
  ensure_allocatable(final_points, final_points / 2);

  LineString current = smoothen_linestring(line);
  // An empty line is a fixed point: stop instead of spinning through a huge
  // count. Every other line grows each pass, so the size checks end the loop.
  for (std::uint64_t pass = 1; pass < passes && !current.coords.empty(); ++pass) {
    current = smoothen_linestring(current);
  }
  return current;
}

Polygon chaikin_smoothing(const Polygon& polygon, std::uint64_t passes) {
  if (passes != 0) {
    // Refuse up front a result that cannot exist, before smoothing any ring.
    std::size_t total = smoothed_point_count(polygon.exterior(), passes);
    std::size_t largest = total;
    for (const LineString& ring : polygon.interiors()) {
      const std::size_t points = smoothed_point_count(ring, passes);
      if (points > SIZE_MAX - total) throw std::bad_alloc();
      total += points;
      if (points > largest) largest = points;
    }
    ensure_allocatable(total, largest / 2);
  }

  LineString exterior = chaikin_smoothing(polygon.exterior(), passes);
  std::vector<LineString> interiors;
  interiors.reserve(polygon.interiors().size());
  for (const LineString& ring : polygon.interiors()) {
    interiors.push_back(chaikin_smoothing(ring, passes));
  }
  return Polygon(std::move(exterior), std::move(interiors));
}

}  // namespace quillmere
