// Items handed out largest first, one at a time, to whichever worker asks.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <numeric>
#include <vector>

namespace quillmere::pool {

// A batch's pieces split its index range by count, which shares items of
// very different sizes unevenly (the largest may land together in one
// piece). Pieces that draw from this queue instead each take the largest
// item left, so that the workers end together.
class LargestFirst {
 public:
  // Items 0 ... n - 1, size_of(i) their sizes; equal sizes keep their order.
  template <class SizeOf>
  LargestFirst(std::size_t n, SizeOf size_of) : order_(n) {
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    std::stable_sort(order_.begin(), order_.end(),
                     [&size_of](std::size_t a, std::size_t b) { return size_of(a) > size_of(b); });
  }
  LargestFirst(const LargestFirst&) = delete;
  LargestFirst& operator=(const LargestFirst&) = delete;

  // The next item into `item`; false when none is left.
  bool take(std::size_t& item) noexcept {
    const std::size_t j = next_.fetch_add(1, std::memory_order_relaxed);
    if (j >= order_.size()) return false;
    item = order_[j];
    return true;
  }

  std::size_t size() const noexcept { return order_.size(); }

 private:
  std::vector<std::size_t> order_;
  std::atomic<std::size_t> next_{0};
};

}  // namespace quillmere::pool
