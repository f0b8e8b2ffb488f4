#!/usr/bin/env python3
"""Writes numtext/powers_of_ten_128.hpp, the powers of ten that
shortest_digits.cpp multiplies by, and proves that they are precise enough.

For a double v = c * 2^q, shortest_digits picks k with 10^k <= 2^q < 10^(k+1)
(or 10^k <= 3/4 * 2^q at the lower end of a binade), then needs, for
m in {4c - 2 or 4c - 1, 4c, 4c + 2}, the integer part of x = m * 2^q / 10^k
and whether x is an integer. It gets them from one exact 192-bit product
P = G * (m << h), where G is 10^-k scaled into [2^127, 2^128) and rounded up,
so x~ = P / 2^128 exceeds x by err < (m << h) / 2^128 < 2^-68 unless G is exact.
The code reads x as an integer when the 128-bit fraction of P is below 2^60.
That is right for every input if, for every exponent q and every m that can
occur, x is an integer or has a fractional part in [2^-68, 1 - err]. This
script checks exactly that (with the Farey neighbours of x / m among
fractions of bounded denominator, which give the smallest and largest
fractional parts over a whole range of m) and refuses to write the table
otherwise. It also checks the integer formulas the code uses for k and h.

Usage: make_powers_of_ten_table.py [--hard-cases N]
  --hard-cases N prints the N doubles whose x lies nearest an integer without
  being one, as bit patterns for the tests, instead of writing the table.
"""

import sys
from fractions import Fraction
from pathlib import Path

Q_MIN, Q_MAX = -1074, 971  # exponents of c * 2^q over all finite doubles
C_MIN = 1 << 52
SCALE_BITS = 128
FRACTION_THRESHOLD = 1 << 60  # in units of 2^-128, as in the C++ code


def floor_log10_pow2(q):
    """Largest k with 10^k <= 2^q."""
    k = 0
    while Fraction(10) ** (k + 1) <= Fraction(2) ** q:
        k += 1
    while Fraction(10) ** k > Fraction(2) ** q:
        k -= 1
    return k


def floor_log10_three_quarters_pow2(q):
    """Largest k with 10^k <= 3/4 * 2^q."""
    v = Fraction(3, 4) * Fraction(2) ** q
    k = floor_log10_pow2(q)
    while Fraction(10) ** k > v:
        k -= 1
    return k


def floor_log2_pow10(e):
    """Largest r with 2^r <= 10^e."""
    if e >= 0:
        return (10**e).bit_length() - 1
    return -((10**-e).bit_length())  # 10^-e is never a power of two here


# The integer formulas of shortest_digits.cpp, to be checked against the above.
def code_k_symmetric(q):
    return (q * 315653) >> 20


def code_k_asymmetric(q):
    return (q * 315653 - 131007) >> 20


def code_floor_log2_pow10(e):
    return (e * 1741647) >> 19


def scaled_power(e):
    """(G, exact) with G = ceil(10^e * 2^s) in [2^127, 2^128)."""
    shift = SCALE_BITS - 1 - floor_log2_pow10(e)
    exact_value = Fraction(10) ** e * Fraction(2) ** shift
    g = -((-exact_value.numerator) // exact_value.denominator)
    assert (1 << (SCALE_BITS - 1)) <= g < (1 << SCALE_BITS)
    return g, exact_value


def farey_neighbours(a, b, bound):
    """Fractions p1/q1 < a/b < p2/q2 adjacent among those with denominator
    <= bound (a/b in lowest terms, b > bound). Over 1 <= m <= bound, m * a/b
    has its smallest fractional part at m = q1 and its largest at m = q2."""
    p1, q1 = a // b, 1
    p2, q2 = a // b + 1, 1
    while q1 + q2 <= bound:
        if (p1 + p2) * b < a * (q1 + q2):
            t = (a * q1 - p1 * b - 1) // (p2 * b - a * q2)
            t = min(t, (bound - q1) // q2)
            p1, q1 = p1 + t * p2, q1 + t * q2
        else:
            t = (p2 * b - a * q2 - 1) // (a * q1 - p1 * b)
            t = min(t, (bound - q2) // q1)
            p2, q2 = p2 + t * p1, q2 + t * q1
    return q1, q2


def extreme_fractions(step, bound):
    """Smallest nonzero and largest fractional parts of m * step over
    1 <= m <= bound, with the m that reach them."""
    a, b = step.numerator, step.denominator
    if b <= bound:  # fractional parts are multiples of 1/b, all of them reached
        return Fraction(1, b), None, Fraction(b - 1, b), None
    low_m, high_m = farey_neighbours(a, b, bound)
    low = (low_m * step) - (low_m * step).__floor__()
    high = (high_m * step) - (high_m * step).__floor__()
    return low, low_m, high, high_m


def check_exponent(q, k, ms, m_bound, report):
    """Checks all m in ms (explicit list) or all even m <= m_bound."""
    h = q + floor_log2_pow10(-k) + 1
    assert 1 <= h <= 4, (q, k, h)
    g, exact = scaled_power(-k)
    excess = g - exact  # 0 when 10^-k * 2^s is an integer
    step = Fraction(2) ** q / Fraction(10) ** k
    largest_m = max(ms) if ms else m_bound
    cp_max = largest_m << h
    assert cp_max < (1 << 60)
    err = excess * cp_max / Fraction(2) ** SCALE_BITS
    # An integer x shows a 128-bit fraction of excess * (m << h) < 2^60.
    assert excess * cp_max < FRACTION_THRESHOLD, q
    if excess == 0:
        return
    if ms:
        cases = []
        for m in ms:
            x = m * step
            f = x - x.__floor__()
            if f:
                cases.append((f, m))
                cases.append((1 - f, m))
    else:
        low, low_j, high, high_j = extreme_fractions(2 * step, m_bound // 2)
        cases = [(low, low_j and 2 * low_j), (1 - high, high_j and 2 * high_j)]
    for distance, m in cases:
        assert distance * Fraction(2) ** SCALE_BITS >= FRACTION_THRESHOLD, (q, m)
        assert distance > err, (q, m)
        report.append((distance, q, m))


def verify():
    """Checks the code's formulas and precision; returns the needed range of
    exponents of ten and the nearest misses (distance, q, m)."""
    exponents = set()
    report = []
    for q in range(Q_MIN, Q_MAX + 1):
        k = floor_log10_pow2(q)
        assert code_k_symmetric(q) == k, q
        exponents.add(-k)
        assert code_floor_log2_pow10(-k) == floor_log2_pow10(-k), q
        # Symmetric intervals: m = 4c and 4c +- 2 for every c of this binade
        # (all c >= 1 at the subnormal exponent), checked as all even m.
        check_exponent(q, k, None, 4 * (2 * C_MIN - 1) + 2, report)
        if q > Q_MIN:  # c = 2^52 has the nearer lower neighbour
            ka = floor_log10_three_quarters_pow2(q)
            assert code_k_asymmetric(q) == ka, q
            exponents.add(-ka)
            assert code_floor_log2_pow10(-ka) == floor_log2_pow10(-ka), q
            check_exponent(q, ka, [4 * C_MIN - 1, 4 * C_MIN, 4 * C_MIN + 2], 0, report)
    return min(exponents), max(exponents), report


def doubles_for(q, m):
    """Bit patterns of the doubles c * 2^q for which m is 4c or 4c +- 2."""
    out = []
    for c, asym in ((m // 4, False), ((m - 2) // 4, False), ((m + 2) // 4, False), ((m + 1) // 4, True)):
        if asym:
            if m + 1 != 4 * c or c != C_MIN or q == Q_MIN:
                continue
        elif m not in (4 * c, 4 * c + 2, 4 * c - 2):
            continue
        if q == Q_MIN:
            if not 1 <= c < 2 * C_MIN:
                continue
            biased, fraction = (1, c - C_MIN) if c >= C_MIN else (0, c)
        else:
            if not C_MIN <= c < 2 * C_MIN:
                continue
            biased, fraction = q + 1075, c - C_MIN
        out.append((biased << 52) | fraction)
    return out


def write_header(path, e_min, e_max):
    lines = [
        "// Generated by make_powers_of_ten_table.py, which also proves the precision",
        "// enough for shortest_digits.cpp; edit the script, not this file.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace quillmere::powers_of_ten_128 {",
        "",
        "// 10^e times the power of two that brings it into [2^127, 2^128), rounded",
        "// up, as {high 64 bits, low 64 bits}, for kMinExponent <= e <= kMaxExponent.",
        f"inline constexpr int kMinExponent = {e_min};",
        f"inline constexpr int kMaxExponent = {e_max};",
        "",
        "inline constexpr std::uint64_t kScaled[][2] = {",
    ]
    for e in range(e_min, e_max + 1):
        g, _ = scaled_power(e)
        lines.append(f"    {{0x{g >> 64:016x}, 0x{g & ((1 << 64) - 1):016x}}},  // 1e{e}")
    lines += ["};", "", "}  // namespace quillmere::powers_of_ten_128", ""]
    path.write_text("\n".join(lines))


def main():
    e_min, e_max, report = verify()
    if len(sys.argv) == 3 and sys.argv[1] == "--hard-cases":
        count = int(sys.argv[2])
        report.sort(key=lambda entry: entry[0])
        seen = []
        for distance, q, m in report:
            if m is None:
                continue
            for bits in doubles_for(q, m):
                if bits not in seen:
                    seen.append(bits)
                    print(f"0x{bits:016x}  // q={q} m={m} distance 2^{distance.numerator.bit_length() - distance.denominator.bit_length()}")
            if len(seen) >= count:
                break
        return
    nearest = min(d for d, _, _ in report)
    print(f"checked {Q_MAX - Q_MIN + 1} binary exponents; nearest non-integer x is "
          f"about 2^{nearest.numerator.bit_length() - nearest.denominator.bit_length()} from an integer")
    write_header(Path(__file__).with_name("powers_of_ten_128.hpp"), e_min, e_max)


if __name__ == "__main__":
    main()
