// Public surface of the geometry core: the shared geometry types and the
// smoothing (Chaikin) and simplification (Ramer-Douglas-Peucker) operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <variant>
#include <vector>

namespace quillmere {

// IEEE equality of x then y is the only same-point test of the system:
// NaN never equals anything, 0.0 equals -0.0.
struct Coord {
  double x = 0.0;
  double y = 0.0;
  friend constexpr bool operator==(const Coord& a, const Coord& b) noexcept {
    return a.x == b.x && a.y == b.y;
  }
};

struct LineString {
  std::vector<Coord> coords;

  // Closed: at least one point and first == last (so one point is closed).
  bool is_closed() const noexcept {
    return !coords.empty() && coords.front() == coords.back();
  }
  friend bool operator==(const LineString&, const LineString&) = default;
};

// Every Polygon is made by this one construction, which closes each non-empty
// ring whose ends differ (exterior first, then interiors in order).
class Polygon {
 public:
  Polygon() = default;
  Polygon(LineString exterior, std::vector<LineString> interiors)
      : exterior_(std::move(exterior)), interiors_(std::move(interiors)) {
    close_ring(exterior_);
    for (auto& ring : interiors_) close_ring(ring);
  }

  const LineString& exterior() const noexcept { return exterior_; }
  const std::vector<LineString>& interiors() const noexcept { return interiors_; }
  // The rings, given up to a caller that builds a new polygon from them.
  std::pair<LineString, std::vector<LineString>> into_rings() && {
    return {std::move(exterior_), std::move(interiors_)};
  }

  friend bool operator==(const Polygon&, const Polygon&) = default;

  // The rings of fewer than `min_points` positions are dropped; without its
  // exterior the polygon is empty. The kept rings are untouched (not closed
  // again). Used where results must be buildable by GEOS (4 positions).
  void drop_short_rings(std::size_t min_points) noexcept {
    if (exterior_.coords.size() < min_points) {
      *this = Polygon();
      return;
    }
    std::erase_if(interiors_, [min_points](const LineString& ring) { return ring.coords.size() < min_points; });
  }
  bool is_empty() const noexcept { return exterior_.coords.empty() && interiors_.empty(); }

 private:
  static void close_ring(LineString& ring) {
    if (!ring.coords.empty() && !(ring.coords.front() == ring.coords.back())) {
      ring.coords.push_back(ring.coords.front());
    }
  }

  LineString exterior_;
  std::vector<LineString> interiors_;
};

struct Point {
  Coord coord;
};
struct Line {
  Coord start;
  Coord end;
};
struct MultiPoint {
  std::vector<Point> points;
};
struct MultiLineString {
  std::vector<LineString> lines;
};
struct MultiPolygon {
  std::vector<Polygon> polygons;
};
struct Geometry;
struct GeometryCollection {
  std::vector<Geometry> geometries;
};
struct Rect {
  Coord min;
  Coord max;
};
struct Triangle {
  Coord a;
  Coord b;
  Coord c;
};

// The ten kinds, in their fixed order.
struct Geometry {
  std::variant<Point, Line, LineString, Polygon, MultiPoint, MultiLineString,
               MultiPolygon, GeometryCollection, Rect, Triangle>
      value;
};

// Fixed type-name text of a geometry's kind, used in mismatch messages.
const char* inner_type_name(const Geometry& geometry) noexcept;

// ---- Chaikin smoothing -----------------------------------------------------

// One corner-cutting pass.
LineString smoothen_linestring(const LineString& line);
// n passes (n = 0 copies the line).
LineString chaikin_smoothing(const LineString& line, std::uint64_t passes);
// n passes over the exterior and every interior ring.
Polygon chaikin_smoothing(const Polygon& polygon, std::uint64_t passes);

// ---- Ramer-Douglas-Peucker simplification ----------------------------------

struct RdpIndex {
  std::uint64_t index;
  Coord coord;
};

// Distance from p to the segment start-end, clamped at the segment's ends.
double point_line_euclidean_distance(Coord start, Coord end, Coord p);
std::vector<RdpIndex> compute_rdp(std::span<const RdpIndex> points, const double& tolerance);
std::vector<Coord> rdp(std::span<const Coord> points, const double& tolerance);
// rdp with the kept points moved to the front of the points' own storage,
// which is then cut to them.
void rdp_in_place(std::vector<Coord>& points, const double& tolerance);
Polygon simplify(const Polygon& polygon, const double& tolerance);
// simplify of a polygon that is no longer needed: its rings' storage holds
// the result.
Polygon simplify(Polygon&& polygon, const double& tolerance);

}  // namespace quillmere
