// The text of a finite double: shortest round-trip digits laid out in plain
// notation for magnitudes 1e-5 <= |v| < 1e16 and in exponent notation outside.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "geojson.hpp"
#include "numtext/numtext.hpp"
#include "pow10.hpp"

namespace quillmere::json {

namespace {

// The shortest digits of a positive double that has a round-tripping decimal
// form of at most 15 significant digits, found without the general algorithm.
// Let j be such that a * 10^j lies just under 10^15 and s the nearest integer
// to that product. While the product is below 2^50 its rounding error is under
// 1/16, so any round-tripping decimal with at most j fraction digits shows up
// as s (scaled), and s / 10^j == a (both operands exact, division correctly
// rounded) says whether it round-trips. Distinct decimals of at most 15
// significant digits never share a double, so the one found, with trailing
// zeros stripped, is the unique shortest form, which is also what to_chars
// gives. Anything else (16 or 17 digits, tiny or huge values) returns false.
bool shortest_digits_fast(double a, char* digits, int& digit_count, int& exponent) {
  if (!(a >= 1e-7 && a < 1e15)) return false;
  int m = 1;  // about the number of integer digits; an error of one is harmless
  if (a >= 1.0) {
    while (m < 15 && a >= kPow10[m]) ++m;
  } else {
    m = 0;
    while (m > -7 && a * kPow10[1 - m] < 1.0) --m;
  }
  int j = 15 - m;
  if (j < 0 || j > 22) return false;
  const double p = a * kPow10[j];
  if (!(p < 1125899906842624.0)) return false;  // 2^50
  std::uint64_t s = static_cast<std::uint64_t>(p + 0.5);
  if (s == 0) return false;
  const double back = static_cast<double>(s) / kPow10[j];
  if (back != a) return false;
  while (s % 10 == 0) {
    s /= 10;
    --j;
  }
  char* end = std::to_chars(digits, digits + 20, s).ptr;
  const int n = static_cast<int>(end - digits);
  if (n > 15) return false;
  digit_count = n;
  exponent = n - 1 - j;
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
  char digits[24];
  int n = 0;
  int e = 0;  // scientific exponent: 10^e <= |value| < 10^(e+1)
  if (!shortest_digits_fast(std::fabs(value), digits, n, e)) n = shortest_digits(std::fabs(value), digits, e);
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
