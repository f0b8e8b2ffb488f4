// The text of a finite double: shortest round-trip digits laid out in plain
// notation for magnitudes 1e-5 <= |v| < 1e16 and in exponent notation outside.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "geojson.hpp"
#include "numtext/numtext.hpp"
#include "numtext/short_form.hpp"

namespace quillmere::json {

namespace {

// The shortest digits of a magnitude that round-trips with at most 15
// significant digits, from the short form the WKT writer uses too.
bool shortest_digits_fast(double a, char* digits, int& digit_count, int& exponent) {
  digit_text::ShortForm form;
  if (!digit_text::short_form(a, form)) return false;
  const digit_text::ShortDigits text = digit_text::short_digits(form.sixteen);
  std::memcpy(digits, &text.first, 8);
  std::memcpy(digits + 8, &text.second, 8);
  digit_count = text.count;
  exponent = 14 - form.p;  // 10^14 <= m < 10^15 and a = m / 10^p
  return true;
}

}  // namespace

char* write_number_text(double value, char* out) noexcept {
  if (!std::isfinite(value)) {
    std::memcpy(out, "null", 4);
    return out + 4;
  }
  if (std::signbit(value)) *out++ = '-';
  if (value == 0.0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  const double magnitude = std::fabs(value);
  digit_text::ShortForm form;
  const bool plain_short_range = magnitude >= 1e-5 && magnitude < 1e8;
  if (plain_short_range && digit_text::short_form(magnitude, form)) {
    // Plain notation, laid out as the WKT writer does; whole numbers get ".0".
    const digit_text::ShortDigits text = digit_text::short_digits(form.sixteen);
    out = digit_text::lay_out(out, text, form.p);
    const int before_point = 15 - form.p;
    if (before_point > 0 && text.count <= before_point) {
      std::memcpy(out, ".0", 2);
      out += 2;
    }
    return out;
  }
  char digits[32] = {};  // read past the digits by the fixed-size copies below
  int n = 0;
  int e = 0;  // scientific exponent: 10^e <= |value| < 10^(e+1)
  // In the plain short range the short form has been tried already.
  if (plain_short_range || !shortest_digits_fast(magnitude, digits, n, e)) n = shortest_digits(magnitude, digits, e);
  const int m = e + 1;  // 10^(m-1) <= |value| < 10^m
  const int k = m - n;  // value = digits * 10^k

  if (m >= 1 && m <= 8 && k < 0) {
    // The common case of long digits (a point within the first eight):
    // fixed-size copies that may run past the text, then the point over
    // the digit that the second copy moved up. digits has room for m + 16
    // bytes, `out` for kMaxNumberText.
    std::memcpy(out, digits, 16);
    std::memcpy(out + m + 1, digits + m, 16);
    out[m] = '.';
    return out + n + 1;
  }

  if (k >= 0 && m <= 16) {
    std::memcpy(out, digits, static_cast<std::size_t>(n));
    out += n;
    std::memset(out, '0', static_cast<std::size_t>(k));
    out += k;
    std::memcpy(out, ".0", 2);
    return out + 2;
  }
  if (m > 0 && m <= 16) {
    std::memcpy(out, digits, static_cast<std::size_t>(m));
    out += m;
    *out++ = '.';
    std::memcpy(out, digits + m, static_cast<std::size_t>(n - m));
    return out + (n - m);
  }
  if (m <= 0 && m >= -4) {
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', static_cast<std::size_t>(-m));
    out += -m;
    std::memcpy(out, digits, static_cast<std::size_t>(n));
    return out + n;
  }
  *out++ = digits[0];
  if (n > 1) {
    *out++ = '.';
    std::memcpy(out, digits + 1, static_cast<std::size_t>(n - 1));
    out += n - 1;
  }
  *out++ = 'e';
  return std::to_chars(out, out + 8, e).ptr;
}

char* write_number_text(const Number& number, char* out) noexcept {
  switch (number.kind) {
    case Number::Kind::Unsigned:
      return std::to_chars(out, out + kMaxNumberText, number.u).ptr;
    case Number::Kind::Negative:
      return std::to_chars(out, out + kMaxNumberText, number.i).ptr;
    case Number::Kind::Float:
      break;
  }
  return write_number_text(number.f, out);
}

std::string number_text(double value) {
  char buffer[kMaxNumberText];
  return std::string(buffer, write_number_text(value, buffer));
}

}  // namespace quillmere::json
