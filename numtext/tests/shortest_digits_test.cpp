// shortest_digits must give exactly the digits and exponent of std::to_chars'
// shortest scientific form, so every test compares the two on chosen or
// random doubles.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "numtext/numtext.hpp"

namespace quillmere {
namespace {

struct Decimal {
  std::string digits;
  int exponent;
  bool operator==(const Decimal&) const = default;
};

void PrintTo(const Decimal& d, std::ostream* os) { *os << d.digits << "e" << d.exponent; }

Decimal from_to_chars(double v) {
  char text[40];
  char* end = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::scientific).ptr;
  *end = '\0';
  const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<std::size_t>(end - text)));
  std::string digits(1, text[0]);
  if (e - text > 2) digits.append(text + 2, static_cast<std::size_t>(e - text - 2));
  return {digits, std::atoi(e + 1)};
}

Decimal from_shortest_digits(double v) {
  char digits[24];
  std::memset(digits, '#', sizeof digits);
  int exponent = 0;
  const int n = shortest_digits(v, digits, exponent);
  if (n < 1 || n > 17) return {"bad count " + std::to_string(n), 0};
  for (std::size_t i = static_cast<std::size_t>(n); i < sizeof digits; ++i) {
    if (digits[i] != '#') return {"wrote past the count " + std::to_string(n), 0};
  }
  return {std::string(digits, static_cast<std::size_t>(n)), exponent};
}

std::uint64_t bits_of(double v) { return std::bit_cast<std::uint64_t>(v); }

::testing::AssertionResult agrees(double v) {
  const Decimal expected = from_to_chars(v);
  const Decimal actual = from_shortest_digits(v);
  if (actual == expected) return ::testing::AssertionSuccess();
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%016llx", static_cast<unsigned long long>(bits_of(v)));
  return ::testing::AssertionFailure() << hex << ": " << actual.digits << "e" << actual.exponent << ", expected "
                                       << expected.digits << "e" << expected.exponent;
}

// v and the doubles up to `reach` steps either side, positive finite only.
std::vector<double> around(double v, int reach = 2) {
  std::vector<double> out{v};
  double below = v, above = v;
  for (int i = 0; i < reach; ++i) {
    below = std::nextafter(below, 0.0);
    above = std::nextafter(above, std::numeric_limits<double>::infinity());
    if (below > 0) out.push_back(below);
    if (std::isfinite(above)) out.push_back(above);
  }
  return out;
}

// Stops at the first few disagreements so a broken build does not flood the log.
void expect_all_agree(const std::vector<double>& values) {
  int failures = 0;
  for (double v : values) {
    if (!agrees(v)) {
      ADD_FAILURE() << agrees(v).message();
      if (++failures == 10) return;
    }
  }
}

double parse(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// A decimal with exactly n significant digits (first and last nonzero) in
// [1, 10), from rng.
std::string random_significand(std::mt19937_64& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  if (s.front() == '0') s.front() = '1';
  if (s.back() == '0') s.back() = '7';
  return s.substr(0, 1) + "." + s.substr(1);
}

struct Expected {
  const char* name;
  double value;
  const char* digits;
  int exponent;
};

// Cases whose answer is worth spelling out, checked against to_chars too.
const Expected kExpected[] = {
    {"smallest subnormal", 0x1p-1074, "5", -324},
    {"largest subnormal", 0x0.fffffffffffffp-1022, "2225073858507201", -308},
    {"smallest normal", 0x1p-1022, "22250738585072014", -308},
    {"largest double", std::numeric_limits<double>::max(), "17976931348623157", 308},
    {"one", 1.0, "1", 0},
    {"one tenth", 0.1, "1", -1},
    {"sum with 17 digits", 0.1 + 0.2, "30000000000000004", -1},
    {"2^53 - 1", 9007199254740991.0, "9007199254740991", 15},
    {"2^53", 9007199254740992.0, "9007199254740992", 15},
    {"2^53 + 2", 9007199254740994.0, "9007199254740994", 15},
    {"1e22, exact", 1e22, "1", 22},
    {"1e23, inexact", 1e23, "1", 23},
    {"just below one half", 0x1.fffffffffffffp-2, "49999999999999994", -1},
    // x.25 and x.75 with ulp 1/4: both 17-digit neighbours are inside and
    // equally near, so the even last digit wins.
    {"tie rounds down to even", 1125899906842624.25, "11258999068426242", 15},
    {"tie rounds up to even", 1125899906842624.75, "11258999068426248", 15},
    {"2^63", 0x1p63, "9223372036854776", 18},
    {"2^-1074 times three", 0x3p-1074, "15", -323},
};

TEST(ShortestDigits, NamedCasesGiveTheirDigitsAndExponent) {
  for (const Expected& c : kExpected) {
    SCOPED_TRACE(c.name);
    const Decimal expected{c.digits, c.exponent};
    EXPECT_EQ(from_to_chars(c.value), expected) << "the reference itself";
    EXPECT_EQ(from_shortest_digits(c.value), expected);
  }
}

TEST(ShortestDigits, AgreesAroundEveryPowerOfTwoAndTen) {
  std::vector<double> values;
  for (int e = -1074; e <= 1023; ++e) {
    for (double v : around(std::ldexp(1.0, e))) values.push_back(v);
  }
  for (int e = -323; e <= 308; ++e) {
    for (double v : around(parse("1e" + std::to_string(e)))) values.push_back(v);
  }
  expect_all_agree(values);
}

TEST(ShortestDigits, AgreesAtTheEndsOfTheRange) {
  std::vector<double> values;
  for (double v : {0x1p-1074, 0x0.fffffffffffffp-1022, 0x1p-1022, std::numeric_limits<double>::max(),
                   0x1p-1073, 0x0.8p-1022, 0x1.8p-1074}) {
    for (double w : around(v, 40)) values.push_back(w);
  }
  expect_all_agree(values);
}

TEST(ShortestDigits, AgreesOnIntegersNear2To53) {
  std::vector<double> values;
  for (double base : {0x1p53, 0x1p54, 0x1p52, 1e15, 1e16, 1e17}) {
    for (double w : around(base, 300)) values.push_back(w);
  }
  expect_all_agree(values);
}

// Decimals of every length at every decimal exponent: the nearest double
// and its neighbours, whose answers have from 1 to 17 digits.
TEST(ShortestDigits, AgreesOnDecimalsOfEveryLength) {
  std::mt19937_64 rng(15);
  std::vector<double> values;
  for (int n = 1; n <= 17; ++n) {
    for (int e = -323; e <= 308; ++e) {
      const double v = parse(random_significand(rng, n) + "e" + std::to_string(e));
      if (v > 0 && std::isfinite(v)) {
        for (double w : around(v, 1)) values.push_back(w);
      }
    }
  }
  expect_all_agree(values);
}

// Subnormals carry fewer significant bits, down to one, so their answers
// take every length too.
TEST(ShortestDigits, AgreesOnSubnormalsOfEveryWidth) {
  std::mt19937_64 rng(52);
  std::vector<double> values;
  for (int width = 1; width <= 52; ++width) {
    for (int i = 0; i < 200; ++i) {
      const std::uint64_t top = std::uint64_t{1} << (width - 1);
      values.push_back(std::bit_cast<double>(top | (rng() & (top - 1))));
    }
  }
  expect_all_agree(values);
}

// The doubles nearest to the midpoint between two consecutive 16- or
// 17-digit decimals, where the choice between them is closest.
TEST(ShortestDigits, AgreesNearDecimalMidpoints) {
  std::mt19937_64 rng(5);
  std::vector<double> values;
  for (int n : {16, 17}) {
    for (int e = -320; e <= 308; ++e) {
      for (int i = 0; i < 4; ++i) {
        std::string text = random_significand(rng, n);
        text += "5e" + std::to_string(e);
        const double v = parse(text);
        if (v > 0 && std::isfinite(v)) {
          for (double w : around(v, 1)) values.push_back(w);
        }
      }
    }
  }
  // Exact midpoints exist where the spacing is a small power of two.
  for (int e = 49; e <= 52; ++e) {
    const double base = std::ldexp(1.0, e);
    for (int i = 0; i < 2000; ++i) {
      values.push_back(base + std::ldexp(static_cast<double>(rng() % (1u << 20)), e - 52));
    }
  }
  expect_all_agree(values);
}

// Doubles whose scaled values come nearest an integer without being one,
// the worst cases for the precision of the powers-of-ten table (printed by
// make_powers_of_ten_table.py --hard-cases).
TEST(ShortestDigits, AgreesOnNearIntegerScaledValues) {
  const std::uint64_t hard[] = {
      0x6cbf92bacb3cb40c, 0x4d63de005bd620df, 0x0d07c0747bd76fa1, 0x4d53de005bd620df,
      0x494ec55666d8f9ec, 0x494ec55666d8f9ed, 0x15e7f399fe02c4b9, 0x15e7f399fe02c4ba,
      0x67c43e72fcd3aeb2, 0x67c43e72fcd3aeb3, 0x48c2446407b6880d, 0x48c2446407b6880e,
      0x59fc66f5ea0149cb, 0x59fc66f5ea0149cc, 0x0cf7c0747bd76fa1, 0x2b559a2783ce70ab,
  };
  std::vector<double> values;
  for (std::uint64_t bits : hard) {
    for (double w : around(std::bit_cast<double>(bits), 1)) values.push_back(w);
  }
  expect_all_agree(values);
}

// Random bit patterns over every exponent, plus random values of the
// magnitudes coordinates have. QUILLMERE_SHORTEST_DIGITS_SAMPLES raises the
// count for a long local run.
TEST(ShortestDigits, AgreesOnRandomDoubles) {
  std::uint64_t samples = 6'000'000;
  if (const char* env = std::getenv("QUILLMERE_SHORTEST_DIGITS_SAMPLES")) samples = std::strtoull(env, nullptr, 10);
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> coordinate(0.0, 1000.0);
  int failures = 0;
  for (std::uint64_t i = 0; i < samples && failures < 10; ++i) {
    std::uint64_t bits = rng() >> 1;  // positive
    if ((bits >> 52) == 0x7ff) bits &= ~(std::uint64_t{1} << 62);  // finite
    double v = std::bit_cast<double>(bits);
    if (i % 4 == 3) v = coordinate(rng);
    if (v == 0) continue;
    if (!agrees(v)) {
      ADD_FAILURE() << agrees(v).message();
      ++failures;
    }
  }
}

}  // namespace
}  // namespace quillmere
