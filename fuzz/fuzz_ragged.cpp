// The array entry of quillmere_tools (smooth_simplify_ragged) on arbitrary
// arrays: a geometry kind, offset arrays of either width (as many as the
// input says, valid or not) and coordinates go through ragged::check; arrays
// that pass are read, smoothed and simplified polygon by polygon, short
// rings dropped unless collapsed rings are kept, and written into buffers
// of exactly the planned sizes. The written arrays must pass the check
// again and read back to the results.
//
// Input layout (every field is read only while bytes remain; missing bytes
// read as zero):
//   byte 0     bit 0: MultiPolygon (else Polygon); bit 1: keep collapsed
//              rings; bits 2-4: number of offset arrays minus the usual
//              count, plus 2 (so 2 gives the usual count)
//   byte 1     smoothing passes (modulo 6)
//   bytes 2-9  the simplification tolerance, a raw double
//   byte 10    coordinate count; then one mode byte: bit 0 set reads each
//              number as a raw double, else as a signed byte
//   per offset array: a header byte (bit 0: int64, else int32; bit 1: raw
//              values, else running sums of signed-byte steps) and a
//              length byte, then the values
//   the coordinates
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "common/stop.hpp"
#include "pipeline/pipelines.hpp"
#include "ragged/ragged.hpp"

namespace {

using quillmere::Polygon;
namespace ragged = quillmere::ragged;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  void bytes(void* out, std::size_t n) {
    auto* o = static_cast<std::uint8_t*>(out);
    for (std::size_t i = 0; i < n; ++i) o[i] = byte();
  }
  template <typename T>
  T raw() {
    T value;
    bytes(&value, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// An offset array's storage, of either width.
struct OffsetStorage {
  std::vector<std::int32_t> narrow;
  std::vector<std::int64_t> wide;
  bool is_wide = false;

  ragged::Offsets view() const {
    if (is_wide) return ragged::Offsets{wide.data(), wide.size(), true};
    return ragged::Offsets{narrow.data(), narrow.size(), false};
  }
};

OffsetStorage read_offsets(Input& in) {
  const std::uint8_t header = in.byte();
  const std::size_t length = in.byte();
  OffsetStorage storage;
  storage.is_wide = (header & 1) != 0;
  const bool raw = (header & 2) != 0;
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::int64_t value;
    if (raw) {
      value = storage.is_wide ? in.raw<std::int64_t>() : in.raw<std::int32_t>();
    } else {
      sum += static_cast<std::int8_t>(in.byte());
      value = sum;
    }
    if (storage.is_wide) {
      storage.wide.push_back(value);
    } else {
      storage.narrow.push_back(static_cast<std::int32_t>(value));
    }
  }
  return storage;
}

bool same_bits(const quillmere::LineString& a, const quillmere::LineString& b) {
  return a.coords.size() == b.coords.size() &&
         (a.coords.empty() || std::memcmp(a.coords.data(), b.coords.data(), a.coords.size() * sizeof(a.coords[0])) == 0);
}

bool has_nan(const Polygon& polygon) {
  auto ring_nan = [](const quillmere::LineString& ring) {
    for (const auto& c : ring.coords) {
      if (std::isnan(c.x) || std::isnan(c.y)) return true;
    }
    return false;
  };
  if (ring_nan(polygon.exterior())) return true;
  for (const auto& ring : polygon.interiors()) {
    if (ring_nan(ring)) return true;
  }
  return false;
}

void run(Input& in) {
  const std::uint8_t flags = in.byte();
  ragged::Arrays arrays;
  arrays.kind = (flags & 1) ? ragged::Kind::MultiPolygon : ragged::Kind::Polygon;
  const bool keep_collapsed = (flags & 2) != 0;
  const int usual = arrays.kind == ragged::Kind::Polygon ? 2 : 3;
  const int array_count = usual + ((flags >> 2) & 7) - 2;
  const std::uint64_t passes = in.byte() % 6;
  const double tolerance = in.raw<double>();
  const std::size_t num_coords = in.byte();
  const bool raw_coords = (in.byte() & 1) != 0;

  std::vector<OffsetStorage> offsets;
  for (int level = 0; level < array_count; ++level) offsets.push_back(read_offsets(in));
  for (const auto& storage : offsets) arrays.offsets.push_back(storage.view());
  std::vector<double> coords(2 * num_coords);
  for (double& c : coords) c = raw_coords ? in.raw<double>() : static_cast<double>(static_cast<std::int8_t>(in.byte()));
  arrays.coords = coords.data();
  arrays.num_coords = num_coords;

  if (ragged::check(arrays)) return;

  // Smoothing and simplification, as the entry does it for each polygon.
  std::vector<Polygon> results(ragged::polygon_count(arrays));
  for (std::size_t p = 0; p < results.size(); ++p) {
    results[p] = quillmere::smooth_simplify_polygon(ragged::read_polygon(arrays, p), passes, tolerance);
    if (!keep_collapsed) results[p].drop_short_rings(4);
  }
  const bool drop_empty = !keep_collapsed;
  const ragged::Layout layout = ragged::plan_output(arrays, results, drop_empty);
  if (layout.places.size() != results.size()) std::abort();

  // Buffers of exactly the planned sizes, as the entry allocates them.
  const std::size_t multipolygons = arrays.kind == ragged::Kind::MultiPolygon ? arrays.offsets[2].size : 0;
  std::vector<double> out_coords(2 * layout.num_coords);
  std::vector<std::int64_t> out_rings(layout.num_rings + 1);
  std::vector<std::int64_t> out_polygons(layout.num_polygons + 1);
  std::vector<std::int64_t> out_multi(multipolygons);
  ragged::write_outer_offsets(arrays, results, drop_empty, out_polygons.data(),
                              multipolygons ? out_multi.data() : nullptr);
  out_rings[layout.num_rings] = static_cast<std::int64_t>(layout.num_coords);
  for (std::size_t p = 0; p < results.size(); ++p) {
    ragged::write_polygon(results[p], layout.places[p], out_coords.data(), out_rings.data());
  }

  // The written arrays are valid and read back to the kept results.
  ragged::Arrays written;
  written.kind = arrays.kind;
  written.coords = out_coords.data();
  written.num_coords = layout.num_coords;
  written.offsets.push_back(ragged::Offsets{out_rings.data(), out_rings.size(), true});
  written.offsets.push_back(ragged::Offsets{out_polygons.data(), out_polygons.size(), true});
  if (multipolygons) written.offsets.push_back(ragged::Offsets{out_multi.data(), out_multi.size(), true});
  if (ragged::check(written)) std::abort();
  if (ragged::polygon_count(written) != layout.num_polygons) std::abort();
  std::size_t kept = 0;
  const bool may_drop = drop_empty && arrays.kind == ragged::Kind::MultiPolygon;
  for (const Polygon& result : results) {
    if (may_drop && result.is_empty()) continue;
    const Polygon again = ragged::read_polygon(written, kept++);
    // A ring that starts with NaN is reopened on reading (NaN != NaN).
    if (has_nan(result)) continue;
    if (again.is_empty() != result.is_empty()) std::abort();
    if (result.is_empty()) continue;
    if (!same_bits(again.exterior(), result.exterior())) std::abort();
    if (again.interiors().size() != result.interiors().size()) std::abort();
    for (std::size_t r = 0; r < result.interiors().size(); ++r) {
      if (!same_bits(again.interiors()[r], result.interiors()[r])) std::abort();
    }
  }
  if (kept != layout.num_polygons) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  try {
    run(in);
  } catch (const quillmere::Stop&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
