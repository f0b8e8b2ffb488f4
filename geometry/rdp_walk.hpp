// The Ramer-Douglas-Peucker step without recursion on the thread stack.
//
// Unfolded, the recursive step keeps the first record of every stretch that
// is not split, left to right, and then the last record of the whole list.
// Stretches are visited in that same order with a heap-held stack of stretch
// ends: the current stretch starts where the previous kept one ended, so only
// its end needs storing. Depth can reach n - 2 on a ring of n points, which
// recursion on a worker's 2 MiB stack would not survive.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/geometry.hpp"
#include "geometry/rdp_screen.hpp"
#include "geometry/segment_distance.hpp"

namespace quillmere {

// Position in (lo, hi) of the farthest inner point of the stretch when its
// distance is strictly greater than the tolerance, otherwise lo (keep the
// stretch whole). Ties keep the earlier point; NaN distances are never taken.
// A split needs an inner point: the recursive definition would otherwise,
// for a negative tolerance, split at the stretch's own start forever.
// `screening` is null when estimates cannot decide for these points.
template <class CoordAt>
std::size_t rdp_split_position(const CoordAt& coord_at, std::size_t lo, std::size_t hi, double tolerance,
                               const ScreenedTolerance* screening) {
  if (hi - lo < 2) return lo;
  if (screening != nullptr) {
    const std::size_t split = screened_split_position(coord_at, lo, hi, *screening);
    if (split != undecided) return split;
  }
  const SegmentDistance distance(coord_at(lo), coord_at(hi));
  std::size_t best = lo;
  double best_distance = 0.0;
  for (std::size_t i = lo + 1; i < hi; ++i) {
    const double d = distance(coord_at(i));
    if (d > best_distance) {
      best = i;
      best_distance = d;
    }
  }
  return best_distance > tolerance ? best : lo;
}

// The walk over a stack of stretch ends: at most one per point is pending.
template <class CoordAt, class Keep, class Ends>
void rdp_walk_with(std::size_t n, const CoordAt& coord_at, double tolerance, Keep& keep, Ends& ends) {
  const ScreenedTolerance screening(tolerance);
  const ScreenedTolerance* screened = screening.usable && screenable(n, coord_at) ? &screening : nullptr;
  ends.push(n - 1);
  std::size_t lo = 0;
  while (!ends.empty()) {
    const std::size_t hi = ends.top();
    const std::size_t split = rdp_split_position(coord_at, lo, hi, tolerance, screened);
    if (split != lo) {
      ends.push(split);
    } else {
      keep(lo);
      lo = hi;
      ends.pop();
    }
  }
  keep(n - 1);
}

// Stretch ends of a small ring, on the thread's stack.
template <std::size_t capacity>
struct FixedEnds {
  std::size_t items[capacity];
  std::size_t size = 0;
  void push(std::size_t end) noexcept { items[size++] = end; }
  std::size_t top() const noexcept { return items[size - 1]; }
  void pop() noexcept { --size; }
  bool empty() const noexcept { return size == 0; }
};

// Stretch ends of any ring, in a list kept by the thread.
struct GrowingEnds {
  std::vector<std::size_t>& items;
  void push(std::size_t end) { items.push_back(end); }
  std::size_t top() const noexcept { return items.back(); }
  void pop() noexcept { items.pop_back(); }
  bool empty() const noexcept { return items.empty(); }
};

// Calls keep(i) for every kept position of a list of n points, in order.
template <class CoordAt, class Keep>
void rdp_walk(std::size_t n, const CoordAt& coord_at, double tolerance, Keep&& keep) {
  if (n == 0) return;
  // Most rings are small: their stretch ends fit on the stack.
  constexpr std::size_t small = 64;
  if (n <= small) {
    FixedEnds<small> ends;
    rdp_walk_with(n, coord_at, tolerance, keep, ends);
    return;
  }
  // One stack per thread, reused across rings: a fresh list per ring would
  // cost several allocations as it deepens.
  thread_local std::vector<std::size_t> stack;
  stack.clear();
  GrowingEnds ends{stack};
  rdp_walk_with(n, coord_at, tolerance, keep, ends);
  // A deep walk of a huge ring does not keep its stack for the thread's life.
  if (stack.capacity() > 4096) std::vector<std::size_t>().swap(stack);
}

}  // namespace quillmere
