// Shortest round-trip digits of a double, chosen as std::to_chars chooses
// them (shortest, then nearest, then even), with integer arithmetic only.
//
// v = c * 2^q reads back from every decimal between the midpoints to its
// neighbours, (4c - 2) * 2^(q-2) and (4c + 2) * 2^(q-2), those two included
// when c is even (parsing rounds ties to even). Where c = 2^52 starts a
// binade the gap below is half as wide and the lower end (4c - 1) * 2^(q-2).
// With k the largest integer such that 10^k fits in that interval's width,
// it holds at most one multiple of 10^(k+1) and at least one of 10^k, so the
// answer is that multiple of 10^(k+1) if there is one, else the nearer of
// the multiples of 10^k just below and above v that lie inside. All of it is
// decided on x = m * 2^q / 10^k for m = 4c and the two ends: its integer part
// and whether it is an integer, which one 128 x 64-bit product gives.
#include <bit>
#include <cstdint>

#include "numtext/numtext.hpp"
#include "numtext/powers_of_ten_128.hpp"
#include "numtext/shortest_digits_text.hpp"

namespace quillmere {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using digit_text::decimal_length;
using digit_text::kPowersOfTen;
using digit_text::SeventeenDigits;
using digit_text::seventeen_digits;

// floor(log10(2^q)), or floor(log10(3/4 * 2^q)) with three_quarters, and
// floor(log2(10^e)), over the exponents of finite doubles; the table
// generator checks all three.
constexpr int floor_log10_pow2(int q, bool three_quarters) {
  return (q * 315653 - (three_quarters ? 131007 : 0)) >> 20;
}
constexpr int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// For x = G * m / 2^128, G a table entry: floor(x) when x is an integer,
// floor(x) | 1 otherwise, so that comparing it with an even integer decides
// <, == or > against x itself. G is rounded up, so an integer x shows a
// fraction below 2^60 / 2^128; the table generator proves that no other x
// comes that close to an integer.
u64 round_to_odd(const u64* g, u64 m) {
  const u128 low = u128{g[1]} * m;
  const u128 high = u128{g[0]} * m + (low >> 64);
  const bool fraction = (static_cast<u64>(high) | (static_cast<u64>(low) >> 60)) != 0;
  return static_cast<u64>(high >> 64) | fraction;
}

}  // namespace

int shortest_digits(double magnitude, char* digits, int& exponent) noexcept {
  const u64 bits = std::bit_cast<u64>(magnitude);
  const u64 stored = bits & ((u64{1} << 52) - 1);
  const int biased = static_cast<int>(bits >> 52);
  const u64 c = stored | (u64{biased != 0} << 52);
  const int q = (biased != 0 ? biased : 1) - 1075;
  const bool half_gap_below = stored == 0 && biased > 1;

  const int k = floor_log10_pow2(q, half_gap_below);
  const int h = q + floor_log2_pow10(-k) + 1;  // 1..4, so that x = G * (m << h) / 2^128
  const u64* entry = powers_of_ten_128::kScaled[-k - powers_of_ten_128::kMinExponent];
  const u64 vb = round_to_odd(entry, (4 * c) << h);
  const u64 vb_low = round_to_odd(entry, (4 * c - 2 + half_gap_below) << h);
  const u64 vb_high = round_to_odd(entry, (4 * c + 2) << h);
  const u64 open = c & 1;  // the ends are outside: compare strictly

  const u64 s = vb >> 2;  // floor(v / 10^k)
  // Normal doubles have 2^52 <= s < 10^17; only subnormals need the general count.
  const int length = biased != 0 ? 16 + (s >= kPowersOfTen[16]) : decimal_length(s);

  const u64 s10 = s / 10;
  const bool down10_in = vb_low + open <= 40 * s10;
  const bool up10_in = 40 * s10 + 40 + open <= vb_high;
  if (down10_in | up10_in) {
    // The multiple of 10^(k+1): as many digits as s, or 10^length when
    // s = 9...9 rounds up. Its trailing zeros are dropped.
    u64 padded = 10 * (s10 + !down10_in) * kPowersOfTen[17 - length];
    int scientific = k + length - 1;
    if (padded >= kPowersOfTen[17]) {
      padded /= 10;
      ++scientific;
    }
    exponent = scientific;
    const SeventeenDigits text = seventeen_digits(padded);
    const int count = digit_text::significant_count(text);
    digit_text::store_digits(text, count, digits);
    return count;
  }

  // s or s + 1: whichever is inside, or the nearer (the even one on a tie)
  // when both are, decided without branches as it is random for long
  // digit strings. Neither ends in 0, or it would be a multiple of
  // 10^(k+1), so all length digits are kept, and s + 1 is s with its last
  // digit (not a 9) raised, so the text of s is made without waiting.
  const bool lower_in = vb_low + open <= 4 * s;
  const bool upper_in = 4 * s + 4 + open <= vb_high;
  const u64 midpoint = 4 * s + 2;
  const bool nearer_up = (vb > midpoint) | ((vb == midpoint) & ((s & 1) != 0));
  const u64 round_up = (!lower_in) | (upper_in & nearer_up);
  exponent = k + length - 1;
  if (length >= 9) {
    digit_text::store_digits(seventeen_digits(s * kPowersOfTen[17 - length]), length, digits, round_up);
  } else {
    digit_text::store_digits(seventeen_digits((s + round_up) * kPowersOfTen[17 - length]), length, digits);
  }
  return length;
}

}  // namespace quillmere
