// Reading of one WKT text: parse, convert, and on success write the polygon
// back (directly and through the tree, which must agree) and read that text
// again, which must give the same polygon.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/stop.hpp"
#include "wkt/wkt.hpp"

namespace {

bool same_bits(const quillmere::LineString& a, const quillmere::LineString& b) {
  if (a.coords.size() != b.coords.size()) return false;
  for (std::size_t i = 0; i < a.coords.size(); ++i) {
    const auto& p = a.coords[i];
    const auto& q = b.coords[i];
    const bool x = std::isnan(p.x) ? std::isnan(q.x) : p.x == q.x && std::signbit(p.x) == std::signbit(q.x);
    const bool y = std::isnan(p.y) ? std::isnan(q.y) : p.y == q.y && std::signbit(p.y) == std::signbit(q.y);
    if (!x || !y) return false;
  }
  return true;
}

// Finite coordinates and no empty ring: the only polygons whose text reads
// back (NaN and +inf are written as words, an empty ring as "()").
bool reads_back(const quillmere::Polygon& polygon) {
  auto ring_finite = [](const quillmere::LineString& ring) {
    if (ring.coords.empty()) return false;
    for (const auto& c : ring.coords) {
      if (!std::isfinite(c.x) || !std::isfinite(c.y)) return false;
    }
    return true;
  };
  if (!ring_finite(polygon.exterior())) return false;
  for (const auto& ring : polygon.interiors()) {
    if (!ring_finite(ring)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quillmere::Polygon polygon;
  try {
    polygon = quillmere::wkt::read_polygon_from_wkt(text);
  } catch (const quillmere::Stop&) {
    return 0;
  }
  const std::string written = quillmere::wkt::polygon_to_wkt_string(polygon);
  // The direct writer and the two-step conversion give the same text.
  std::string two_step;
  quillmere::wkt::write_polygon(quillmere::wkt::g_polygon_to_w_polygon(polygon), two_step);
  if (two_step != written) std::abort();
  if (!reads_back(polygon)) return 0;
  const quillmere::Polygon again = quillmere::wkt::read_polygon_from_wkt(written);
  if (!same_bits(again.exterior(), polygon.exterior()) || again.interiors().size() != polygon.interiors().size()) {
    std::abort();
  }
  for (std::size_t i = 0; i < polygon.interiors().size(); ++i) {
    if (!same_bits(again.interiors()[i], polygon.interiors()[i])) std::abort();
  }
  return 0;
}
