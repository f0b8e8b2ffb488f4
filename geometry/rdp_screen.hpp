// Deciding a stretch's split from estimated distances.
//
// The exact distance costs a libm hypot and a division per stretch and two
// divisions per point (and a hypot per point beside the segment's ends:
// every point of a closed ring's first step). Most stretches of real rings
// are short, so the per-stretch part alone dominated. The walk only needs
// to know where to split, or that it must not, so an estimate of each
// squared distance times L2 (the squared segment length) is computed
// instead, with multiplications only, within a relative 2^-46 of the
// exact distance's. When the largest estimate is clear of the tolerance
// and of every other estimate by a relative 2^-40, the decision is the
// exact one; otherwise the caller falls back to exact distances.
//
// The error bound needs every value in the normal range: each coordinate
// must be 0 or of magnitude within [2^-100, 2^100], and the tolerance
// within [2^-100, 2^100]. Then every nonzero difference of coordinates is
// at least 2^-152, a nonzero cross product at least 2^-356, and every
// product used stays between 2^-800 and 2^800, as do the exact formula's
// own steps, so all errors are relative and zeros are exact. Which case of
// the formula applies follows from the foot's numerator n = (p - s).(e - s)
// alone: n <= 0 is the start's case, n >= L2 the end's, and 0 < n <
// L2 (1 - 2^-30) the segment's; in the narrow band left, where the
// quotient might round to 1, the stretch is left undecided.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "geometry/geometry.hpp"

namespace quillmere {

inline bool in_screening_range(double v) noexcept {
  const double a = std::fabs(v);
  return a == 0.0 || (a >= 0x1p-100 && a <= 0x1p100);
}

// Whether every coordinate of the n points allows estimating.
template <class CoordAt>
bool screenable(std::size_t n, const CoordAt& coord_at) noexcept {
  bool ok = true;
  for (std::size_t i = 0; i < n; ++i) {
    const Coord c = coord_at(i);
    ok &= in_screening_range(c.x) & in_screening_range(c.y);
  }
  return ok;
}

// The squared tolerance, once per walk.
struct ScreenedTolerance {
  bool usable = false;
  double squared = 0.0;

  explicit ScreenedTolerance(double tolerance) noexcept {
    if (tolerance > 0.0 && in_screening_range(tolerance)) {
      usable = true;
      squared = tolerance * tolerance;
    }
  }
};

inline constexpr std::size_t undecided = static_cast<std::size_t>(-1);

// Points held contiguously: their stretches are estimated several at a time.
struct ContiguousCoords {
  const Coord* points;
  Coord operator()(std::size_t i) const noexcept { return points[i]; }
};

// What a stretch's estimates tell: the largest (at its earliest position),
// the largest of the others (equal to the largest on a tie), the scale of
// the estimates (squared distances times `scale`), and whether some foot
// fell in the band where the formula's case is not known.
struct StretchEstimates {
  double top = 0.0;
  double second = 0.0;
  std::size_t at = 0;
  double scale = 1.0;
  bool near_an_end = false;

  // A strict comparison keeps the earlier of equal estimates on top; the
  // later one becomes the second and leaves the decision to exact distances.
  void take(std::size_t i, double q) noexcept {
    if (q > top) {
      second = top;
      top = q;
      at = i;
    } else {
      second = std::max(second, q);
    }
  }
};

// The estimates of the inner points lo + 1 ... hi - 1 taken into `out`,
// whose `at` starts at lo; `first` is where to start (the lanes may have
// taken the points before it).
template <class CoordAt>
void estimate_stretch(const CoordAt& coord_at, std::size_t lo, std::size_t first, std::size_t hi,
                      StretchEstimates& out) {
  // Worked on in locals: `out` is seen by the lanes' out-of-line code, so
  // its fields would otherwise go through memory on every point.
  StretchEstimates local = out;
  const Coord s = coord_at(lo);
  const Coord e = coord_at(hi);
  if (s == e) {
    for (std::size_t i = first; i < hi; ++i) {
      const Coord p = coord_at(i);
      const double u = p.x - s.x;
      const double v = p.y - s.y;
      local.take(i, u * u + v * v);
    }
    out = local;
    return;
  }
  const double dx = e.x - s.x;
  const double dy = e.y - s.y;
  const double l2 = dx * dx + dy * dy;
  const double inner = l2 * (1.0 - 0x1p-30);
  local.scale = l2;
  bool near_an_end = false;
  for (std::size_t i = first; i < hi; ++i) {
    const Coord p = coord_at(i);
    const double ax = p.x - s.x;
    const double ay = p.y - s.y;
    const double n = ax * dx + ay * dy;
    // Both cases computed and one chosen: which applies follows no pattern.
    const bool forward = n > 0.0;
    const bool inside = forward & (n < inner);
    // Beyond an end the nearer end is the one the foot passed.
    near_an_end |= forward & (n < l2) & !inside;
    const double cross = ax * dy - ay * dx;
    const double bx = p.x - e.x;
    const double by = p.y - e.y;
    const double to_start = ax * ax + ay * ay;
    const double to_end = bx * bx + by * by;
    local.take(i, inside ? cross * cross : std::min(to_start, to_end) * l2);
  }
  local.near_an_end |= near_an_end;
  out = local;
}

// The same over contiguous points, several lanes at a time for the bulk of
// a long stretch; returns the position where the lanes stopped. Uses four
// lanes when four_lanes_supported(), two otherwise (both exposed for tests).
std::size_t estimate_stretch_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out);
inline constexpr std::size_t lanes_from = 8;  // inner points, at least
std::size_t estimate_stretch_two_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out);
std::size_t estimate_stretch_four_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out);
bool four_lanes_supported() noexcept;

// The split position of the stretch (lo, hi) with at least one inner point,
// lo to keep it whole, or `undecided`. The tolerance must be usable.
template <class CoordAt>
std::size_t screened_split_position(const CoordAt& coord_at, std::size_t lo, std::size_t hi,
                                    const ScreenedTolerance& tolerance) {
  StretchEstimates estimates;
  estimates.at = lo;
  std::size_t first = lo + 1;
  if constexpr (std::is_same_v<CoordAt, ContiguousCoords>) {
    // Short stretches, the most common, are not worth the lanes' setup.
    if (hi - lo > lanes_from) first = estimate_stretch_lanes(coord_at.points, lo, hi, estimates);
  }
  estimate_stretch(coord_at, lo, first, hi, estimates);
  if (estimates.near_an_end) return undecided;
  const double top = estimates.top;
  const double bound = tolerance.squared * estimates.scale;
  if (top * (1.0 + 0x1p-40) <= bound * (1.0 - 0x1p-40)) return lo;
  const double threshold = top * (1.0 - 0x1p-40);
  if (estimates.second < threshold && threshold >= bound * (1.0 + 0x1p-40)) return estimates.at;
  return undecided;
}

}  // namespace quillmere
