#include <algorithm>
#include <cstring>

#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

template <class Coords>
void write_ring(const Coords& coords, std::string& sink) {
  bool first = true;
  for (const auto& c : coords) {
    if (!first) sink += ',';
    first = false;
    write_number(c.x, sink);
    sink += ' ';
    write_number(c.y, sink);
  }
}

// Coordinates of a few decimals need about this; the string grows if not.
constexpr std::size_t bytes_per_coord_estimate = 24;

}  // namespace

Polygon g_polygon_to_w_polygon(const quillmere::Polygon& polygon) {
  Polygon out;
  out.rings.reserve(1 + polygon.interiors().size());
  auto convert = [&out](const quillmere::LineString& ring) {
    LineString& converted = out.rings.emplace_back();
    converted.coords.reserve(ring.coords.size());
    for (const quillmere::Coord& c : ring.coords) converted.coords.push_back(Coord{c.x, c.y, {}, {}});
  };
  // An empty exterior leaves no trace; empty interiors stay.
  if (!polygon.exterior().coords.empty()) convert(polygon.exterior());
  for (const quillmere::LineString& ring : polygon.interiors()) convert(ring);
  return out;
}

void write_polygon(const Polygon& polygon, std::string& sink) {
  if (polygon.rings.empty()) {
    sink += "POLYGON EMPTY";
    return;
  }
  sink += "POLYGON((";
  for (std::size_t i = 0; i < polygon.rings.size(); ++i) {
    if (i > 0) sink += "),(";
    write_ring(polygon.rings[i].coords, sink);
  }
  sink += "))";
}

namespace {

// Writes straight into the string's own buffer: room for one more coordinate
// is made before each is written, by doubling, so nothing is allocated per
// coordinate and nothing is copied through a scratch buffer.
class DirectText {
 public:
  explicit DirectText(std::size_t expected) { text_.resize(expected + coord_room); }

  void put(std::string_view s) {
    room(s.size());
    std::memcpy(text_.data() + size_, s.data(), s.size());
    size_ += s.size();
  }
  void put_coord(const quillmere::Coord& c) {
    room(coord_room);
    char* o = text_.data() + size_;
    o = write_number_to(o, c.x);
    *o++ = ' ';
    o = write_number_to(o, c.y);
    size_ = static_cast<std::size_t>(o - text_.data());
  }
  std::string take() && {
    text_.resize(size_);
    return std::move(text_);
  }

 private:
  static constexpr std::size_t coord_room = 2 * max_number_text + 2;

  void room(std::size_t n) {
    if (text_.size() - size_ < n) text_.resize(std::max(2 * text_.size(), size_ + n));
  }

  std::string text_;
  std::size_t size_ = 0;
};

void put_ring(const quillmere::LineString& ring, DirectText& text) {
  bool first = true;
  for (const quillmere::Coord& c : ring.coords) {
    if (!first) text.put(",");
    first = false;
    text.put_coord(c);
  }
}

}  // namespace

std::string polygon_to_wkt_string(const quillmere::Polygon& polygon) {
  // The rings of g_polygon_to_w_polygon, written straight from the polygon.
  const bool has_exterior = !polygon.exterior().coords.empty();
  if (!has_exterior && polygon.interiors().empty()) return "POLYGON EMPTY";
  std::size_t coords = polygon.exterior().coords.size();
  for (const auto& ring : polygon.interiors()) coords += ring.coords.size();
  DirectText text(16 + 3 * polygon.interiors().size() + coords * bytes_per_coord_estimate);
  text.put("POLYGON((");
  bool first = true;
  if (has_exterior) {
    put_ring(polygon.exterior(), text);
    first = false;
  }
  for (const auto& ring : polygon.interiors()) {
    if (!first) text.put("),(");
    first = false;
    put_ring(ring, text);
  }
  text.put("))");
  return std::move(text).take();
}

}  // namespace quillmere::wkt
