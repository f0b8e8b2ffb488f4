// JSON text to a value tree: one forward pass, errors with line and column.
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "geojson.hpp"
#include "pow10.hpp"

namespace quillmere::json {

namespace {

// Thrown inside the parser only; `end` is the length of the input prefix
// that the error's line and column describe.
struct Failure {
  ErrorCode code;
  std::size_t end;
};

constexpr std::uint64_t kU64Tenth = std::numeric_limits<std::uint64_t>::max() / 10;  // 1844674407370955161
constexpr std::uint64_t kU64LastDigit = std::numeric_limits<std::uint64_t>::max() % 10;  // 5

inline bool significand_overflows(std::uint64_t significand, unsigned digit) {
  return significand > kU64Tenth || (significand == kU64Tenth && digit > kU64LastDigit);
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::int64_t saturate_i32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return v;
}

class Parser {
 public:
  Parser(std::string_view text, Arena& arena, const ParseOptions& options = {})
      : begin_(text.data()),
        p_(text.data()),
        end_(text.data() + text.size()),
        arena_(arena),
        spans_(options.member_array_spans),
        cancelled_(options.cancelled),
        remaining_depth_(128 - options.enclosing_depth) {
    // A value tree takes about twice its text (16 bytes a value, 32 a member).
    arena.expect(text.size() * 2 + 64);
    // Room for the open containers of a usual document, grown once at most.
    values_.reserve(32);
    members_.reserve(16);
  }

  Value parse_document() {
    skip_whitespace();
    Value root = parse_value();
    skip_whitespace();
    if (p_ != end_) fail_at(p_, ErrorCode::TrailingCharacters);
    return root;
  }

 private:
  [[noreturn]] void fail_at(const char* offending, ErrorCode code) {
    throw Failure{code, static_cast<std::size_t>(offending - begin_) + 1};
  }
  [[noreturn]] void fail_eof(ErrorCode code) { throw Failure{code, static_cast<std::size_t>(end_ - begin_)}; }

  void skip_whitespace() {
    while (p_ != end_) {
      char c = *p_;
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      ++p_;
    }
  }

  // p_ is at the first byte of the value (whitespace already skipped).
  Value parse_value() {
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);
    switch (*p_) {
      case '"':
        ++p_;
        return Value::string(parse_string());
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_number();
      case '[':
        return parse_array();
      case '{':
        return parse_object();
      case 't':
        parse_literal("true");
        return Value::boolean(true);
      case 'f':
        parse_literal("false");
        return Value::boolean(false);
      case 'n':
        parse_literal("null");
        return Value::null();
      default:
        fail_at(p_, ErrorCode::ExpectedValue);
    }
  }

  void parse_literal(std::string_view literal) {
    for (std::size_t i = 1; i < literal.size(); ++i) {
      if (p_ + i == end_) fail_eof(ErrorCode::EofWhileParsingValue);
      if (p_[i] != literal[i]) fail_at(p_ + i, ErrorCode::ExpectedIdent);
    }
    p_ += literal.size();
  }

  void enter(const char* bracket) {
    if (--remaining_depth_ <= 0) fail_at(bracket, ErrorCode::RecursionLimitExceeded);
  }

  Value parse_array() {
    enter(p_);
    ++p_;
    const std::size_t base = values_.size();
    skip_whitespace();
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingList);
    if (*p_ == ']') {
      ++p_;
    } else {
      for (;;) {
        Value element = parse_value();
        values_.push_back(element);
        skip_whitespace();
        if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingList);
        if (*p_ == ',') {
          ++p_;
          skip_whitespace();
          if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);
          if (*p_ == ']') fail_at(p_, ErrorCode::TrailingComma);
          continue;
        }
        if (*p_ == ']') {
          ++p_;
          break;
        }
        fail_at(p_, ErrorCode::ExpectedListCommaOrEnd);
      }
    }
    ++remaining_depth_;
    if (cancelled_ != nullptr && (++arrays_ & 0x3FFF) == 0 && cancelled_->load(std::memory_order_relaxed)) {
      throw Cancelled{};
    }
    if (spans_ != nullptr && values_.size() == base) {
      // Storage of its own, so that the span can be found again.
      return Value::array({static_cast<const Value*>(arena_.allocate(sizeof(Value))), 0});
    }
    Value array = arena_.make_array(std::span<const Value>(values_).subspan(base));
    values_.resize(base);
    return array;
  }

  Value parse_object() {
    enter(p_);
    ++p_;
    const std::size_t base = members_.size();
    skip_whitespace();
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingObject);
    if (*p_ == '}') {
      ++p_;
    } else {
      for (;;) {
        if (*p_ != '"') fail_at(p_, ErrorCode::KeyMustBeAString);
        ++p_;
        std::string_view key = parse_string();
        skip_whitespace();
        if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingObject);
        if (*p_ != ':') fail_at(p_, ErrorCode::ExpectedColon);
        ++p_;
        skip_whitespace();
        const char* value_begin = p_;
        Value value = parse_value();
        if (spans_ != nullptr && value.is_array()) {
          spans_->push_back(ArraySpan{value.elements().data(), static_cast<std::size_t>(value_begin - begin_),
                                      static_cast<std::size_t>(p_ - begin_)});
        }
        members_.push_back(Member{key, value});
        skip_whitespace();
        if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingObject);
        if (*p_ == ',') {
          ++p_;
          skip_whitespace();
          if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);
          if (*p_ == '}') fail_at(p_, ErrorCode::TrailingComma);
          continue;
        }
        if (*p_ == '}') {
          ++p_;
          break;
        }
        fail_at(p_, ErrorCode::ExpectedObjectCommaOrEnd);
      }
    }
    ++remaining_depth_;
    Value object = arena_.make_object(std::span<Member>(members_).subspan(base));
    members_.resize(base);
    return object;
  }

  // p_ is just after the opening quote. Text without escapes is returned as a
  // view into the input; otherwise it is built in the scratch buffer and
  // copied into the arena.
  std::string_view parse_string() {
    const char* start = p_;
    for (;;) {
      if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingString);
      unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        std::string_view text(start, static_cast<std::size_t>(p_ - start));
        ++p_;
        return text;
      }
      if (c == '\\') break;
      if (c < 0x20) fail_at(p_, ErrorCode::ControlCharacterWhileParsingString);
      ++p_;
    }
    scratch_.assign(start, p_);
    for (;;) {
      const char* run = p_;
      for (;;) {
        if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingString);
        unsigned char c = static_cast<unsigned char>(*p_);
        if (c == '"' || c == '\\') break;
        if (c < 0x20) fail_at(p_, ErrorCode::ControlCharacterWhileParsingString);
        ++p_;
      }
      scratch_.append(run, p_);
      if (*p_ == '"') {
        ++p_;
        return arena_.copy_string(scratch_);
      }
      ++p_;  // the backslash
      if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingString);
      char e = *p_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          scratch_.push_back(e);
          break;
        case 'b':
          scratch_.push_back('\b');
          break;
        case 'f':
          scratch_.push_back('\f');
          break;
        case 'n':
          scratch_.push_back('\n');
          break;
        case 'r':
          scratch_.push_back('\r');
          break;
        case 't':
          scratch_.push_back('\t');
          break;
        case 'u':
          ++p_;
          parse_unicode_escape();
          continue;
        default:
          fail_at(p_, ErrorCode::InvalidEscape);
      }
      ++p_;
    }
  }

  // p_ is just after "\u"; leaves p_ after the last hex digit consumed.
  unsigned read_hex4() {
    if (end_ - p_ < 4) fail_eof(ErrorCode::EofWhileParsingString);
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      int h = hex_value(p_[i]);
      if (h < 0) fail_at(p_ + i, ErrorCode::InvalidEscape);
      value = value * 16 + static_cast<unsigned>(h);
    }
    p_ += 4;
    return value;
  }

  void parse_unicode_escape() {
    unsigned first = read_hex4();
    if (first >= 0xDC00 && first <= 0xDFFF) fail_at(p_ - 1, ErrorCode::LoneLeadingSurrogateInHexEscape);
    if (first < 0xD800 || first > 0xDBFF) {
      push_utf8(first);
      return;
    }
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingString);
    if (*p_ != '\\') fail_at(p_, ErrorCode::UnexpectedEndOfHexEscape);
    ++p_;
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingString);
    if (*p_ != 'u') fail_at(p_, ErrorCode::UnexpectedEndOfHexEscape);
    ++p_;
    unsigned second = read_hex4();
    if (second < 0xDC00 || second > 0xDFFF) fail_at(p_ - 1, ErrorCode::LoneLeadingSurrogateInHexEscape);
    unsigned code_point = 0x10000 + (first - 0xD800) * 0x400 + (second - 0xDC00);
    if (code_point > 0x10FFFF) fail_at(p_ - 1, ErrorCode::InvalidUnicodeCodePoint);
    push_utf8(code_point);
  }

  void push_utf8(unsigned cp) {
    if (cp < 0x80) {
      scratch_.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      scratch_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      scratch_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      scratch_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      scratch_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      scratch_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      scratch_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  // Deliberately not correctly rounded: the significand keeps the leading
  // digits that fit in 64 bits, and the value is that significand times (or
  // divided by) the double nearest the power of ten.
  Value parse_number() {
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);

    std::uint64_t significand = 0;
    int held = 0;  // digits taken into the significand (leading zeros included)
    std::int64_t exponent = 0;
    bool is_float = false;
    const char c = *p_;
    if (c == '0') {
      ++p_;
      if (p_ != end_ && is_digit(*p_)) fail_at(p_, ErrorCode::InvalidNumber);
    } else if (is_digit(c)) {
      significand = static_cast<std::uint64_t>(c - '0');
      ++p_;
      ++held;
      // Up to 19 digits always fit; only longer literals need the checks below.
      while (held < 19 && p_ != end_ && is_digit(*p_)) {
        significand = significand * 10 + static_cast<unsigned>(*p_ - '0');
        ++p_;
        ++held;
      }
      while (p_ != end_ && is_digit(*p_)) {
        unsigned digit = static_cast<unsigned>(*p_ - '0');
        if (significand_overflows(significand, digit)) {
          // Truncate: this and every later integer digit only scales by ten.
          is_float = true;
          while (p_ != end_ && is_digit(*p_)) {
            ++exponent;
            ++p_;
          }
          break;
        }
        significand = significand * 10 + digit;
        ++p_;
      }
    } else {
      fail_at(p_, ErrorCode::InvalidNumber);
    }

    if (p_ != end_ && *p_ == '.') {
      is_float = true;
      ++p_;
      if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);
      if (!is_digit(*p_)) fail_at(p_, ErrorCode::InvalidNumber);
      while (held < 19 && p_ != end_ && is_digit(*p_)) {
        significand = significand * 10 + static_cast<unsigned>(*p_ - '0');
        --exponent;
        ++p_;
        ++held;
      }
      bool full = false;
      while (p_ != end_ && is_digit(*p_)) {
        unsigned digit = static_cast<unsigned>(*p_ - '0');
        if (!full) {
          if (significand_overflows(significand, digit)) {
            full = true;
          } else {
            significand = significand * 10 + digit;
            --exponent;
          }
        }
        ++p_;
      }
    }

    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      is_float = true;
      ++p_;
      bool positive_exponent = true;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
        positive_exponent = *p_ == '+';
        ++p_;
      }
      if (p_ == end_) fail_eof(ErrorCode::EofWhileParsingValue);
      if (!is_digit(*p_)) fail_at(p_, ErrorCode::InvalidNumber);
      std::int64_t written = 0;
      bool overflow = false;
      while (p_ != end_ && is_digit(*p_)) {
        int digit = *p_ - '0';
        if (!overflow) {
          if (written > (INT32_MAX - digit) / 10) {
            overflow = true;
          } else {
            written = written * 10 + digit;
          }
        }
        ++p_;
      }
      if (overflow) {
        if (significand != 0 && positive_exponent) fail_at(p_ - 1, ErrorCode::NumberOutOfRange);
        return Value::floating(negative ? -0.0 : 0.0);
      }
      exponent = saturate_i32(exponent);
      exponent = saturate_i32(positive_exponent ? exponent + written : exponent - written);
    }

    if (!is_float) {
      if (!negative) return Value::unsigned_integer(significand);
      constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
      if (significand == kMinMagnitude) return Value::negative_integer(std::numeric_limits<std::int64_t>::min());
      if (significand != 0 && significand < kMinMagnitude) {
        return Value::negative_integer(-static_cast<std::int64_t>(significand));
      }
      return Value::floating(-static_cast<double>(significand));
    }

    exponent = saturate_i32(exponent);
    double value = static_cast<double>(significand);
    for (;;) {
      std::uint64_t magnitude = exponent < 0 ? static_cast<std::uint64_t>(-exponent) : static_cast<std::uint64_t>(exponent);
      if (magnitude <= 308) {
        if (exponent >= 0) {
          value *= kPow10[magnitude];
          if (std::isinf(value)) fail_at(p_ - 1, ErrorCode::NumberOutOfRange);
        } else {
          value /= kPow10[magnitude];
        }
        break;
      }
      if (value == 0.0) break;
      if (exponent >= 0) fail_at(p_ - 1, ErrorCode::NumberOutOfRange);
      value /= 1e308;
      exponent += 308;
    }
    return Value::floating(negative ? -value : value);
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  Arena& arena_;
  std::vector<ArraySpan>* spans_;
  const std::atomic<bool>* cancelled_;
  std::uint32_t arrays_ = 0;  // arrays ended, for the occasional look at cancelled_
  int remaining_depth_;
  std::vector<Value> values_;    // elements of the arrays being read, innermost last
  std::vector<Member> members_;  // members of the objects being read, innermost last
  std::string scratch_;          // the current string with escapes resolved
};

Error locate(std::string_view text, ErrorCode code, std::size_t end) {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return Error{code, line, end - line_start};
}

}  // namespace

std::variant<Document, Error> from_str(std::string_view text) { return from_str(text, ParseOptions{}); }

std::variant<Document, Error> from_str(std::string_view text, const ParseOptions& options) {
  return from_str(text, options, Arena());
}

std::variant<Document, Error> from_str(std::string_view text, const ParseOptions& options, Arena&& storage) {
  storage.reuse();
  Document document(std::move(storage));
  try {
    Parser parser(text, document.arena(), options);
    document.set_root(parser.parse_document());
  } catch (const Failure& failure) {
    return locate(text, failure.code, failure.end);
  }
  return document;
}

}  // namespace quillmere::json
