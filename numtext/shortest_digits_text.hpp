// Decimal text for shortest_digits.cpp: digit counts, and the digits of a
// 17-digit integer stored without a copy through memory.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmere::digit_text {

static_assert(std::endian::native == std::endian::little, "digit words hold their first digit in the lowest byte");

inline constexpr std::uint64_t kPowersOfTen[18] = {
    1,
    10,
    100,
    1000,
    10000,
    100000,
    1000000,
    10000000,
    100000000,
    1000000000,
    10000000000,
    100000000000,
    1000000000000,
    10000000000000,
    100000000000000,
    1000000000000000,
    10000000000000000,
    100000000000000000,
};

// The number of decimal digits of 0 < d < 10^17; the bit length times
// log10 2, rounded down, is that or one less.
inline int decimal_length(std::uint64_t d) {
  const int guess = ((64 - std::countl_zero(d)) * 1233) >> 12;
  return guess + (d >= kPowersOfTen[guess]);
}

// Sixteen ASCII digits, most significant first, as two words whose lowest
// byte comes first.
struct SixteenDigits {
  std::uint64_t first8;
  std::uint64_t last8;
};

#if defined(__SSE2__)

// The digits of high, low < 10^8 at once: four 4-digit groups v (times 4),
// each spread over four 16-bit lanes that two high-half multiplies turn into
// v / 1000, v / 100, v / 10 and v (exact for every v < 10^4), minus ten
// times the lane before.
inline SixteenDigits sixteen_digits(std::uint64_t high, std::uint64_t low) {
  const __m128i halves = _mm_set_epi64x(static_cast<long long>(low), static_cast<long long>(high));
  // x / 10^4 = x * 0xD1B71759 >> 45 for all x < 10^8.
  const __m128i high4 = _mm_srli_epi64(_mm_mul_epu32(halves, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i low4 = _mm_sub_epi32(halves, _mm_mul_epu32(high4, _mm_set1_epi32(10000)));
  const __m128i groups = _mm_packs_epi32(_mm_or_si128(high4, _mm_slli_epi64(low4, 32)), _mm_setzero_si128());
  const __m128i scaled = _mm_slli_epi16(groups, 2);
  const __m128i paired = _mm_unpacklo_epi16(scaled, scaled);
  const __m128i multiplier = _mm_set_epi16(-32768, 3277, 5243, 8389, -32768, 3277, 5243, 8389);
  const __m128i shift = _mm_set_epi16(-32768, -32768, 2048, 128, -32768, -32768, 2048, 128);
  const auto two_groups = [&](__m128i v) {
    const __m128i quotients = _mm_mulhi_epu16(_mm_mulhi_epu16(v, multiplier), shift);
    return _mm_sub_epi16(quotients, _mm_slli_epi64(_mm_mullo_epi16(quotients, _mm_set1_epi16(10)), 16));
  };
  const __m128i text = _mm_add_epi8(_mm_packus_epi16(two_groups(_mm_unpacklo_epi32(paired, paired)),
                                                     two_groups(_mm_unpackhi_epi32(paired, paired))),
                                    _mm_set1_epi8('0'));
  return {static_cast<std::uint64_t>(_mm_cvtsi128_si64(text)),
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(text, text)))};
}

#else

// Eight digits of x < 10^8 in one word: 4-digit halves in 32-bit lanes, then
// 2-digit and 1-digit lanes, dividing by multiplying (exact below 10^4 and
// 100 respectively).
inline std::uint64_t eight_digits(std::uint64_t x) {
  std::uint64_t v = (x / 10000) | ((x % 10000) << 32);
  const std::uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007Full;
  v = hundreds | ((v - hundreds * 100) << 16);
  const std::uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000Full;
  v = tens | ((v - tens * 10) << 8);
  return v + 0x3030303030303030ull;
}

inline SixteenDigits sixteen_digits(std::uint64_t high, std::uint64_t low) {
  return {eight_digits(high), eight_digits(low)};
}

#endif

// The digits of 10^16 <= padded < 10^17: the first as a number, the other
// sixteen as text.
struct SeventeenDigits {
  std::uint64_t first;
  SixteenDigits rest;
};

inline SeventeenDigits seventeen_digits(std::uint64_t padded) {
  const std::uint64_t upper = padded / 100000000;
  const std::uint64_t first = upper / 100000000;
  return {first, sixteen_digits(upper - first * 100000000, padded - upper * 100000000)};
}

// How many digits there are up to the last nonzero one.
inline int significant_count(const SeventeenDigits& text) {
  constexpr std::uint64_t zeros = 0x3030303030303030ull;
  const std::uint64_t nonzero_head = text.rest.first8 ^ zeros;  // a nonzero byte per nonzero digit
  const std::uint64_t nonzero_tail = text.rest.last8 ^ zeros;
  const unsigned count = nonzero_tail != 0 ? 17 - static_cast<unsigned>(std::countl_zero(nonzero_tail)) / 8
                                           : 9 - static_cast<unsigned>(std::countl_zero(nonzero_head)) / 8;
  return static_cast<int>(count);
}

// Stores the first count (1..17) digits and no other byte, with a few
// fixed-size, overlapping stores. For count >= 9, bump (0 or 1) is added to
// the last digit, which must then not be a 9.
inline void store_digits(const SeventeenDigits& text, int count, char* out, std::uint64_t bump = 0) {
  out[0] = static_cast<char>('0' + text.first);
  const std::uint64_t head = text.rest.first8;
  if (count >= 9) {
    // Digits 1-8, then the eight that end at the count.
    std::memcpy(out + 1, &head, 8);
    const unsigned __int128 both = (static_cast<unsigned __int128>(text.rest.last8) << 64) | head;
    const auto tail = static_cast<std::uint64_t>(both >> (8 * (count - 9))) + (bump << 56);
    std::memcpy(out + count - 8, &tail, 8);
  } else if (count >= 5) {
    const auto head4 = static_cast<std::uint32_t>(head);
    const auto tail4 = static_cast<std::uint32_t>(head >> (8 * (count - 5)));
    std::memcpy(out + 1, &head4, 4);
    std::memcpy(out + count - 4, &tail4, 4);
  } else {
    for (int i = 1; i < count; ++i) out[i] = static_cast<char>(head >> (8 * (i - 1)));
  }
}

}  // namespace quillmere::digit_text
