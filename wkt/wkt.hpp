// Public surface of the WKT subsystem: the syntax tree, the lazy tokenizer and
// recursive-descent parser, the conversion into the shared geometry types with
// the strict reading of one polygon, and the polygon writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "geometry/geometry.hpp"

namespace quillmere::wkt {

// ---- Syntax tree -------------------------------------------------------------

struct Coord {
  double x = 0.0;
  double y = 0.0;
  std::optional<double> z;  // never set by the reader
  std::optional<double> m;
};
struct Point {
  std::optional<Coord> coord;  // absent: the empty point
};
struct LineString {
  std::vector<Coord> coords;
};
struct Polygon {
  std::vector<LineString> rings;  // first ring is the exterior
};
struct MultiPoint {
  std::vector<Point> points;
};
struct MultiLineString {
  std::vector<LineString> lines;
};
struct MultiPolygon {
  std::vector<Polygon> polygons;
};
struct Geometry;
struct GeometryCollection {
  std::vector<Geometry> geometries;

  GeometryCollection() = default;
  GeometryCollection(GeometryCollection&&) noexcept = default;
  GeometryCollection& operator=(GeometryCollection&&) noexcept = default;
  // Frees nested collections with a work list, not recursion.
  ~GeometryCollection();
};

// Error texts are static strings; a null pointer means success.
using ErrorText = const char*;

class TokenStream;

struct Geometry {
  std::variant<Point, LineString, Polygon, MultiPoint, MultiLineString, MultiPolygon, GeometryCollection> value;

  // Keyword dispatch; `word` is compared ignoring ASCII case, exact length.
  static ErrorText from_word_and_tokens(std::string_view word, TokenStream& tokens, Geometry& out);
};

namespace errors {
inline constexpr ErrorText invalid_format = "Invalid WKT format";
inline constexpr ErrorText non_ascii_word = "Encountered non-ascii word";
inline constexpr ErrorText invalid_type = "Invalid type encountered";
inline constexpr ErrorText missing_open_paren = "Missing open parenthesis for type";
inline constexpr ErrorText missing_close_paren = "Missing closing parenthesis for type";
inline constexpr ErrorText expected_x = "Expected a number for the X coordinate";
inline constexpr ErrorText expected_y = "Expected a number for the Y coordinate";
inline constexpr ErrorText expected_word_in_collection = "Expected a word in GEOMETRYCOLLECTION";
inline constexpr ErrorText bad_number = "Unable to parse input number as the desired output type";
// Our own bound on nested collections: reading, converting and freeing the
// WKT tree take no stack per level, but freeing the converted shared
// collection does, on a worker thread's 2 MiB stack.
inline constexpr ErrorText nesting_too_deep = "Nesting too deep in GEOMETRYCOLLECTION";
}  // namespace errors

// Deepest accepted nesting of GEOMETRYCOLLECTION (the outermost counts as 1).
inline constexpr std::size_t max_collection_depth = 1000;

struct Wkt {
  Geometry item;

  // Parses one text; returns the error text, or null with the tree in `out`.
  static ErrorText from_str(std::string_view text, Wkt& out);
};

// ---- Tokenizer -----------------------------------------------------------------

// One outcome of a token request: a token, an error text, or nothing.
struct Token {
  enum class Kind : unsigned char { Nothing, Error, Comma, Number, CloseParen, OpenParen, Word };
  Kind kind = Kind::Nothing;
  double number = 0.0;     // Number
  std::string_view text;   // Word: a view into the input text
  ErrorText error = nullptr;  // Error
};

// Number syntax of the grammar (the tokenizer has already dropped a leading
// "+"): decimal or nan/inf/infinity, with an optional sign. Overflow gives
// +-infinity and underflow +-0; only a syntax mismatch fails.
bool parse_number(std::string_view text, double& value) noexcept;

// The part of exact_decimal beyond one exact operation (out of line).
bool extended_decimal(std::uint64_t mantissa, int q, double& magnitude) noexcept;

// The powers of ten that are exact doubles, used by number reading and writing.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// mantissa x 10^q correctly rounded, for a mantissa of at most 19 digits and
// -27 <= q <= 27, when it can be had without the general conversion;
// false otherwise (nothing decided).
inline bool exact_decimal(std::uint64_t mantissa, int q, double& magnitude) noexcept {
  // A mantissa of at most 2^53 and a power of ten of at most 10^22 are both
  // exact doubles, so one IEEE multiplication or division gives the
  // correctly rounded value.
  if (mantissa <= (std::uint64_t{1} << 53) && q >= -22 && q <= 22) {
    const auto m = static_cast<double>(mantissa);
    magnitude = q < 0 ? m / exact_powers_of_ten[-q] : m * exact_powers_of_ten[q];
    return true;
  }
  return extended_decimal(mantissa, q, magnitude);
}

// Lazy tokenizer over the bytes of the text, read in place.
class Tokens {
 public:
  explicit Tokens(std::string_view text) noexcept : text_(text) {}
  Token next() noexcept;
  // Scans the rest of one word or number text. Its optional first character
  // has already been taken; the text is the view from `start` (that
  // character, or the current position when there is none) to the stop.
  std::string_view read_until_whitespace(std::size_t start) noexcept;

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The tokenizer plus one outcome of lookahead.
class TokenStream {
 public:
  explicit TokenStream(std::string_view text) noexcept : tokens_(text) {}
  const Token& peek() noexcept;
  Token next() noexcept;

 private:
  Tokens tokens_;
  std::optional<Token> slot_;
};

// ---- Parser (FromTokens) -------------------------------------------------------

// Each returns a null pointer on success with the value in `out`, or the error.
ErrorText from_tokens(TokenStream& tokens, Coord& out);
ErrorText from_tokens(TokenStream& tokens, Point& out);
ErrorText from_tokens(TokenStream& tokens, LineString& out);
ErrorText from_tokens(TokenStream& tokens, Polygon& out);
ErrorText from_tokens(TokenStream& tokens, MultiPoint& out);
ErrorText from_tokens(TokenStream& tokens, MultiLineString& out);
ErrorText from_tokens(TokenStream& tokens, MultiPolygon& out);
ErrorText from_tokens(TokenStream& tokens, GeometryCollection& out);

// "EMPTY" or "(" from_tokens ")", with the closing rule deciding which error
// is reported.
template <class T>
ErrorText from_tokens_with_parens(TokenStream& tokens, T& out);
// Collections nest without limit in the grammar; this one reads them with an
// explicit list instead of recursion (same outcomes).
template <>
ErrorText from_tokens_with_parens(TokenStream& tokens, GeometryCollection& out);

// Reads a text whose first word is the POLYGON keyword straight into shared
// rings (not yet closed), by exactly the rules of the tree path but without
// the intermediate tree; `error` is null on success. Returns false, deciding
// nothing, when the text does not begin with that keyword.
bool polygon_rings_from_str(std::string_view text, std::vector<quillmere::LineString>& rings, ErrorText& error);

// The usual shape of a POLYGON text read with one tight scan into the
// polygon (rings closed). Returns false, deciding nothing, for anything the
// scan does not take on (EMPTY, a NUL, a "+", a token out of place, an
// unreadable number, any error): polygon_rings_from_str then decides.
bool scan_polygon(std::string_view text, quillmere::Polygon& polygon);
// The same scan for a MULTIPOLYGON text whose members are all parenthesised
// polygon bodies; false, deciding nothing, for anything else.
bool scan_multipolygon(std::string_view text, std::vector<quillmere::Polygon>& polygons);

// ---- Conversion into the shared geometry types ---------------------------------

namespace geo_types_from_wkt {
struct Error {
  enum class Kind { PointConversionError, MismatchedGeometry };
  Kind kind = Kind::PointConversionError;
  const char* expected = nullptr;  // MismatchedGeometry only
  const char* found = nullptr;

  // Debug form used in stop messages.
  std::string debug() const;
};
}  // namespace geo_types_from_wkt

// Debug form of a text: double-quoted, '"' and '\' escaped.
std::string debug_text(std::string_view text);

// The polygon rule: first ring exterior, the rest interiors; rings closed by
// the shared construction.
quillmere::Polygon from(Polygon&& polygon);
std::optional<geo_types_from_wkt::Error> try_from(MultiPoint&& multi_point, quillmere::MultiPoint& out);
std::optional<geo_types_from_wkt::Error> try_from(Geometry&& geometry, quillmere::Geometry& out);
std::optional<geo_types_from_wkt::Error> try_from(quillmere::Geometry&& geometry, quillmere::Polygon& out);

// Reads one text into a Polygon, or throws the Stop with the documented
// message ("Unable to parse Polygon from WKT: ..." / "Unable to read ...").
quillmere::Polygon read_polygon_from_wkt(std::string_view text);

// ---- Writer ----------------------------------------------------------------------

Polygon g_polygon_to_w_polygon(const quillmere::Polygon& polygon);

// Appends the polygon text form ("POLYGON EMPTY" or "POLYGON((...),(...))").
void write_polygon(const Polygon& polygon, std::string& sink);

// Appends the number text: shortest round-trip digits, positional, no exponent.
void write_number(double value, std::string& sink);

// Room for the longest number text (about "-0." + 307 zeros + 17 digits).
inline constexpr std::size_t max_number_text = 344;
// Writes the number text at `out`, which has room for max_number_text bytes;
// returns the end of the text.
char* write_number_to(char* out, double value) noexcept;
// Writes "x y", the two number texts with a space between, at `out`, which
// has room for 2 * max_number_text + 1 bytes; returns the end.
char* write_coordinate_to(char* out, double x, double y) noexcept;

// A growable byte buffer that many texts are written into back to back, so
// that a batch of results costs a few allocations instead of one per text.
class TextSink {
 public:
  TextSink() = default;
  TextSink(TextSink&& other) noexcept;
  TextSink& operator=(TextSink&& other) noexcept;
  ~TextSink();

  // A pointer to at least n writable bytes behind the current end.
  char* room(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return data_ + size_;
  }
  // Room for n bytes in all, made at once.
  void reserve(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
  }
  // Empties the text, keeping the buffer for reuse.
  void clear() noexcept { size_ = 0; }
  // Makes the bytes up to `end` (written after room()) part of the text.
  void commit(const char* end) noexcept { size_ = static_cast<std::size_t>(end - data_); }
  void append(std::string_view s) {
    std::memcpy(room(s.size()), s.data(), s.size());
    size_ += s.size();
  }

  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

 private:
  void grow(std::size_t n);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Appends the WKT text of one result polygon, in the fixed layout; the same
// text as write_polygon(g_polygon_to_w_polygon(polygon)), written without
// the copy.
void write_polygon_text(const quillmere::Polygon& polygon, TextSink& sink);

// The same text without its keyword: "EMPTY" or "((...),(...))", as a
// polygon stands in a MULTIPOLYGON.
void write_polygon_body(const quillmere::Polygon& polygon, TextSink& sink);

// The same text as a string of its own.
std::string polygon_to_wkt_string(const quillmere::Polygon& polygon);

}  // namespace quillmere::wkt
