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
using digit_text::lay_out;

// Whether the value is finite and nonzero with a short form.
inline bool short_value(double value, ShortForm& form) noexcept {
  const double magnitude = std::fabs(value);
  return magnitude < 1e8 && magnitude != 0.0 && short_form(magnitude, form);
}

// Any value laid out without trying its short form (which the callers have
// tried already).
char* write_long_number(char* o, double value) noexcept {
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
  char digits[32] = {};  // read past the digits by the fixed-size copies below
  int e = 0;
  const int k = shortest_digits(magnitude, digits, e);
  ++e;  // value = 0.d1...dk x 10^e

  if (e >= 1 && e < k && e <= 8) {
    // The common case (16 or 17 digits, a point within the first eight):
    // fixed-size copies that may run past the text, then the point over
    // the digit that the second copy moved up. digits has room for
    // e + 16 bytes, `o` for max_number_text.
    std::memcpy(o, digits, 16);
    std::memcpy(o + e + 1, digits + e, 16);
    o[e] = '.';
    return o + k + 1;
  }
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

}  // namespace

char* write_number_to(char* o, double value) noexcept {
  ShortForm form;
  if (!short_value(value, form)) return write_long_number(o, value);
  *o = '-';
  return lay_out(o + std::signbit(value), short_digits(form.sixteen), form.p);
}

char* write_coordinate_to(char* o, double x, double y) noexcept {
  ShortForm fx{};
  ShortForm fy{};
  const bool x_short = short_value(x, fx);
  const bool y_short = short_value(y, fy);
  if (x_short && y_short) {
    ShortDigits dx;
    ShortDigits dy;
    short_digits(fx.sixteen, fy.sixteen, dx, dy);
    *o = '-';
    o = lay_out(o + std::signbit(x), dx, fx.p);
    *o++ = ' ';
    *o = '-';
    return lay_out(o + std::signbit(y), dy, fy.p);
  }
  if (x_short) {
    *o = '-';
    o = lay_out(o + std::signbit(x), short_digits(fx.sixteen), fx.p);
  } else {
    o = write_long_number(o, x);
  }
  *o++ = ' ';
  if (!y_short) return write_long_number(o, y);
  *o = '-';
  return lay_out(o + std::signbit(y), short_digits(fy.sixteen), fy.p);
}

void write_number(double value, std::string& sink) {
  char out[max_number_text];
  sink.append(out, static_cast<std::size_t>(write_number_to(out, value) - out));
}

}  // namespace quillmere::wkt
