#include <string>

#include "ragged/ragged.hpp"

namespace quillmere::ragged {

namespace {

const char* target_name(std::size_t level) {
  static const char* const names[] = {"coords", "offsets[0]", "offsets[1]"};
  return names[level];
}

}  // namespace

std::optional<std::string> check(const Arrays& arrays) {
  std::size_t levels = arrays.kind == Kind::Polygon ? 2 : 3;
  if (arrays.offsets.size() != levels) {
    return "offsets must hold " + std::to_string(levels) + " arrays for this geometry type, not " +
           std::to_string(arrays.offsets.size());
  }
  std::size_t target_size = arrays.num_coords;
  for (std::size_t level = 0; level < levels; ++level) {
    const Offsets& offsets = arrays.offsets[level];
    std::string name = "offsets[" + std::to_string(level) + "]";
    if (offsets.size == 0) return name + " is empty; it needs at least one entry";
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < offsets.size; ++i) {
      std::int64_t value = offsets[i];
      if (value < previous) {
        return name + " " + (i == 0 ? "is negative" : "decreases") + " at position " + std::to_string(i) + " (" +
               std::to_string(value) + ")";
      }
      if (static_cast<std::uint64_t>(value) > target_size) {
        return name + " points past " + target_name(level) + " at position " + std::to_string(i) + " (" +
               std::to_string(value) + " > " + std::to_string(target_size) + ")";
      }
      previous = value;
    }
    target_size = offsets.size - 1;
  }
  return std::nullopt;
}

std::size_t polygon_count(const Arrays& arrays) noexcept { return arrays.offsets[1].size - 1; }

Polygon read_polygon(const Arrays& arrays, std::size_t p) {
  const Offsets& rings = arrays.offsets[0];
  const Offsets& polygons = arrays.offsets[1];
  auto first_ring = static_cast<std::size_t>(polygons[p]);
  auto end_ring = static_cast<std::size_t>(polygons[p + 1]);
  auto read_ring = [&](std::size_t r) {
    auto begin = static_cast<std::size_t>(rings[r]);
    auto end = static_cast<std::size_t>(rings[r + 1]);
    LineString ring;
    ring.coords.reserve(end - begin + 1);  // room for closing
    for (std::size_t i = begin; i < end; ++i) ring.coords.push_back(Coord{arrays.coords[2 * i], arrays.coords[2 * i + 1]});
    return ring;
  };
  if (first_ring == end_ring) return Polygon();
  LineString exterior = read_ring(first_ring);
  std::vector<LineString> interiors;
  interiors.reserve(end_ring - first_ring - 1);
  for (std::size_t r = first_ring + 1; r < end_ring; ++r) interiors.push_back(read_ring(r));
  return Polygon(std::move(exterior), std::move(interiors));
}

}  // namespace quillmere::ragged
