// Stretch estimates two points at a time, in two-lane vector arithmetic
// (SSE2 on the x86-64 baseline); each lane keeps its own largest and second
// largest, and the lanes are merged by the rule that a tie between lanes is
// a tie.
#include <cstring>

#include "geometry/rdp_screen.hpp"

namespace quillmere {

namespace {

typedef double Lanes __attribute__((vector_size(16)));
typedef long long Masks __attribute__((vector_size(16)));
constexpr int lanes = 2;

}  // namespace

std::size_t estimate_stretch_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out) {
  std::size_t i = lo + 1;
  if (hi - i < 8) return i;  // short stretches: lanes would not pay
  const Coord s = points[lo];
  const Coord e = points[hi];
  const bool degenerate = s == e;
  const double dx = e.x - s.x;
  const double dy = e.y - s.y;
  const double l2 = dx * dx + dy * dy;
  const double inner = l2 * (1.0 - 0x1p-30);
  Lanes top = {0.0, 0.0};
  Lanes second = top;
  Masks at = {0, 0};
  Masks near = {0, 0};
  Masks index = {static_cast<long long>(i), static_cast<long long>(i + 1)};
  for (; i + lanes <= hi; i += lanes, index += lanes) {
    Lanes a;
    Lanes b;
    std::memcpy(&a, points + i, sizeof a);
    std::memcpy(&b, points + i + 1, sizeof b);
    const Lanes x = __builtin_shufflevector(a, b, 0, 2);
    const Lanes y = __builtin_shufflevector(a, b, 1, 3);
    const Lanes ax = x - s.x;
    const Lanes ay = y - s.y;
    Lanes q;
    if (degenerate) {
      q = ax * ax + ay * ay;
    } else {
      const Lanes n = ax * dx + ay * dy;
      const Masks forward = n > 0.0;
      const Masks inside = forward & (n < inner);
      near |= forward & (n < l2) & ~inside;
      const Lanes cross = ax * dy - ay * dx;
      const Lanes bx = x - e.x;
      const Lanes by = y - e.y;
      const Lanes to_start = ax * ax + ay * ay;
      const Lanes to_end = bx * bx + by * by;
      q = inside ? cross * cross : (to_end < to_start ? to_end : to_start) * l2;
    }
    const Masks above = q > top;
    second = above ? top : (q > second ? q : second);
    at = above ? index : at;
    top = above ? q : top;
  }
  if (!degenerate) out.scale = l2;
  for (int lane = 0; lane < lanes; ++lane) out.near_an_end |= near[lane] != 0;
  // The lane holding the largest estimate (the first such lane); every
  // other lane's largest counts as a second.
  int best = 0;
  for (int lane = 1; lane < lanes; ++lane) {
    if (top[lane] > top[best]) best = lane;
  }
  out.top = top[best];
  out.at = top[best] > 0.0 ? static_cast<std::size_t>(at[best]) : lo;
  double rest = 0.0;
  for (int lane = 0; lane < lanes; ++lane) {
    rest = std::max(rest, second[lane]);
    if (lane != best) rest = std::max(rest, top[lane]);
  }
  out.second = rest;
  return i;
}

}  // namespace quillmere
