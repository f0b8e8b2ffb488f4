// Public surface of the GeoJSON subsystem: the JSON value model and reader,
// the JSON text writer and debug forms, the GeoJSON decoder used by the
// feature-collection reader, and the FeatureCollection writer.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "geometry/geometry.hpp"

namespace quillmere::json {

// ---- Value model --------------------------------------------------------------

enum class Kind : std::uint8_t { Null, Bool, Unsigned, Negative, Float, String, Array, Object };

// One of the three number kinds, held inline.
struct Number {
  enum class Kind : std::uint8_t { Unsigned, Negative, Float };
  Kind kind = Kind::Unsigned;
  union {
    std::uint64_t u = 0;
    std::int64_t i;
    double f;
  };
  // Integers go to the nearest double; a float is returned as is.
  double as_f64() const noexcept;
};

struct Member;

// 16 bytes, trivially copyable. Strings, arrays and objects refer to storage
// owned elsewhere (the input text or an Arena) that must outlive the value;
// containers hold their elements contiguously.
class Value {
 public:
  constexpr Value() noexcept : head_(0), ptr_(nullptr) {}

  static Value null() noexcept { return Value(); }
  static Value boolean(bool b) noexcept {
    Value v = make(Kind::Bool, 0);
    v.bits_ = b ? 1 : 0;
    return v;
  }
  static Value unsigned_integer(std::uint64_t u) noexcept {
    Value v = make(Kind::Unsigned, 0);
    v.bits_ = u;
    return v;
  }
  static Value negative_integer(std::int64_t i) noexcept {  // i < 0
    Value v = make(Kind::Negative, 0);
    v.int_ = i;
    return v;
  }
  static Value floating(double f) noexcept {
    Value v = make(Kind::Float, 0);
    v.float_ = f;
    return v;
  }
  static Value number(Number n) noexcept;
  static Value string(std::string_view text) noexcept {
    Value v = make(Kind::String, text.size());
    v.ptr_ = text.data();
    return v;
  }
  static Value array(std::span<const Value> elements) noexcept {
    Value v = make(Kind::Array, elements.size());
    v.ptr_ = elements.data();
    return v;
  }
  // The members must already be in ascending byte-wise key order with unique
  // keys; Arena::make_object establishes that.
  static inline Value object(std::span<const Member> members) noexcept;

  Kind kind() const noexcept { return static_cast<Kind>(head_ & 0xff); }
  bool is_null() const noexcept { return kind() == Kind::Null; }
  bool is_bool() const noexcept { return kind() == Kind::Bool; }
  bool is_number() const noexcept {
    return kind() == Kind::Unsigned || kind() == Kind::Negative || kind() == Kind::Float;
  }
  bool is_string() const noexcept { return kind() == Kind::String; }
  bool is_array() const noexcept { return kind() == Kind::Array; }
  bool is_object() const noexcept { return kind() == Kind::Object; }

  bool as_bool() const noexcept { return is_bool() && bits_ != 0; }
  // Meaningful only when is_number().
  Number number() const noexcept;
  // Empty unless a string.
  std::string_view string() const noexcept {
    if (!is_string()) return {};
    return {static_cast<const char*>(ptr_), size()};
  }
  // Empty unless an array.
  std::span<const Value> elements() const noexcept {
    if (!is_array()) return {};
    return {static_cast<const Value*>(ptr_), size()};
  }
  // Empty unless an object; in ascending key order.
  inline std::span<const Member> members() const noexcept;

  // The elements when the value is an array, else nothing.
  std::optional<std::span<const Value>> as_array() const noexcept {
    if (!is_array()) return std::nullopt;
    return elements();
  }
  // The value as a double when it is a number, else nothing.
  std::optional<double> as_f64() const noexcept {
    switch (kind()) {
      case Kind::Unsigned:
        return static_cast<double>(bits_);
      case Kind::Negative:
        return static_cast<double>(int_);
      case Kind::Float:
        return float_;
      default:
        return std::nullopt;
    }
  }
  // The member of an object with this key, or null when absent or not an object.
  const Value* find(std::string_view key) const noexcept;

 private:
  std::size_t size() const noexcept { return static_cast<std::size_t>(head_ >> 8); }
  static Value make(Kind kind, std::size_t size) noexcept {
    Value v;
    v.head_ = static_cast<std::uint64_t>(kind) | (static_cast<std::uint64_t>(size) << 8);
    return v;
  }

  std::uint64_t head_;  // kind in the low byte, string/container size above it
  union {
    const void* ptr_;
    std::uint64_t bits_;
    std::int64_t int_;
    double float_;
  };
};

struct Member {
  std::string_view key;
  Value value;
};

inline Value Value::object(std::span<const Member> members) noexcept {
  Value v = make(Kind::Object, members.size());
  v.ptr_ = members.data();
  return v;
}

inline std::span<const Member> Value::members() const noexcept {
  if (!is_object()) return {};
  return {static_cast<const Member*>(ptr_), size()};
}

// Monotonic storage for value trees: strings with escapes and container
// element lists. Everything is released together with the arena.
class Arena {
 public:
  Arena() = default;
  Arena(Arena&&) noexcept = default;
  Arena& operator=(Arena&&) noexcept = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // 8-byte aligned, uninitialised storage.
  void* allocate(std::size_t bytes) {
    bytes = (bytes + 7) & ~std::size_t{7};
    if (bytes > left_) return allocate_chunk(bytes);
    void* p = cursor_;
    cursor_ += bytes;
    left_ -= bytes;
    return p;
  }
  std::string_view copy_string(std::string_view text);
  Value make_string(std::string_view text) { return Value::string(copy_string(text)); }
  Value make_array(std::span<const Value> elements) {
    if (elements.empty()) return Value::array({});
    auto* p = static_cast<Value*>(allocate(elements.size_bytes()));
    std::memcpy(static_cast<void*>(p), elements.data(), elements.size_bytes());
    return Value::array({p, elements.size()});
  }
  // Sorts the members by key (stable), keeps the last of each repeated key
  // and copies the result. Reorders `members` in place.
  Value make_object(std::span<Member> members);
  // Sizes the first chunk (before any allocation) for about `bytes` in
  // all, so that a small document costs a small allocation; at most the
  // usual first chunk.
  void expect(std::size_t bytes) noexcept {
    if (chunks_.empty()) next_chunk_ = std::clamp<std::size_t>(bytes, 256, 64 * 1024);
  }
  // Forgets every value made so far but keeps the largest chunk, already
  // in memory, for the next document.
  void reuse() noexcept;

 private:
  // Large chunks are mapped from the system and unmapped when released, so
  // that their memory goes back at once rather than into some thread's heap.
  struct ChunkRelease {
    std::size_t size = 0;
    void operator()(std::byte* chunk) const noexcept;
  };
  using Chunk = std::unique_ptr<std::byte[], ChunkRelease>;
  static Chunk new_chunk(std::size_t size);
  void* allocate_chunk(std::size_t bytes);

  std::vector<Chunk> chunks_;
  std::byte* cursor_ = nullptr;
  std::size_t left_ = 0;
  std::size_t next_chunk_ = 64 * 1024;
};

// A parsed text: the root value and the arena holding its containers. String
// values without escapes are views into the parsed text, which must outlive
// the document.
class Document {
 public:
  Document() = default;
  explicit Document(Arena&& arena) noexcept : arena_(std::move(arena)) {}
  const Value& root() const noexcept { return root_; }
  Arena& arena() noexcept { return arena_; }
  void set_root(Value root) noexcept { root_ = root; }

 private:
  Arena arena_;
  Value root_;
};

// ---- Reader -------------------------------------------------------------------

enum class ErrorCode : std::uint8_t {
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  EofWhileParsingValue,
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedIdent,
  ExpectedValue,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  InvalidUnicodeCodePoint,
  ControlCharacterWhileParsingString,
  KeyMustBeAString,
  LoneLeadingSurrogateInHexEscape,
  TrailingComma,
  TrailingCharacters,
  UnexpectedEndOfHexEscape,
  RecursionLimitExceeded,
};

std::string_view message(ErrorCode code) noexcept;

struct Error {
  ErrorCode code;
  std::size_t line;    // 1 + line feeds before the position
  std::size_t column;  // bytes since the last line feed
  std::string_view message() const noexcept { return json::message(code); }
  // Error("<message>", line: L, column: C)
  std::string debug() const;
  friend bool operator==(const Error&, const Error&) = default;
};

// Parses one JSON value followed only by whitespace. At most 127 arrays and
// objects may be open at once.
std::variant<Document, Error> from_str(std::string_view text);

// Where an array that is the value of an object member stands in the text:
// bytes [begin, end). `storage` is the array's element storage
// (elements().data()), by which the value is found again.
struct ArraySpan {
  const void* storage;
  std::size_t begin;
  std::size_t end;
};

// Thrown out of from_str when its cancellation flag was set.
struct Cancelled {};

struct ParseOptions {
  // When set, receives the span of every array that is a member's value, in
  // the order the arrays end; every array then has storage of its own, the
  // empty ones included, so that each has a distinct `storage`.
  std::vector<ArraySpan>* member_array_spans = nullptr;
  // When set, looked at now and then; once true, from_str throws Cancelled.
  const std::atomic<bool>* cancelled = nullptr;
  // Arrays and objects already open around the text, when it is one value
  // cut out of a larger document: they count against the nesting limit, so
  // that the text nests too deeply exactly when it would in its document.
  int enclosing_depth = 0;
};

// from_str with the options above; the same document or error.
std::variant<Document, Error> from_str(std::string_view text, const ParseOptions& options);
// The same, building the document in `storage` (an arena from an earlier
// document, whose values are then gone), so that a reader of many small
// documents writes to memory it has already touched.
std::variant<Document, Error> from_str(std::string_view text, const ParseOptions& options, Arena&& storage);

// ---- Writers and debug forms ---------------------------------------------------

// Longest number text written by write_number_text.
inline constexpr std::size_t kMaxNumberText = 32;
// The number text of a finite double (shortest round trip, "1.0", "1e16",
// "0.00001", "1e-6", "-0.0"); "null" for NaN and infinities. Writes at most
// kMaxNumberText bytes and returns the end.
char* write_number_text(double value, char* out) noexcept;
std::string number_text(double value);
// Integers in decimal, floats as above.
char* write_number_text(const Number& number, char* out) noexcept;

// A quoted JSON string with the writer's escaping.
void write_string(std::string_view text, std::string& out);
// Compact JSON text, object members in key order.
void write_compact(const Value& value, std::string& out);
std::string to_string(const Value& value);

// Debug forms: quoted text with \" \\ and control characters escaped; values as
// Null, Bool(true), Number(5), String("a"), Array [..], Object {"k": ..}.
void write_debug_text(std::string_view text, std::string& out);
std::string debug_text(std::string_view text);
void write_debug(const Value& value, std::string& out);
std::string debug(const Value& value);

}  // namespace quillmere::json

namespace quillmere::geojson {

// A GeoJSON decoding failure. The payload is kept in its debug form, which
// is all that is ever shown of it.
struct Error {
  enum class Kind : std::uint8_t {
    BboxExpectedArray,
    BboxExpectedNumericValues,
    EmptyType,
    NotAFeature,
    GeometryUnknownType,
    MalformedJson,
    PropertiesExpectedObjectOrNull,
    FeatureInvalidGeometryValue,
    FeatureInvalidIdentifierType,
    ExpectedStringValue,
    ExpectedProperty,
    ExpectedF64Value,
    ExpectedArrayValue,
    ExpectedObjectValue,
  };
  Kind kind;
  std::string payload;  // debug form of the payload; empty for the bare variants

  // Variant name, then "(" payload ")" for the variants that carry one.
  std::string debug() const;
};

enum class GeoJsonKind : std::uint8_t { Geometry, Feature, FeatureCollection };

// Decoded GeoJSON text. Every member the object model knows is checked, in the
// model's order (first failure wins, depth first in document order), but only
// what the feature-collection reader uses is kept: the kind and, for a
// collection, the polygon payloads (arrays of rings of positions) of its
// features' Polygon and MultiPolygon geometries, in document order. The
// payloads point into `document`, which points into the decoded text.
struct GeoJson {
  GeoJsonKind kind = GeoJsonKind::Geometry;
  json::Document document;
  std::vector<json::Value> polygon_payloads;
};

std::variant<GeoJson, Error> from_str(std::string_view text);

// The checks that from_str makes on one element of a FeatureCollection's
// "features" array, with the same errors; the element's polygon payloads are
// appended to `polygon_payloads` in document order.
std::optional<Error> decode_feature_of_collection(const json::Value& element,
                                                  std::vector<json::Value>& polygon_payloads);

// A Polygon or a MultiPolygon geometry and its checked "coordinates" value.
struct PolygonalGeometry {
  bool multi = false;
  json::Value coordinates;
};

// The checks of from_str on a parsed text's root, which may be any of the
// three kinds (written to `kind`), with the same errors. Every Polygon and
// MultiPolygon geometry is collected, at any depth (a top-level Feature or
// Geometry, GeometryCollection members), in document order.
std::optional<Error> check_geojson(const json::Value& root, GeoJsonKind& kind,
                                   std::vector<PolygonalGeometry>& geometries);

// The checks of decode_feature_of_collection, with every Polygon and
// MultiPolygon geometry of the element collected as check_geojson does.
std::optional<Error> check_feature_of_collection(const json::Value& element,
                                                 std::vector<PolygonalGeometry>& geometries);

// Polygon from a checked polygon payload: first ring exterior (empty when there
// are no rings), the rest interiors; x, y from each position's first two
// numbers. A position with fewer than two numbers stops the call.
Polygon create_geo_polygon(const json::Value& payload);

// Compact FeatureCollection text with one Feature per polygon, in order.
std::string write_feature_collection(std::span<const Polygon> polygons);

// The same text in pieces, for writing it in parallel: the head, the
// features' texts separated by ',', and the tail.
inline constexpr std::string_view kFeatureCollectionHead = R"({"features":[)";
inline constexpr std::string_view kFeatureCollectionTail = R"(],"type":"FeatureCollection"})";
// A growable text in memory mapped from the system, grown by remapping
// (without a copy) and unmapped when dropped: written on one thread and
// dropped on another, it goes straight back to the system instead of into
// the writing thread's heap.
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(TextBuffer&& other) noexcept;
  TextBuffer& operator=(TextBuffer&& other) noexcept;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer();

  // A pointer to at least n writable bytes behind the end.
  char* room(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return data_ + size_;
  }
  // Makes the bytes up to `end` (written after room()) part of the text.
  void commit(const char* end) noexcept { size_ = static_cast<std::size_t>(end - data_); }
  void append(std::string_view text) {
    std::memcpy(room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  // Empties the text, keeping the memory.
  void clear() noexcept { size_ = 0; }
  bool empty() const noexcept { return size_ == 0; }
  std::string_view view() const noexcept { return {data_, size_}; }

 private:
  void grow(std::size_t n);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Appends the text of the polygon's Feature.
void append_feature_text(const Polygon& polygon, TextBuffer& out);

// Where the features of a FeatureCollection text stand, found without
// parsing them, so that they can be read apart from each other.
struct FeatureCollectionOutline {
  // The text with the "features" array emptied: parsed and decoded on its
  // own, it checks everything outside the features.
  std::string rest;
  // [begin, end) of each element of the "features" array, in order.
  std::vector<std::pair<std::size_t, std::size_t>> features;
};

// The outline of a text whose top level is one object with a single
// "features" member (written without escapes) holding an array of objects.
// Absent for any other text, or when in doubt. Only the separators between
// the features are checked here: a caller that has parsed `rest` and every
// feature (as one value inside two open containers) without error knows
// that the whole text parses, with the same values.
std::optional<FeatureCollectionOutline> outline_feature_collection(std::string_view text);

}  // namespace quillmere::geojson
