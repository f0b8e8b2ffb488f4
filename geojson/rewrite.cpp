// The byte-preserving rewrite: the text is read once by the JSON reader,
// which notes where each member's array value stands; the GeoJSON checks
// name the Polygon and MultiPolygon geometries; their coordinates values are
// the only bytes replaced.
#include "geojson/rewrite.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

#include "geojson/geojson.hpp"
#include "pool/largest_first.hpp"
#include "pool/pool.hpp"
#include "common/stop.hpp"

namespace quillmere::geojson {

namespace {

constexpr std::string_view kUnwrap = "called `Result::unwrap()` on an `Err` value: ";
// "[x,y]," at its longest.
constexpr std::size_t kMaxPosition = 2 * json::kMaxNumberText + 4;

// Writes through a local buffer, so the hot loop does no bounds checks on
// the string; flush() before the string is read.
class Appender {
 public:
  explicit Appender(std::string& out) : out_(out) {}
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  void put(char c) {
    room(1);
    *w_++ = c;
  }
  void put(std::string_view text) {
    if (text.size() > sizeof buffer_ / 2) {
      flush();
      out_.append(text);
      return;
    }
    room(text.size());
    std::memcpy(w_, text.data(), text.size());
    w_ += text.size();
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
  void room(std::size_t n) {
    if (static_cast<std::size_t>(buffer_ + sizeof buffer_ - w_) < n) flush();
  }

  std::string& out_;
  char buffer_[8192];
  char* w_ = buffer_;
};

void put_ring(const LineString& ring, Appender& out) {
  out.put('[');
  bool first = true;
  for (const Coord& c : ring.coords) {
    if (!first) out.put(',');
    first = false;
    out.position(c);
  }
  out.put(']');
}

void put_polygon(const Polygon& polygon, Appender& out) {
  out.put('[');
  put_ring(polygon.exterior(), out);
  for (const LineString& ring : polygon.interiors()) {
    out.put(',');
    put_ring(ring, out);
  }
  out.put(']');
}

// A polygonal geometry with the place of its coordinates value in the text
// and its polygons' range in the list of all polygons.
struct Located {
  bool multi;
  json::Value coordinates;
  std::size_t begin;
  std::size_t end;
  std::size_t first_polygon;
  std::size_t polygon_count;
};

void check_cancelled(const std::atomic<bool>* cancelled) {
  if (cancelled != nullptr && cancelled->load(std::memory_order_relaxed)) throw json::Cancelled{};
}

void finish_polygon(const RewriteOptions& options, Polygon& polygon) {
  options.transform(options.context, polygon);
  if (!options.keep_collapsed) polygon.drop_short_rings(4);
}

bool written(const RewriteOptions& options, const Polygon& polygon) {
  return options.keep_collapsed || !polygon.is_empty();
}

// The batches of a large text: every payload converted (a short position
// stops the batch, the first one in document order winning), then every
// polygon finished and written into its own text.
struct Convert {
  const json::Value* payloads;
  Polygon* polygons;
  const std::atomic<bool>* cancelled;
  static void piece(void* context, std::size_t begin, std::size_t end) {
    auto& c = *static_cast<Convert*>(context);
    for (std::size_t i = begin; i < end; ++i) {
      check_cancelled(c.cancelled);
      c.polygons[i] = create_geo_polygon(c.payloads[i]);
    }
  }
};

struct Finish {
  const RewriteOptions* options;
  Polygon* polygons;
  std::string* texts;
  char* kept;
  static void piece(void* context, std::size_t begin, std::size_t end) {
    auto& f = *static_cast<Finish*>(context);
    for (std::size_t i = begin; i < end; ++i) {
      check_cancelled(f.options->cancelled);
      Polygon polygon = std::move(f.polygons[i]);
      finish_polygon(*f.options, polygon);
      f.kept[i] = written(*f.options, polygon);
      if (f.kept[i]) {
        Appender out(f.texts[i]);
        put_polygon(polygon, out);
        out.flush();
      }
    }
  }
};

void rewrite_in_parallel(std::string_view text, const std::vector<Located>& geometries,
                         const std::vector<json::Value>& payloads, const RewriteOptions& options,
                         std::string& out) {
  const std::size_t n = payloads.size();
  std::vector<Polygon> polygons(n);
  Convert convert{payloads.data(), polygons.data(), options.cancelled};
  pool::run_batch(n, &Convert::piece, &convert);
  std::vector<std::string> texts(n);
  std::vector<char> kept(n);
  Finish finish{&options, polygons.data(), texts.data(), kept.data()};
  pool::run_batch(n, &Finish::piece, &finish);
  std::vector<Polygon>().swap(polygons);

  std::size_t size = text.size();
  for (const Located& g : geometries) {
    size -= g.end - g.begin;
    size += 2 + g.polygon_count;
    for (std::size_t i = g.first_polygon; i < g.first_polygon + g.polygon_count; ++i) size += texts[i].size();
  }
  out.reserve(out.size() + size);
  std::size_t cursor = 0;
  for (const Located& g : geometries) {
    out.append(text.substr(cursor, g.begin - cursor));
    const std::size_t last = g.first_polygon + g.polygon_count;
    if (!g.multi) {
      out.append(kept[g.first_polygon] ? std::string_view(texts[g.first_polygon]) : std::string_view("[]"));
    } else {
      out.push_back('[');
      bool first = true;
      for (std::size_t i = g.first_polygon; i < last; ++i) {
        if (!kept[i]) continue;
        if (!first) out.push_back(',');
        first = false;
        out.append(texts[i]);
      }
      out.push_back(']');
    }
    for (std::size_t i = g.first_polygon; i < last; ++i) std::string().swap(texts[i]);
    cursor = g.end;
  }
  out.append(text.substr(cursor));
}

void rewrite_in_turn(std::string_view text, const std::vector<Located>& geometries,
                     const std::vector<json::Value>& payloads, const RewriteOptions& options, std::string& out) {
  // Every polygon is read before any is transformed, so a short position is
  // reported whatever the transform would do.
  std::vector<Polygon> polygons;
  polygons.reserve(payloads.size());
  for (const json::Value& payload : payloads) polygons.push_back(create_geo_polygon(payload));
  out.reserve(out.size() + text.size() + 64);
  Appender appender(out);
  std::size_t cursor = 0;
  for (const Located& g : geometries) {
    appender.put(text.substr(cursor, g.begin - cursor));
    const std::size_t last = g.first_polygon + g.polygon_count;
    if (g.multi) appender.put('[');
    bool first = true;
    for (std::size_t i = g.first_polygon; i < last; ++i) {
      check_cancelled(options.cancelled);
      finish_polygon(options, polygons[i]);
      if (!written(options, polygons[i])) continue;
      if (!first) appender.put(',');
      first = false;
      put_polygon(polygons[i], appender);
      polygons[i] = Polygon();
    }
    if (g.multi) {
      appender.put(']');
    } else if (first) {
      appender.put("[]");  // the polygon collapsed
    }
    cursor = g.end;
  }
  appender.put(text.substr(cursor));
  appender.flush();
}

// The lists of one rewrite, kept by the thread for the next one. A rewrite
// takes them over (a rewrite that starts on the same thread meanwhile, from
// a nested batch, finds none and makes its own) and gives them back.
struct Lists {
  std::vector<json::ArraySpan> spans;
  std::vector<PolygonalGeometry> found;
  std::vector<Located> geometries;
  std::vector<json::Value> payloads;

  static Lists take() {
    Lists lists = std::move(kept());
    lists.spans.clear();
    lists.found.clear();
    lists.geometries.clear();
    lists.payloads.clear();
    return lists;
  }
  static void give_back(Lists&& lists) {
    // Large lists are not kept for the thread's life.
    constexpr std::size_t limit = 4096;
    if (lists.spans.capacity() > limit || lists.payloads.capacity() > limit || lists.found.capacity() > limit) return;
    kept() = std::move(lists);
  }
  static Lists& kept() {
    thread_local Lists lists;
    return lists;
  }
};

}  // namespace

void append_polygon_coordinates(const Polygon& polygon, std::string& out) {
  Appender appender(out);
  put_polygon(polygon, appender);
  appender.flush();
}

namespace {

// A whole text, or one element of a FeatureCollection's "features" array
// cut out of its document (nested two deep, checked as such an element).
enum class Piece { Document, FeatureOfCollection };

bool rewrite_with(std::string_view text, const RewriteOptions& options, std::string& out, std::string& reason,
                  Lists& lists, Piece piece = Piece::Document, GeoJsonKind* kind_out = nullptr) {
  std::vector<json::ArraySpan>& spans = lists.spans;
  json::ParseOptions parse_options{&spans, options.cancelled};
  if (piece == Piece::FeatureOfCollection) parse_options.enclosing_depth = 2;
  std::variant<json::Document, json::Error> parsed = json::from_str(text, parse_options);
  if (auto* error = std::get_if<json::Error>(&parsed)) {
    reason = std::string(kUnwrap) + Error{Error::Kind::MalformedJson, error->debug()}.debug();
    return false;
  }
  const json::Document& document = std::get<json::Document>(parsed);
  std::vector<PolygonalGeometry>& found = lists.found;
  GeoJsonKind kind = GeoJsonKind::Feature;
  std::optional<Error> error = piece == Piece::Document ? check_geojson(document.root(), kind, found)
                                                        : check_feature_of_collection(document.root(), found);
  if (error) {
    reason = std::string(kUnwrap) + error->debug();
    return false;
  }
  if (kind_out != nullptr) *kind_out = kind;

  // Where each coordinates value stands: every one is a member's array.
  auto by_storage = [](const json::ArraySpan& a, const json::ArraySpan& b) {
    return std::less<const void*>()(a.storage, b.storage);
  };
  std::sort(spans.begin(), spans.end(), by_storage);
  std::vector<Located>& geometries = lists.geometries;
  geometries.reserve(found.size());
  for (const PolygonalGeometry& g : found) {
    const json::ArraySpan key{g.coordinates.elements().data(), 0, 0};
    auto it = std::lower_bound(spans.begin(), spans.end(), key, by_storage);
    if (it == spans.end() || it->storage != key.storage) throw std::logic_error("coordinates value not located");
    geometries.push_back(Located{g.multi, g.coordinates, it->begin, it->end, 0, 0});
  }
  // Document order is text order, but the replacements need it for sure.
  if (!std::is_sorted(geometries.begin(), geometries.end(),
                      [](const Located& a, const Located& b) { return a.begin < b.begin; })) {
    std::sort(geometries.begin(), geometries.end(), [](const Located& a, const Located& b) { return a.begin < b.begin; });
  }

  std::vector<json::Value>& payloads = lists.payloads;
  for (Located& g : geometries) {
    g.first_polygon = payloads.size();
    if (g.multi) {
      std::span<const json::Value> members = g.coordinates.elements();
      payloads.insert(payloads.end(), members.begin(), members.end());
    } else {
      payloads.push_back(g.coordinates);
    }
    g.polygon_count = payloads.size() - g.first_polygon;
  }

  const std::size_t size_before = out.size();
  try {
    if (text.size() >= options.parallel_from_bytes && payloads.size() > 1) {
      rewrite_in_parallel(text, geometries, payloads, options, out);
    } else {
      rewrite_in_turn(text, geometries, payloads, options, out);
    }
  } catch (const Stop& stop) {
    // Only the reading of a short position stops (the transform must not).
    out.resize(size_before);
    reason = stop.message();
    return false;
  } catch (...) {
    out.resize(size_before);
    throw;
  }
  return true;
}

}  // namespace

namespace {

// One element of the features array, rewritten on a worker.
struct FeatureRewrite {
  std::string text;
  bool valid = false;
};

// The features of a large FeatureCollection rewritten apart from each other,
// the largest first, each by whichever worker is free; the bytes between
// them kept as they are. True with the text appended to `out`; false (out
// as it was) when the text is not plainly a collection or anything in it is
// invalid: only the rewrite of the whole text in order knows which error it
// reports.
bool rewrite_collection_in_parallel(std::string_view text, const RewriteOptions& options, std::string& out) {
  const std::optional<FeatureCollectionOutline> outline = outline_feature_collection(text);
  if (!outline || outline->features.size() < 2) return false;
  std::string unused_text;
  std::string unused_reason;
  RewriteOptions per_feature = options;
  {
    // Everything outside the features, with the rules of a whole document;
    // a "features" member of anything but a collection is a foreign member,
    // whose geometries are not rewritten.
    Lists lists = Lists::take();
    GeoJsonKind kind = GeoJsonKind::Feature;
    const bool valid =
        rewrite_with(outline->rest, per_feature, unused_text, unused_reason, lists, Piece::Document, &kind);
    Lists::give_back(std::move(lists));
    if (!valid || kind != GeoJsonKind::FeatureCollection) return false;
  }
  const auto& features = outline->features;
  auto length = [&](std::size_t i) { return features[i].second - features[i].first; };
  pool::LargestFirst queue(features.size(), length);
  std::vector<FeatureRewrite> results(features.size());
  struct Work {
    std::string_view text;
    const RewriteOptions* options;
    const std::vector<std::pair<std::size_t, std::size_t>>* features;
    pool::LargestFirst* queue;
    std::vector<FeatureRewrite>* results;
    std::atomic<bool> failed{false};
    // The piece's own range only says that a worker is there to help.
    static void piece(void* context, std::size_t, std::size_t) {
      auto& w = *static_cast<Work*>(context);
      std::size_t f = 0;
      while (!w.failed.load(std::memory_order_relaxed) && w.queue->take(f)) {
        const auto [first, last] = (*w.features)[f];
        FeatureRewrite& result = (*w.results)[f];
        std::string reason;
        Lists lists = Lists::take();
        result.valid = rewrite_with(w.text.substr(first, last - first), *w.options, result.text, reason, lists,
                                    Piece::FeatureOfCollection);
        Lists::give_back(std::move(lists));
        if (!result.valid) w.failed.store(true, std::memory_order_relaxed);
      }
    }
  } work{text, &per_feature, &features, &queue, &results};
  pool::run_batch(std::min<std::size_t>(features.size(), 64), &Work::piece, &work);
  if (work.failed.load()) return false;

  std::size_t size = text.size();
  for (std::size_t i = 0; i < features.size(); ++i) size += results[i].text.size() - length(i);
  out.reserve(out.size() + size);
  std::size_t kept_from = 0;
  for (std::size_t i = 0; i < features.size(); ++i) {
    out.append(text.substr(kept_from, features[i].first - kept_from));
    out.append(results[i].text);
    std::string().swap(results[i].text);
    kept_from = features[i].second;
  }
  out.append(text.substr(kept_from));
  return true;
}

}  // namespace

bool rewrite_geojson(std::string_view text, const RewriteOptions& options, std::string& out, std::string& reason) {
  if (text.size() >= options.parallel_from_bytes && rewrite_collection_in_parallel(text, options, out)) return true;
  Lists lists = Lists::take();
  const bool valid = rewrite_with(text, options, out, reason, lists);
  Lists::give_back(std::move(lists));
  return valid;
}

}  // namespace quillmere::geojson
