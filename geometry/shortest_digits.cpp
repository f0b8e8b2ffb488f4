#include <charconv>
#include <cstring>

#include "geometry/geometry.hpp"

namespace quillmere {

int shortest_digits(double magnitude, char* digits, int& exponent) noexcept {
  // The scientific form "d[.ddd]e(+|-)XX" of the standard shortest round-trip
  // conversion carries exactly the digits and the exponent.
  char sci[40];
  const char* end = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific).ptr;
  const auto* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<std::size_t>(end - sci)));
  int count = 1;
  digits[0] = sci[0];
  if (e - sci > 2) {
    std::memcpy(digits + 1, sci + 2, static_cast<std::size_t>(e - sci - 2));
    count = static_cast<int>(e - sci - 1);
  }
  const bool negative = e[1] == '-';
  int value = 0;
  for (const char* p = e + 2; p < end; ++p) value = value * 10 + (*p - '0');
  exponent = negative ? -value : value;
  return count;
}

}  // namespace quillmere
