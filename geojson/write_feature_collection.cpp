// The FeatureCollection text of a polygon list, written straight into one
// buffer. Byte for byte it is the compact text of the collection's JSON
// object (members in key order), which the tests check against write_compact.
#include <cstring>

#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

constexpr std::string_view kHead = kFeatureCollectionHead;
constexpr std::string_view kTail = kFeatureCollectionTail;
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

// Writes straight into a TextBuffer, which has room for a whole position
// at a time without a staging copy.
class BufferOutput {
 public:
  explicit BufferOutput(TextBuffer& out) : out_(out) {}
  void put(std::string_view text) { out_.append(text); }
  void put(char c) {
    char* w = out_.room(1);
    *w++ = c;
    out_.commit(w);
  }
  void position(const Coord& c) {
    char* w = out_.room(kMaxPosition);
    *w++ = '[';
    w = json::write_number_text(c.x, w);
    *w++ = ',';
    w = json::write_number_text(c.y, w);
    *w++ = ']';
    out_.commit(w);
  }

 private:
  TextBuffer& out_;
};

template <class Out>
void write_ring(const LineString& ring, Out& out) {
  out.put('[');
  bool first = true;
  for (const Coord& c : ring.coords) {
    if (!first) out.put(',');
    first = false;
    out.position(c);
  }
  out.put(']');
}

template <class Out>
void write_feature(const Polygon& polygon, Out& out) {
  out.put(kFeatureHead);
  write_ring(polygon.exterior(), out);
  for (const LineString& ring : polygon.interiors()) {
    out.put(',');
    write_ring(ring, out);
  }
  out.put(kFeatureTail);
}

// Expected text length: the fixed parts exactly, the positions from the
// average text length of up to kSamples positions spread evenly over all of
// them, with some slack. Reserving the worst case (about 70 bytes a position)
// instead would ask for several times the memory actually written, which can
// fail on large outputs; an estimate that is short only makes the string grow.
std::size_t expected_size(std::span<const Polygon> polygons) {
  constexpr std::size_t kSamples = 1024;
  std::size_t size = kHead.size() + kTail.size();
  std::size_t points = 0;
  auto add_ring = [&](const LineString& ring) {
    size += 3;
    points += ring.coords.size();
  };
  for (const Polygon& polygon : polygons) {
    size += kFeatureHead.size() + kFeatureTail.size() + 1;
    add_ring(polygon.exterior());
    for (const LineString& ring : polygon.interiors()) add_ring(ring);
  }
  if (points == 0) return size;

  const std::size_t stride = points > kSamples ? points / kSamples : 1;
  std::size_t next = 0;  // global index of the next sampled position
  std::size_t seen = 0;  // positions before the current ring
  std::size_t sampled = 0;
  std::size_t sampled_bytes = 0;
  char buffer[kMaxPosition];
  auto sample_ring = [&](const LineString& ring) {
    while (next < seen + ring.coords.size()) {
      const Coord& c = ring.coords[next - seen];
      char* w = json::write_number_text(c.x, buffer);
      w = json::write_number_text(c.y, w);
      sampled_bytes += static_cast<std::size_t>(w - buffer) + 4;  // [ , ] and the separator
      ++sampled;
      next += stride;
    }
    seen += ring.coords.size();
  };
  for (const Polygon& polygon : polygons) {
    sample_ring(polygon.exterior());
    for (const LineString& ring : polygon.interiors()) sample_ring(ring);
  }
  const std::size_t per_point = (sampled_bytes + sampled - 1) / sampled;
  return size + points * per_point + points * per_point / 16 + 4096;
}

}  // namespace

std::string write_feature_collection(std::span<const Polygon> polygons) {
  std::string text;
  text.reserve(expected_size(polygons));
  Output out(text);
  out.put(kHead);
  bool first = true;
  for (const Polygon& polygon : polygons) {
    if (!first) out.put(',');
    first = false;
    write_feature(polygon, out);
  }
  out.put(kTail);
  out.flush();
  return text;
}

void append_feature_text(const Polygon& polygon, TextBuffer& out) {
  BufferOutput output(out);
  write_feature(polygon, output);
}

}  // namespace quillmere::geojson
