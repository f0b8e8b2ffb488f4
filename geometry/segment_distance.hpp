// Distance from points to one segment, with the per-segment values computed
// once. Each distance is bit-for-bit the one of the plain formula: the same
// operations on the same operands, only hoisted out of the loop.
#pragma once

#include <cmath>

#include "geometry/geometry.hpp"

namespace quillmere {

class SegmentDistance {
 public:
  SegmentDistance(Coord start, Coord end) noexcept
      : s_(start),
        e_(end),
        degenerate_(start == end),
        dx_(end.x - start.x),
        dy_(end.y - start.y),
        l2_(dx_ * dx_ + dy_ * dy_),
        length_(degenerate_ ? 0.0 : std::hypot(dx_, dy_)) {}

  double operator()(Coord p) const noexcept {
    if (degenerate_) return std::hypot(s_.x - p.x, s_.y - p.y);
    // Foot of p along the segment; a NaN foot falls through to the last case.
    const double r = ((p.x - s_.x) * dx_ + (p.y - s_.y) * dy_) / l2_;
    if (r <= 0.0) return std::hypot(s_.x - p.x, s_.y - p.y);
    if (r >= 1.0) return std::hypot(e_.x - p.x, e_.y - p.y);
    const double t = ((s_.y - p.y) * dx_ - (s_.x - p.x) * dy_) / l2_;
    return length_ * std::fabs(t);
  }

 private:
  Coord s_;
  Coord e_;
  bool degenerate_;
  double dx_;
  double dy_;
  double l2_;
  double length_;
};

}  // namespace quillmere
