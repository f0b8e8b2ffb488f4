#include <charconv>
#include <cmath>
#include <cstring>

#include "wkt.hpp"

namespace quillmere::wkt {

void write_number(double value, std::string& sink) {
  if (std::isnan(value)) {
    sink += "NaN";
    return;
  }
  // Longest text: "-0." + 323 zeros + 17 digits, or "-" + 309 digits.
  char out[400];
  char* o = out;
  if (std::signbit(value)) *o++ = '-';
  if (std::isinf(value)) {
    std::memcpy(o, "inf", 3);
    sink.append(out, static_cast<std::size_t>(o + 3 - out));
    return;
  }
  if (value == 0.0) {
    *o++ = '0';
    sink.append(out, static_cast<std::size_t>(o - out));
    return;
  }

  // Shortest round-trip digits d1...dk and exponent, from the scientific form
  // "d[.ddd]e[+-]XX"; laid out positionally below, never with an exponent.
  char sci[40];
  const auto result = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
  char digits[20];
  int k = 0;
  const char* p = sci;
  for (; p < result.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits[k++] = *p;
  }
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  ++p;  // sign
  int exponent = 0;
  for (; p < result.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  // value = 0.d1...dk x 10^e
  const int e = (negative_exponent ? -exponent : exponent) + 1;

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
  sink.append(out, static_cast<std::size_t>(o - out));
}

}  // namespace quillmere::wkt
