#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
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

bool extended_decimal(std::uint64_t mantissa, int q, double& magnitude) noexcept {
  // Up to 19 digits (typical full-precision coordinates): one operation in
  // x87 extended precision, where mantissa and 10^q (q <= 27) are still
  // exact. The one rounding to 64 bits can only make the rounding to 53 bits
  // wrong when it lands next to a halfway point of two doubles (the 11 bits
  // below the double's last bit near 0x400); those rare texts are left to
  // the general conversion.
  static constexpr long double long_powers_of_ten[] = {
      1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
      1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
  static_assert(std::numeric_limits<long double>::digits == 64);
  const auto m = static_cast<long double>(mantissa);
  const long double extended = q < 0 ? m / long_powers_of_ten[-q] : m * long_powers_of_ten[q];
  std::uint64_t significand;
  std::memcpy(&significand, &extended, sizeof significand);  // x87: the 64-bit significand comes first
  const unsigned below = static_cast<unsigned>(significand & 0x7FF);
  if (below >= 0x3FF && below <= 0x401) return false;
  magnitude = static_cast<double>(extended);
  return true;
}

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
  const char* const begin = body.data();
  const char* const end = begin + body.size();
  const char* p = begin;
  const char* const int_begin = p;
  while (p != end && is_digit(*p)) ++p;
  const char* const int_end = p;
  const char* frac_begin = p;
  const char* frac_end = p;
  if (p != end && *p == '.') {
    frac_begin = ++p;
    while (p != end && is_digit(*p)) ++p;
    frac_end = p;
  }
  if (int_end == int_begin && frac_end == frac_begin) return false;
  const auto mantissa_end = static_cast<std::size_t>(p - begin);
  std::size_t exponent_begin = body.size();
  std::int64_t exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    exponent_begin = static_cast<std::size_t>(p - begin);
    bool exponent_negative = false;
    if (p != end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    const char* const digits_begin = p;
    while (p != end && is_digit(*p)) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (p == digits_begin) return false;
    if (exponent_negative) exponent = -exponent;
  }
  if (p != end) return false;

  // The significant digits (leading zeros dropped) as one integer, when
  // there are at most 19 of them.
  const char* first = int_begin;
  while (first != int_end && *first == '0') ++first;
  int significant;
  if (first != int_end) {
    significant = static_cast<int>((int_end - first) + (frac_end - frac_begin));
  } else {
    first = frac_begin;
    while (first != frac_end && *first == '0') ++first;
    significant = static_cast<int>(frac_end - first);
  }
  std::uint64_t mantissa = 0;
  if (significant <= 19) {
    for (const char* d = first; d < int_end; ++d) mantissa = mantissa * 10 + static_cast<unsigned>(*d - '0');
    for (const char* d = first > frac_begin ? first : frac_begin; d != frac_end; ++d) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*d - '0');
    }
  }
  const auto scale = static_cast<std::int64_t>(frac_end - frac_begin);

  // The exponent stops growing at the cap, so q is exact only below it.
  const std::int64_t q = exponent - scale;
  const bool q_exact = exponent > -100000 && exponent < 100000 && scale < 100000;
  double magnitude = 0.0;
  if (q_exact && significant <= 19 && q >= -27 && q <= 27 &&
      exact_decimal(mantissa, static_cast<int>(q), magnitude)) {
    value = negative ? -magnitude : magnitude;
    return true;
  }

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
