#include "geometry/smoothing_size.hpp"

#include <new>
#include <vector>

namespace quillmere {

namespace {

constexpr std::size_t max_points = std::vector<Coord>{}.max_size();

// Below this many bytes an allocation failure is left to the pass itself.
constexpr std::size_t probe_threshold_bytes = std::size_t{256} << 20;

// factor * 2^passes + addend, or max_points + 1 when it does not fit.
std::size_t scaled(std::size_t factor, std::uint64_t passes, std::size_t addend) {
  if (factor == 0) return addend;
  if (passes >= 64 || factor > (max_points >> passes)) return max_points + 1;
  const std::size_t product = factor << passes;
  if (product > max_points - addend) return max_points + 1;
  return product + addend;
}

}  // namespace

std::size_t smoothed_point_count(const LineString& line, std::uint64_t passes) {
  const std::size_t m = line.coords.size();
  std::size_t count;
  if (m == 0) {
    count = 0;
  } else if (line.is_closed()) {
    // A ring of m points gives 2^n (m - 1) + 1; a lone closed point vanishes.
    count = m == 1 ? 0 : scaled(m - 1, passes, 1);
  } else {
    // An open line keeps its distinct ends, so it stays open: 2^n m.
    count = scaled(m, passes, 0);
  }
  if (count > max_points) throw std::bad_alloc();
  return count;
}

void ensure_allocatable(std::size_t points, std::size_t transient_points) {
  if (points > max_points || transient_points > max_points - points) throw std::bad_alloc();
  const std::size_t bytes = (points + transient_points) * sizeof(Coord);
  if (bytes < probe_threshold_bytes) return;
  // Reserving address space touches no page, so the probe is cheap; it fails
  // at once when the system could never hand over that much memory.
  void* probe = ::operator new(bytes, std::nothrow);
  if (probe == nullptr) throw std::bad_alloc();
  ::operator delete(probe);
}

}  // namespace quillmere
