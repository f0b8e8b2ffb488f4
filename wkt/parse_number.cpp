#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) noexcept {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lower(text[i]) != lower_word[i]) return false;
  }
  return true;
}

// Decimal exponent E of the text's value written as 0.d1d2... x 10^E (d1 the
// first nonzero digit), saturated far outside the double range. Used only to
// tell overflow from underflow once from_chars has said "out of range".
std::int64_t decimal_exponent(std::string_view digits_and_point, std::string_view exponent) noexcept {
  constexpr std::int64_t cap = std::int64_t{1} << 40;
  std::int64_t position = 0;  // digits before the point, counted from the first nonzero one
  bool seen_nonzero = false;
  bool after_point = false;
  for (char c : digits_and_point) {
    if (c == '.') {
      after_point = true;
      continue;
    }
    if (!seen_nonzero) {
      if (c == '0') {
        if (after_point) --position;
        continue;
      }
      seen_nonzero = true;
    }
    if (!after_point && position < cap) ++position;
  }
  if (position < -cap) position = -cap;
  std::int64_t value = 0;
  bool negative = false;
  std::size_t i = 0;
  if (i < exponent.size() && (exponent[i] == '+' || exponent[i] == '-')) negative = exponent[i++] == '-';
  for (; i < exponent.size(); ++i) {
    if (value < cap) value = value * 10 + (exponent[i] - '0');
  }
  return position + (negative ? -value : value);
}

}  // namespace

bool parse_number(std::string_view text, double& value) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::string_view body = text.substr(i);

  if (equals_ignoring_case(body, "nan")) {
    value = std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    return true;
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }

  // Our own syntax check: digits [ "." digits ] with at least one digit,
  // then an optional exponent with at least one digit. from_chars accepts
  // more (hex with a flag, "nan(...)"), so it only converts after this.
  std::size_t j = 0;
  std::size_t digits = 0;
  while (j < body.size() && is_digit(body[j])) ++j, ++digits;
  if (j < body.size() && body[j] == '.') {
    ++j;
    while (j < body.size() && is_digit(body[j])) ++j, ++digits;
  }
  if (digits == 0) return false;
  const std::size_t mantissa_end = j;
  std::size_t exponent_begin = body.size();
  if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
    ++j;
    exponent_begin = j;
    if (j < body.size() && (body[j] == '+' || body[j] == '-')) ++j;
    std::size_t exponent_digits = 0;
    while (j < body.size() && is_digit(body[j])) ++j, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (j != body.size()) return false;

  // from_chars takes no "+", but does take "-": hand it the text from the
  // sign on when negative, so that -0 keeps its sign.
  const std::string_view number = negative ? text.substr(i - 1) : body;
  double parsed = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), parsed,
                                      std::chars_format::general);
  if (result.ptr != number.data() + number.size()) return false;
  if (result.ec == std::errc::result_out_of_range) {
    // Too large for any finite double, or too small for the smallest
    // subnormal: both are values, infinity or zero, with the text's sign.
    const std::string_view exponent =
        exponent_begin < body.size() ? body.substr(exponent_begin) : std::string_view{};
    const bool overflow = decimal_exponent(body.substr(0, mantissa_end), exponent) > 0;
    parsed = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) parsed = -parsed;
  } else if (result.ec != std::errc{}) {
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace quillmere::wkt
