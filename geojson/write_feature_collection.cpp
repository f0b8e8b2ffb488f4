// The FeatureCollection text of a polygon list, written straight into one
// buffer. Byte for byte it is the compact text of the collection's JSON
// object (members in key order), which the tests check against write_compact.
#include <cstring>

#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

constexpr std::string_view kHead = R"({"features":[)";
constexpr std::string_view kTail = R"(],"type":"FeatureCollection"})";
constexpr std::string_view kFeatureHead = R"({"geometry":{"coordinates":[)";
constexpr std::string_view kFeatureTail = R"(],"type":"Polygon"},"properties":{},"type":"Feature"})";
// "[x,y]," at its longest.
constexpr std::size_t kMaxPosition = 2 * json::kMaxNumberText + 4;

// Formats through a small local buffer so the hot loop does no bounds checks
// on the output string.
class Output {
 public:
  explicit Output(std::string& out) : out_(out) {}

  void put(std::string_view text) {
    room(text.size());
    std::memcpy(w_, text.data(), text.size());
    w_ += text.size();
  }
  void put(char c) {
    room(1);
    *w_++ = c;
  }
  void position(const Coord& c) {
    room(kMaxPosition);
    *w_++ = '[';
    w_ = json::write_number_text(c.x, w_);
    *w_++ = ',';
    w_ = json::write_number_text(c.y, w_);
    *w_++ = ']';
  }
  void flush() {
    out_.append(buffer_, static_cast<std::size_t>(w_ - buffer_));
    w_ = buffer_;
  }

 private:
  // n is at most a fixed text or one position, far below the buffer size.
  void room(std::size_t n) {
    if (static_cast<std::size_t>(buffer_ + sizeof buffer_ - w_) < n) flush();
  }

  std::string& out_;
  char buffer_[1 << 16];
  char* w_ = buffer_;
};

void write_ring(const LineString& ring, Output& out) {
  out.put('[');
  bool first = true;
  for (const Coord& c : ring.coords) {
    if (!first) out.put(',');
    first = false;
    out.position(c);
  }
  out.put(']');
}

// Upper bound of the text length, so that the string never reallocates.
// Pages of the reservation that are not written are never touched.
std::size_t capacity_bound(std::span<const Polygon> polygons) {
  std::size_t size = kHead.size() + kTail.size();
  for (const Polygon& polygon : polygons) {
    size += kFeatureHead.size() + kFeatureTail.size() + 1;
    std::size_t points = polygon.exterior().coords.size();
    for (const LineString& ring : polygon.interiors()) points += ring.coords.size();
    size += 3 * (1 + polygon.interiors().size()) + points * (kMaxPosition + 1);
  }
  return size;
}

}  // namespace

std::string write_feature_collection(std::span<const Polygon> polygons) {
  std::string text;
  text.reserve(capacity_bound(polygons));
  Output out(text);
  out.put(kHead);
  bool first = true;
  for (const Polygon& polygon : polygons) {
    if (!first) out.put(',');
    first = false;
    out.put(kFeatureHead);
    write_ring(polygon.exterior(), out);
    for (const LineString& ring : polygon.interiors()) {
      out.put(',');
      write_ring(ring, out);
    }
    out.put(kFeatureTail);
  }
  out.put(kTail);
  out.flush();
  return text;
}

}  // namespace quillmere::geojson
