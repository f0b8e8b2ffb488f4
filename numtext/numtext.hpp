// Number text shared by the WKT and JSON writers, which lay the digits out
// differently.
#pragma once

namespace quillmere {

// The shortest round-trip decimal digits of a positive finite double (those
// of std::to_chars, at most 17, no leading or trailing zeros) and the
// exponent e with 10^e <= magnitude < 10^(e+1). Returns the digit count.
int shortest_digits(double magnitude, char* digits, int& exponent) noexcept;

}  // namespace quillmere
