// Stretch estimates several points at a time in vector arithmetic: four
// lanes where the processor has AVX2 (chosen once, at load), two (SSE2, the
// x86-64 baseline) elsewhere. Each lane keeps its own largest and second
// largest, and the lanes are merged by the rule that a tie between lanes is
// a tie. Only estimates are computed here, so the choice of instructions
// cannot change a result.
#include <cstring>

#include "geometry/rdp_screen.hpp"

namespace quillmere {

namespace {

template <int lanes>
struct Vectors;
template <>
struct Vectors<2> {
  typedef double Lanes __attribute__((vector_size(16)));
  typedef long long Masks __attribute__((vector_size(16)));
};
template <>
struct Vectors<4> {
  typedef double Lanes __attribute__((vector_size(32)));
  typedef long long Masks __attribute__((vector_size(32)));
};

template <int lanes>
[[gnu::always_inline]] inline std::size_t estimate_in_lanes(const Coord* points, std::size_t lo, std::size_t hi,
                                                           StretchEstimates& out) {
  using Lanes = typename Vectors<lanes>::Lanes;
  using Masks = typename Vectors<lanes>::Masks;
  std::size_t i = lo + 1;
  if (hi - i < lanes_from) return i;
  const Coord s = points[lo];
  const Coord e = points[hi];
  const bool degenerate = s == e;
  const double dx = e.x - s.x;
  const double dy = e.y - s.y;
  const double l2 = dx * dx + dy * dy;
  const double inner = l2 * (1.0 - 0x1p-30);
  Lanes top = {};
  Lanes second = {};
  Masks at = {};
  Masks near = {};
  Masks index;
  for (int lane = 0; lane < lanes; ++lane) index[lane] = static_cast<long long>(i) + lane;
  for (; i + lanes <= hi; i += lanes, index += lanes) {
    // The points' x in one vector and y in another.
    Lanes a;
    Lanes b;
    std::memcpy(&a, points + i, sizeof a);
    std::memcpy(&b, points + i + lanes / 2, sizeof b);
    Lanes x;
    Lanes y;
    if constexpr (lanes == 2) {
      x = __builtin_shufflevector(a, b, 0, 2);
      y = __builtin_shufflevector(a, b, 1, 3);
    } else {
      x = __builtin_shufflevector(a, b, 0, 2, 4, 6);
      y = __builtin_shufflevector(a, b, 1, 3, 5, 7);
    }
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

using EstimateFn = std::size_t (*)(const Coord*, std::size_t, std::size_t, StretchEstimates&);

const EstimateFn estimate_with = [] {
  return four_lanes_supported() ? estimate_stretch_four_lanes : estimate_stretch_two_lanes;
}();

}  // namespace

bool four_lanes_supported() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

__attribute__((target("avx2"))) std::size_t estimate_stretch_four_lanes(const Coord* points, std::size_t lo,
                                                                        std::size_t hi, StretchEstimates& out) {
  return estimate_in_lanes<4>(points, lo, hi, out);
}

std::size_t estimate_stretch_two_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out) {
  return estimate_in_lanes<2>(points, lo, hi, out);
}

std::size_t estimate_stretch_lanes(const Coord* points, std::size_t lo, std::size_t hi, StretchEstimates& out) {
  return estimate_with(points, lo, hi, out);
}

}  // namespace quillmere
