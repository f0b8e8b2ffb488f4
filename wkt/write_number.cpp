#include <cmath>
#include <cstdint>
#include <cstring>

#include "numtext/numtext.hpp"
#include "numtext/short_form.hpp"
#include "wkt.hpp"

namespace quillmere::wkt {
namespace {

using digit_text::short_form;
using digit_text::ShortForm;
using digit_text::short_digits;
using digit_text::ShortDigits;

inline void store8(char* out, std::uint64_t bytes) noexcept { std::memcpy(out, &bytes, sizeof bytes); }

// The digits of a short form laid out positionally at `o`; returns the end.
// Every store is a whole 8-byte word: `o` has room for max_number_text.
inline char* lay_out(char* o, const ShortDigits& digits, int p) noexcept {
  const std::uint64_t first = digits.first;
  const std::uint64_t second = digits.second;
  const int k = digits.count;
  const int e = 15 - p;  // digits before the point: -6 <= e <= 8
  if (e <= 0) {
    // "0." and up to six zeros, then the digits.
    std::memcpy(o, "0.000000", 8);
    o += 2 - e;
    store8(o, first);
    store8(o + 8, second);
    return o + k;
  }
  if (k <= e) {
    // A whole number: the zeros of the 16 characters fill the integer part.
    store8(o, first);
    return o + e;
  }
  // The point goes in after character e (1 <= e <= 8, k > e so e < 16): the
  // first word's characters from e on move one place up.
  const std::uint64_t kept = ~0ULL >> (64 - 8 * e);
  if (e < 8) {
    store8(o, (first & kept) | (static_cast<std::uint64_t>('.') << (8 * e)) | ((first & ~kept) << 8));
    o[8] = static_cast<char>(first >> 56);
  } else {
    store8(o, first);
    o[8] = '.';
  }
  store8(o + 9, second);
  return o + k + 1;
}

// Whether the value is finite and nonzero with a short form.
inline bool short_value(double value, ShortForm& form) noexcept {
  const double magnitude = std::fabs(value);
  return magnitude < 1e8 && magnitude != 0.0 && short_form(magnitude, form);
}

}  // namespace

char* write_number_to(char* o, double value) noexcept {
  if (std::isnan(value)) {
    std::memcpy(o, "NaN", 3);
    return o + 3;
  }
  // Without a branch: signs of real coordinates follow no pattern.
  *o = '-';
  o += std::signbit(value);
  if (std::isinf(value)) {
    std::memcpy(o, "inf", 3);
    return o + 3;
  }
  if (value == 0.0) {
    *o++ = '0';
    return o;
  }

  // value = 0.d1...dk x 10^e, laid out positionally, never with an exponent.
  const double magnitude = std::fabs(value);
  ShortForm form;
  if (magnitude < 1e8 && short_form(magnitude, form)) return lay_out(o, short_digits(form.sixteen), form.p);
  char digits[24];
  int e = 0;
  const int k = shortest_digits(magnitude, digits, e);
  ++e;  // value = 0.d1...dk x 10^e

  if (e <= 0) {
    *o++ = '0';
    *o++ = '.';
    std::memset(o, '0', static_cast<std::size_t>(-e));
    o += -e;
    std::memcpy(o, digits, static_cast<std::size_t>(k));
    o += k;
  } else if (e < k) {
    std::memcpy(o, digits, static_cast<std::size_t>(e));
    o += e;
    *o++ = '.';
    std::memcpy(o, digits + e, static_cast<std::size_t>(k - e));
    o += k - e;
  } else {
    std::memcpy(o, digits, static_cast<std::size_t>(k));
    o += k;
    std::memset(o, '0', static_cast<std::size_t>(e - k));
    o += e - k;
  }
  return o;
}

char* write_coordinate_to(char* o, double x, double y) noexcept {
  ShortForm fx;
  ShortForm fy;
  if (short_value(x, fx) && short_value(y, fy)) {
    ShortDigits dx;
    ShortDigits dy;
    short_digits(fx.sixteen, fy.sixteen, dx, dy);
    *o = '-';
    o = lay_out(o + std::signbit(x), dx, fx.p);
    *o++ = ' ';
    *o = '-';
    return lay_out(o + std::signbit(y), dy, fy.p);
  }
  o = write_number_to(o, x);
  *o++ = ' ';
  return write_number_to(o, y);
}

void write_number(double value, std::string& sink) {
  char out[max_number_text];
  sink.append(out, static_cast<std::size_t>(write_number_to(out, value) - out));
}

}  // namespace quillmere::wkt
