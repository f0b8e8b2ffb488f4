// The shortest digits of doubles that round-trip with at most 15
// significant digits (most real coordinates), found with a few double
// operations and digit arithmetic in one vector, without the general
// conversion. Shared by the WKT and JSON writers, which lay them out
// differently.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(QUILLMERE_PORTABLE_DIGITS)
#include <emmintrin.h>
#endif

namespace quillmere::digit_text {

// The powers of ten that are exact doubles.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Each digit code in its own inline namespace: a program may hold both
// (tests build the portable one beside the vector one).
#if defined(__SSE2__) && !defined(QUILLMERE_PORTABLE_DIGITS)
inline namespace vector_digits {
#else
inline namespace portable_digits {
#endif

// The 16 decimal digits of v < 10^16 as characters in two words (the first
// character in the lowest byte of `first`), and how many precede the
// trailing zeros.
struct ShortDigits {
  std::uint64_t first;
  std::uint64_t second;
  int count;
};

#if defined(__SSE2__) && !defined(QUILLMERE_PORTABLE_DIGITS)

// The four groups of four digits of v < 10^16, as 16-bit lanes 0-3.
inline __m128i digit_groups(std::uint64_t v) noexcept {
  const auto high = static_cast<std::uint32_t>(v / 100000000);
  const auto low = static_cast<std::uint32_t>(v % 100000000);
  __m128i groups = _mm_cvtsi32_si128(static_cast<int>(high / 10000));
  groups = _mm_insert_epi16(groups, static_cast<int>(high % 10000), 1);
  groups = _mm_insert_epi16(groups, static_cast<int>(low / 10000), 2);
  return _mm_insert_epi16(groups, static_cast<int>(low % 10000), 3);
}

// Eight pairs of digits (16-bit lanes below 100) as 16 characters.
inline ShortDigits pair_digits(__m128i pairs) noexcept {
  // y / 10 = (y * 6554) >> 16 for y < 100.
  const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
  const __m128i ones = _mm_sub_epi16(pairs, _mm_mullo_epi16(tens, _mm_set1_epi16(10)));
  const __m128i digits = _mm_add_epi8(_mm_or_si128(tens, _mm_slli_epi16(ones, 8)), _mm_set1_epi8('0'));
  const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0'))));
  const unsigned significant = ~zeros & 0xFFFF;
  return {static_cast<std::uint64_t>(_mm_cvtsi128_si64(digits)),
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(digits, digits))),
          significant == 0 ? 0 : 32 - __builtin_clz(significant)};
}

// x / 100 = ((4x * 10486) >> 16) >> 6 for every 16-bit lane x < 10^4.
inline __m128i hundreds_of(__m128i groups) noexcept {
  return _mm_srli_epi16(_mm_mulhi_epu16(_mm_slli_epi16(groups, 2), _mm_set1_epi16(10486)), 6);
}

// In one vector: the four groups of four digits, each split into hundreds
// and the rest, then each of those eight pairs into tens and ones, by
// multiply-high with constants exact for these ranges.
inline ShortDigits short_digits(std::uint64_t v) noexcept {
  const __m128i groups = digit_groups(v);
  const __m128i hundreds = hundreds_of(groups);
  const __m128i rest = _mm_sub_epi16(groups, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100)));
  return pair_digits(_mm_unpacklo_epi16(hundreds, rest));
}

// Two numbers' digits at once: their eight groups share one vector up to
// the pairs.
inline void short_digits(std::uint64_t u, std::uint64_t v, ShortDigits& du, ShortDigits& dv) noexcept {
  const __m128i groups = _mm_unpacklo_epi64(digit_groups(u), digit_groups(v));
  const __m128i hundreds = hundreds_of(groups);
  const __m128i rest = _mm_sub_epi16(groups, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100)));
  du = pair_digits(_mm_unpacklo_epi16(hundreds, rest));
  dv = pair_digits(_mm_unpackhi_epi16(hundreds, rest));
}

#else

// The eight decimal digits of v < 10^8 as byte values 0-9, the first digit
// in the lowest byte: all digits at once in one register (halves, then
// quarters, then single digits, each by multiply-and-shift).
inline std::uint64_t eight_digits(std::uint32_t v) noexcept {
  const std::uint64_t merged = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t top = ((merged * 10486) >> 20) & ((0x7FULL << 32) | 0x7F);  // /100 per half
  const std::uint64_t bottom = merged - 100 * top;
  const std::uint64_t hundreds = (bottom << 16) + top;
  std::uint64_t tens = (hundreds * 103) >> 10;  // /10 per quarter
  tens &= (0xFULL << 48) | (0xFULL << 32) | (0xFULL << 16) | 0xF;
  tens += (hundreds - 10 * tens) << 8;
  return tens;
}

inline ShortDigits short_digits(std::uint64_t v) noexcept {
  constexpr std::uint64_t ascii_zeros = 0x3030303030303030ULL;
  const std::uint64_t high = eight_digits(static_cast<std::uint32_t>(v / 100000000));
  const std::uint64_t low = eight_digits(static_cast<std::uint32_t>(v % 100000000));
  // Trailing zero digits are the high zero bytes.
  const int count = low != 0 ? 16 - __builtin_clzll(low) / 8 : high != 0 ? 8 - __builtin_clzll(high) / 8 : 0;
  return {high + ascii_zeros, low + ascii_zeros, count};
}

inline void short_digits(std::uint64_t u, std::uint64_t v, ShortDigits& du, ShortDigits& dv) noexcept {
  du = short_digits(u);
  dv = short_digits(v);
}

#endif

// Values with at most 15 significant digits (most real coordinates): scale
// to an integer m of 15 digits and check that m / 10^p reads back as the
// value (m and 10^p are exact, so the division rounds once). Any other
// decimal of 15 digits or fewer lies at least 10^-p, over four units in the
// last place, away, so m without its trailing zeros is the shortest
// round-trip digit string.
struct ShortForm {
  std::uint64_t sixteen;  // m and a zero: 16 digits
  int p;
};

// The short form of a nonzero finite magnitude; false when the value takes
// the general conversion (always outside [1e-7, 1e15)).
inline bool short_form(double magnitude, ShortForm& form) noexcept {
  if (!(magnitude < 1e15) || magnitude < 1e-7) return false;
  std::uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int binary_exponent = static_cast<int>(bits >> 52) - 1023;
  // floor(binary_exponent * log10(2)) = t: the value is at least 10^t and
  // below 2 * 10^(t+1), so scaling by 10^(14-t) lands in [1e14, 2e15); one
  // step down when that reaches 1e15. Chosen without branches: the digit
  // count of real data varies from number to number.
  const int t = (binary_exponent * 78913) >> 18;
  const int guess = 14 - t;
  if (guess < 0 || guess > 22) return false;
  const int p = guess - (magnitude * kExactPowersOfTen[guess] >= 1e15);
  const double scaled = magnitude * kExactPowersOfTen[p];
  // Round to the nearest integer (ties to even) by the 2^52 trick: exact
  // IEEE arithmetic for 0 <= scaled < 2^52, and no call into the C library.
  const double m = (scaled + 0x1p52) - 0x1p52;
  if (!(m >= 1e14 && m < 1e15) || m / kExactPowersOfTen[p] != magnitude) return false;
  form = {static_cast<std::uint64_t>(m) * 10, p};
  return true;
}

inline void store8(char* out, std::uint64_t bytes) noexcept { std::memcpy(out, &bytes, sizeof bytes); }

// The digits of a short form laid out positionally at `o`; returns the end.
// Every store is a whole 8-byte word: `o` has room for 24 bytes.
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

}  // namespace vector_digits / portable_digits

}  // namespace quillmere::digit_text
