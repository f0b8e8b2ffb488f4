// The text of a finite double: shortest round-trip digits laid out in plain
// notation for magnitudes 1e-5 <= |v| < 1e16 and in exponent notation outside.
#include <charconv>
#include <cmath>
#include <cstring>

#include "geojson.hpp"

namespace quillmere::json {

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
  // Scientific form gives the shortest digits d1[.d2...]e(+|-)x directly.
  char sci[32];
  char* sci_end = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific).ptr;
  char digits[20];
  int n = 0;
  const char* s = sci;
  while (*s != 'e') {
    if (*s != '.') digits[n++] = *s;
    ++s;
  }
  ++s;  // 'e'
  bool negative_exponent = *s == '-';
  ++s;  // sign
  int e = 0;
  for (; s != sci_end; ++s) e = e * 10 + (*s - '0');
  if (negative_exponent) e = -e;
  const int m = e + 1;  // 10^(m-1) <= |value| < 10^m
  const int k = m - n;  // value = digits * 10^k

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
