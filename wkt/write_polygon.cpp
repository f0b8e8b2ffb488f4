#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

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

TextSink::TextSink(TextSink&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TextSink& TextSink::operator=(TextSink&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

TextSink::~TextSink() { std::free(data_); }

void TextSink::grow(std::size_t n) {
  // Doubling; realloc can move large buffers by remapping, without a copy.
  std::size_t capacity = std::max<std::size_t>(capacity_ * 2, 4096);
  if (capacity - size_ < n) capacity = size_ + n;
  void* data = std::realloc(data_, capacity);
  if (data == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(data);
  capacity_ = capacity;
}

namespace {

// Room for one coordinate and the separator before it.
constexpr std::size_t coord_room = 2 * max_number_text + 2;

void put_ring(const quillmere::LineString& ring, TextSink& sink) {
  bool first = true;
  for (const quillmere::Coord& c : ring.coords) {
    char* o = sink.room(coord_room);
    if (!first) *o++ = ',';
    first = false;
    o = write_coordinate_to(o, c.x, c.y);
    sink.commit(o);
  }
}

}  // namespace

void write_polygon_text(const quillmere::Polygon& polygon, TextSink& sink) {
  sink.append(polygon.is_empty() ? "POLYGON " : "POLYGON");
  write_polygon_body(polygon, sink);
}

void write_polygon_body(const quillmere::Polygon& polygon, TextSink& sink) {
  // The rings of g_polygon_to_w_polygon, written straight from the polygon.
  const bool has_exterior = !polygon.exterior().coords.empty();
  if (!has_exterior && polygon.interiors().empty()) {
    sink.append("EMPTY");
    return;
  }
  sink.append("((");
  bool first = true;
  if (has_exterior) {
    put_ring(polygon.exterior(), sink);
    first = false;
  }
  for (const auto& ring : polygon.interiors()) {
    if (!first) sink.append("),(");
    first = false;
    put_ring(ring, sink);
  }
  sink.append("))");
}

std::string polygon_to_wkt_string(const quillmere::Polygon& polygon) {
  TextSink sink;
  write_polygon_text(polygon, sink);
  return std::string(sink.data(), sink.size());
}

}  // namespace quillmere::wkt
