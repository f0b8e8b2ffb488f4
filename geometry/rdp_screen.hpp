// Deciding a stretch's split from estimated distances.
//
// The exact distance costs a libm hypot per stretch and two divisions per
// point (and a hypot per point beside the segment's ends: every point of a
// closed ring's first step). Most stretches of real rings are short, so
// the per-stretch hypot alone dominated. The walk only needs to know
// where to split, or that it must not, so an estimate of each squared
// distance is computed instead (multiplications by 1/L2, no hypot, no
// square root), within a relative 2^-46 of the exact distance's square.
// When the largest estimate is clear of the tolerance and of every other
// estimate by a relative 2^-40, the decision is the exact one; otherwise
// the caller falls back to exact distances.
//
// The error bound needs every intermediate value in the normal range: each
// coordinate must be 0 or of magnitude within [2^-200, 2^200], and the
// tolerance within [2^-400, 2^400]. Then every nonzero difference of
// coordinates is at least 2^-252, every product and sum used stays between
// 2^-1000 and 2^1000 (past that only in values the decision does not use),
// and only a final product may become subnormal, an absolute error of at
// most 2^-1075 that a slack of 2^-1020 covers. Points whose foot lies
// within 2^-30 of the segment's ends, where the estimate and the exact
// formula might take different cases, leave the stretch undecided.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "geometry/geometry.hpp"

namespace quillmere {

inline bool in_screening_range(double v, double low, double high) noexcept {
  const double a = std::fabs(v);
  return a == 0.0 || (a >= low && a <= high);
}

// Whether every coordinate of the n points allows estimating.
template <class CoordAt>
bool screenable(std::size_t n, const CoordAt& coord_at) noexcept {
  bool ok = true;
  for (std::size_t i = 0; i < n; ++i) {
    const Coord c = coord_at(i);
    ok &= in_screening_range(c.x, 0x1p-200, 0x1p200) & in_screening_range(c.y, 0x1p-200, 0x1p200);
  }
  return ok;
}

// The squared tolerance with its margins, once per walk.
struct ScreenedTolerance {
  bool usable = false;
  double below = 0.0;  // every distance is <= the tolerance when the top estimate is this far below
  double above = 0.0;  // the top distance is > the tolerance when its estimate is this far above

  explicit ScreenedTolerance(double tolerance) noexcept {
    if (tolerance > 0.0 && in_screening_range(tolerance, 0x1p-400, 0x1p400)) {
      const double squared = tolerance * tolerance;
      usable = true;
      below = squared * (1.0 - 0x1p-50);
      above = squared * (1.0 + 0x1p-50);
    }
  }
};

inline constexpr std::size_t undecided = static_cast<std::size_t>(-1);

// The split position of the stretch (lo, hi) with at least one inner point,
// lo to keep it whole, or `undecided`. The tolerance must be usable.
template <class CoordAt>
std::size_t screened_split_position(const CoordAt& coord_at, std::size_t lo, std::size_t hi,
                                    const ScreenedTolerance& tolerance) {
  const Coord s = coord_at(lo);
  const Coord e = coord_at(hi);
  double top = 0.0;
  double second = 0.0;
  std::size_t at = lo;
  // A strict comparison keeps the earlier of equal estimates on top; the
  // later one becomes the second and leaves the decision to exact distances.
  auto take = [&](std::size_t i, double q) {
    if (q > top) {
      second = top;
      top = q;
      at = i;
    } else {
      second = std::max(second, q);
    }
  };
  bool near_an_end = false;
  if (s == e) {
    for (std::size_t i = lo + 1; i < hi; ++i) {
      const Coord p = coord_at(i);
      const double u = p.x - s.x;
      const double v = p.y - s.y;
      take(i, u * u + v * v);
    }
  } else {
    constexpr double band = 0x1p-30;
    const double dx = e.x - s.x;
    const double dy = e.y - s.y;
    const double inverse = 1.0 / (dx * dx + dy * dy);
    for (std::size_t i = lo + 1; i < hi; ++i) {
      const Coord p = coord_at(i);
      const double ax = p.x - s.x;
      const double ay = p.y - s.y;
      const double bx = p.x - e.x;
      const double by = p.y - e.y;
      const double r = (ax * dx + ay * dy) * inverse;
      const double cross = ax * dy - ay * dx;
      const bool inside = r > band && r < 1.0 - band;
      const bool outside = r < -band || r > 1.0 + band;
      near_an_end |= !(inside || outside);
      // Beyond an end the nearer end is the one the foot passed.
      take(i, inside ? (cross * inverse) * cross : std::min(ax * ax + ay * ay, bx * bx + by * by));
    }
  }
  if (near_an_end) return undecided;
  if (top * (1.0 + 0x1p-40) + 0x1p-1020 <= tolerance.below) return lo;
  const double threshold = top * (1.0 - 0x1p-40) - 0x1p-1020;
  if (second < threshold && threshold >= tolerance.above) return at;
  return undecided;
}

}  // namespace quillmere
