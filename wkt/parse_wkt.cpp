#include <cstdint>
#include <cstring>
#include <utility>

#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

constexpr char upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool keyword_is(std::string_view word, std::string_view upper_keyword) noexcept {
  if (word.size() != upper_keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (upper(word[i]) != upper_keyword[i]) return false;
  }
  return true;
}

// At least one item, then one more after every comma in the lookahead.
template <class T, class Item>
ErrorText comma_many(Item&& item, TokenStream& tokens, std::vector<T>& out) {
  out.clear();
  out.emplace_back();
  if (ErrorText error = item(tokens, out.back())) return error;
  while (tokens.peek().kind == Token::Kind::Comma) {
    tokens.next();
    out.emplace_back();
    if (ErrorText error = item(tokens, out.back())) return error;
  }
  return nullptr;
}

ErrorText number_or(TokenStream& tokens, double& out, ErrorText otherwise) noexcept {
  const Token token = tokens.next();
  if (token.kind == Token::Kind::Error) return token.error;
  if (token.kind != Token::Kind::Number) return otherwise;
  out = token.number;
  return nullptr;
}

template <class T>
ErrorText parens_item(TokenStream& tokens, T& out) {
  return from_tokens_with_parens(tokens, out);
}

template <class T>
ErrorText geometry_of(TokenStream& tokens, Geometry& out) {
  return from_tokens_with_parens(tokens, out.value.emplace<T>());
}

// The opening step of from_tokens_with_parens: "(" goes on, "EMPTY" ends at
// once with the empty value.
ErrorText open_body(TokenStream& tokens, bool& empty) noexcept {
  const Token open = tokens.next();
  empty = false;
  if (open.kind == Token::Kind::Error) return open.error;
  if (open.kind == Token::Kind::Word && keyword_is(open.text, "EMPTY")) {
    empty = true;
    return nullptr;
  }
  if (open.kind != Token::Kind::OpenParen) return errors::missing_open_paren;
  return nullptr;
}

// The closing step: one more token is always taken, and it decides whether
// the inner outcome or another error surfaces.
ErrorText close_body(TokenStream& tokens, ErrorText inner) noexcept {
  const Token close = tokens.next();
  if (close.kind == Token::Kind::Error) return close.error;
  if (close.kind != Token::Kind::CloseParen) return errors::missing_close_paren;
  return inner;
}

template <class C>
ErrorText coord_from_tokens(TokenStream& tokens, C& out) {
  if (ErrorText error = number_or(tokens, out.x, errors::expected_x)) return error;
  return number_or(tokens, out.y, errors::expected_y);
}

// The rings of a POLYGON text read straight into shared rings: the same
// rules as the tree's polygon and linestring, without the intermediate copy.
struct SharedRings {
  std::vector<quillmere::LineString> rings;
};

ErrorText from_tokens(TokenStream& tokens, quillmere::LineString& out) {
  return comma_many(coord_from_tokens<quillmere::Coord>, tokens, out.coords);
}

ErrorText from_tokens(TokenStream& tokens, SharedRings& out) {
  return comma_many(parens_item<quillmere::LineString>, tokens, out.rings);
}

}  // namespace

template <class T>
ErrorText from_tokens_with_parens(TokenStream& tokens, T& out) {
  bool empty = false;
  if (ErrorText error = open_body(tokens, empty)) return error;
  if (empty) {
    out = T{};
    return nullptr;
  }
  return close_body(tokens, from_tokens(tokens, out));
}

template ErrorText from_tokens_with_parens(TokenStream&, Point&);
template ErrorText from_tokens_with_parens(TokenStream&, LineString&);
template ErrorText from_tokens_with_parens(TokenStream&, Polygon&);
template ErrorText from_tokens_with_parens(TokenStream&, MultiPoint&);
template ErrorText from_tokens_with_parens(TokenStream&, MultiLineString&);
template ErrorText from_tokens_with_parens(TokenStream&, MultiPolygon&);

ErrorText from_tokens(TokenStream& tokens, Coord& out) {
  out.z.reset();
  out.m.reset();
  return coord_from_tokens(tokens, out);
}

ErrorText from_tokens(TokenStream& tokens, Point& out) {
  Coord coord;
  ErrorText error = from_tokens(tokens, coord);
  if (!error) out.coord = coord;
  return error;
}

ErrorText from_tokens(TokenStream& tokens, LineString& out) {
  return comma_many(coord_from_tokens<Coord>, tokens, out.coords);
}

ErrorText from_tokens(TokenStream& tokens, Polygon& out) {
  return comma_many(parens_item<LineString>, tokens, out.rings);
}

ErrorText from_tokens(TokenStream& tokens, MultiPoint& out) {
  // Each item on its own: "(x y)" or a bare "x y", mixed freely.
  return comma_many(
      [](TokenStream& t, Point& p) {
        if (t.peek().kind == Token::Kind::OpenParen) return from_tokens_with_parens(t, p);
        return from_tokens(t, p);
      },
      tokens, out.points);
}

ErrorText from_tokens(TokenStream& tokens, MultiLineString& out) {
  return comma_many(parens_item<LineString>, tokens, out.lines);
}

ErrorText from_tokens(TokenStream& tokens, MultiPolygon& out) {
  return comma_many(parens_item<Polygon>, tokens, out.polygons);
}

namespace {

// Collections are the only kind that nests without limit, so their members
// are read with an explicit list of open collections instead of recursion:
// hostile nesting costs heap, not thread stack. The outcome is exactly that
// of the recursive rules (from_tokens inside from_tokens_with_parens per
// level). `parens`: the root's own "(" or "EMPTY" and ")" are read too.
ErrorText read_collection(TokenStream& tokens, GeometryCollection& root, bool parens) {
  if (parens) {
    bool empty = false;
    if (ErrorText error = open_body(tokens, empty)) return error;
    if (empty) {
      root.geometries.clear();
      return nullptr;
    }
  }
  root.geometries.clear();
  // Each entry lives in its parent's member list, which does not grow while
  // the entry is open, so the pointers stay valid.
  std::vector<GeometryCollection*> open{&root};
  for (;;) {
    // One member of the innermost open collection.
    ErrorText result = nullptr;
    bool member_read = false;
    const Token token = tokens.next();
    if (token.kind == Token::Kind::Error) {
      result = token.error;
    } else if (token.kind != Token::Kind::Word) {
      result = errors::expected_word_in_collection;
    } else {
      Geometry& member = open.back()->geometries.emplace_back();
      if (keyword_is(token.text, "GEOMETRYCOLLECTION")) {
        // Our own bound keeps converting and freeing the tree (which do
        // recurse per level) within a worker's stack.
        if (open.size() >= max_collection_depth) return errors::nesting_too_deep;
        bool empty = false;
        result = open_body(tokens, empty);
        if (!result) {
          auto& child = member.value.emplace<GeometryCollection>();
          if (!empty) {
            open.push_back(&child);
            continue;
          }
          member_read = true;
        }
      } else {
        result = Geometry::from_word_and_tokens(token.text, tokens, member);
        member_read = !result;
      }
    }
    // Finish members and collections until another member is due.
    for (;;) {
      if (member_read) {
        if (tokens.peek().kind == Token::Kind::Comma) {
          tokens.next();
          break;
        }
        result = nullptr;  // the innermost collection's content is complete
      }
      // The innermost collection's content ended with `result`.
      if (open.size() == 1 && !parens) return result;
      result = close_body(tokens, result);
      open.pop_back();
      if (open.empty()) return result;
      // The closed collection was a member of the next one out.
      member_read = !result;
    }
  }
}

}  // namespace

template <>
ErrorText from_tokens_with_parens(TokenStream& tokens, GeometryCollection& out) {
  return read_collection(tokens, out, true);
}

ErrorText from_tokens(TokenStream& tokens, GeometryCollection& out) { return read_collection(tokens, out, false); }

ErrorText Geometry::from_word_and_tokens(std::string_view word, TokenStream& tokens, Geometry& out) {
  if (keyword_is(word, "POINT")) return geometry_of<Point>(tokens, out);
  if (keyword_is(word, "LINESTRING") || keyword_is(word, "LINEARRING")) return geometry_of<LineString>(tokens, out);
  if (keyword_is(word, "POLYGON")) return geometry_of<Polygon>(tokens, out);
  if (keyword_is(word, "MULTIPOINT")) return geometry_of<MultiPoint>(tokens, out);
  if (keyword_is(word, "MULTILINESTRING")) return geometry_of<MultiLineString>(tokens, out);
  if (keyword_is(word, "MULTIPOLYGON")) return geometry_of<MultiPolygon>(tokens, out);
  if (keyword_is(word, "GEOMETRYCOLLECTION")) return geometry_of<GeometryCollection>(tokens, out);
  return errors::invalid_type;
}

namespace {

bool is_ascii(std::string_view word) noexcept {
  for (char c : word) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

namespace {

// The common shape of a POLYGON text, read with one tight scan: numbers of
// the plain form converted inline, every other number text through
// parse_number. Succeeds only when the token rules would read exactly these
// rings; anything unusual (EMPTY, a NUL, a "+", a token out of place, an
// unreadable number) returns false, deciding nothing, and the token path
// reads the text again and reports what it finds.
class PolygonScan {
 public:
  explicit PolygonScan(std::string_view text) noexcept : p_(text.data()), end_(text.data() + text.size()) {}

  bool read(quillmere::Polygon& polygon) {
    if (!keyword("POLYGON")) return false;
    return polygon_body(polygon);
  }

  // MULTIPOLYGON with every member a parenthesised polygon body (an EMPTY
  // member is for the token path).
  bool read_multi(std::vector<quillmere::Polygon>& polygons) {
    if (!keyword("MULTIPOLYGON")) return false;
    if (!take('(')) return false;
    polygons.clear();
    for (;;) {
      skip_whitespace();
      if (!polygon_body(polygons.emplace_back())) return false;
      skip_whitespace();
      if (take(')')) return true;  // nothing after the geometry is read
      if (!take(',')) return false;
    }
  }

 private:
  // The keyword (upper case here, any case in the text) as a whole word:
  // '(' and whitespace may follow, anything else is for the token path.
  bool keyword(std::string_view word) noexcept {
    skip_whitespace();
    if (static_cast<std::size_t>(end_ - p_) < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (upper(p_[i]) != word[i]) return false;
    }
    p_ += word.size();
    skip_whitespace();
    return true;
  }

  // "(" rings ")", the opening parenthesis next.
  bool polygon_body(quillmere::Polygon& polygon) {
    if (!take('(')) return false;
    // The exterior on its own: most polygons have no interiors, and need no
    // list of rings.
    quillmere::LineString exterior;
    std::vector<quillmere::LineString> interiors;
    for (bool first = true;; first = false) {
      skip_whitespace();
      if (!take('(')) return false;
      if (!read_ring(first ? exterior.coords : interiors.emplace_back().coords)) return false;
      skip_whitespace();
      if (take(')')) break;  // nothing after the geometry is read
      if (!take(',')) return false;
    }
    polygon = quillmere::Polygon(std::move(exterior), std::move(interiors));
    return true;
  }

  static bool is_whitespace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool ends_token(char c) noexcept {
    return is_whitespace(c) || c == '\0' || c == '(' || c == ')' || c == ',';
  }

  void skip_whitespace() noexcept {
    while (p_ != end_ && is_whitespace(*p_)) ++p_;
  }
  bool take(char c) noexcept {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  // Coordinates up to and including the ring's ")". Collected first on the
  // stack and, past that, in a scratch list kept by the thread, then copied
  // once into a ring of exactly the right size, with room for the closing
  // point.
  bool read_ring(std::vector<quillmere::Coord>& out) {
    constexpr std::size_t on_stack = 64;
    Pair first[on_stack];  // not zeroed: only what is read is used
    std::size_t count = 0;
    for (;;) {
      quillmere::Coord c;
      if (!coordinate(c)) return false;
      if (count == on_stack) return read_long_ring(first, c, out);
      first[count++] = {c.x, c.y};
      if (take(')')) break;
      if (!take(',')) return false;
    }
    out.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) out.push_back({first[i].x, first[i].y});
    return true;
  }

  // A coordinate without default values, for uninitialized storage.
  struct Pair {
    double x;
    double y;
  };

  // One coordinate and the whitespace after it.
  bool coordinate(quillmere::Coord& c) {
    skip_whitespace();
    if (!number(c.x)) return false;
    skip_whitespace();
    if (!number(c.y)) return false;
    skip_whitespace();
    return true;
  }

  // The rest of a ring whose first coordinates filled the stack buffer;
  // `next` has been read but not its separator.
  template <std::size_t on_stack>
  bool read_long_ring(const Pair (&first)[on_stack], quillmere::Coord next, std::vector<quillmere::Coord>& out) {
    thread_local std::vector<quillmere::Coord> scratch;
    scratch.clear();
    for (const Pair& pair : first) scratch.push_back({pair.x, pair.y});
    for (quillmere::Coord c = next;;) {
      scratch.push_back(c);
      if (take(')')) break;
      if (!take(',')) return false;
      if (!coordinate(c)) return false;
    }
    out.reserve(scratch.size() + 1);
    out.assign(scratch.begin(), scratch.end());
    // The list of a huge ring is not kept for the thread's life.
    if (scratch.capacity() > 65536) std::vector<quillmere::Coord>().swap(scratch);
    return true;
  }

  // One number token: its text runs to the next whitespace or marker, which
  // is left in place. Whitespace after it is skipped by the caller.
  bool number(double& value) noexcept {
    const char* const start = p_;
    const char* p = p_;
    if (p == end_) return false;
    if (*p != '-' && *p != '.' && !(*p >= '0' && *p <= '9')) return false;  // "+" and words
    const bool negative = *p == '-';
    if (negative) ++p;
    // [-]digits[.digits], at most 19 digits in all: the exact conversion of
    // parse_number when the digits fit in 53 bits and at most 22 follow the
    // point (leading zeros only make the significant count smaller).
    std::uint64_t mantissa = 0;
    int digits = 0;
    // Integer parts are short: one digit at a time.
    while (p != end_ && static_cast<unsigned>(*p - '0') < 10) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      ++p;
      if (++digits > 19) return general(start, value);
    }
    int scale = 0;
    if (p != end_ && *p == '.') {
      ++p;
      const int before = digits;
      if (!digit_run(p, mantissa, digits)) return general(start, value);
      scale = digits - before;
    }
    if (p != end_ && !ends_token(*p)) return general(start, value);
    double magnitude = 0.0;
    if (digits == 0 || scale > 27 || !exact_decimal(mantissa, -scale, magnitude)) return general(start, value);
    value = negative ? -magnitude : magnitude;
    p_ = p;
    return true;
  }

  // Appends the run of digits at p to the mantissa, eight at a time where
  // the text has eight more bytes; false once there are over 19 digits (the
  // mantissa is then not used).
  bool digit_run(const char*& p, std::uint64_t& mantissa, int& digits) const noexcept {
    static constexpr std::uint64_t powers[] = {1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000};
    while (end_ - p >= 8) {
      std::uint64_t bytes;
      std::memcpy(&bytes, p, sizeof bytes);
      // Per byte: zero exactly for '0'-'9'. A carry out of a byte only
      // reaches later bytes, behind a byte that already is not a digit.
      const std::uint64_t marks = ((bytes & 0xF0F0F0F0F0F0F0F0) |
                                   (((bytes + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ^
                                  0x3333333333333333;
      const int n = marks == 0 ? 8 : __builtin_ctzll(marks) / 8;
      if (n > 0) {
        // The n digits moved to the top bytes (leading zeros below), then
        // combined in pairs, fours and eights.
        std::uint64_t v = (bytes - 0x3030303030303030) << (8 * (8 - n));
        v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
        v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
        v = (v * 10000 + (v >> 32)) & 0x00000000FFFFFFFF;
        mantissa = mantissa * powers[n] + v;
        digits += n;
        p += n;
        if (digits > 19) return false;
      }
      if (n < 8) return true;
    }
    while (p != end_ && static_cast<unsigned>(*p - '0') < 10) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      ++digits;
      ++p;
      if (digits > 19) return false;
    }
    return true;
  }

  // Any other number text: the whole token through parse_number.
  bool general(const char* start, double& value) noexcept {
    const char* p = start;
    while (p != end_ && !ends_token(*p)) ++p;
    if (!parse_number(std::string_view(start, static_cast<std::size_t>(p - start)), value)) return false;
    p_ = p;
    return true;
  }

  const char* p_;
  const char* const end_;
};

}  // namespace

bool scan_polygon(std::string_view text, quillmere::Polygon& polygon) { return PolygonScan(text).read(polygon); }

bool scan_multipolygon(std::string_view text, std::vector<quillmere::Polygon>& polygons) {
  return PolygonScan(text).read_multi(polygons);
}

bool polygon_rings_from_str(std::string_view text, std::vector<quillmere::LineString>& rings, ErrorText& error) {
  TokenStream tokens(text);
  const Token first = tokens.next();
  if (first.kind != Token::Kind::Word || !keyword_is(first.text, "POLYGON")) return false;
  SharedRings read;
  error = from_tokens_with_parens(tokens, read);
  rings = std::move(read.rings);
  return true;
}

ErrorText Wkt::from_str(std::string_view text, Wkt& out) {
  TokenStream tokens(text);
  const Token first = tokens.next();
  if (first.kind == Token::Kind::Error) return first.error;
  if (first.kind != Token::Kind::Word) return errors::invalid_format;
  if (!is_ascii(first.text)) return errors::non_ascii_word;
  // Whatever follows the geometry's last token is never read.
  return Geometry::from_word_and_tokens(first.text, tokens, out.item);
}

}  // namespace quillmere::wkt
