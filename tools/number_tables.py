#!/usr/bin/env python3
"""Generates the power tables of the number modules, exactly, and proves the
integer logarithms the shortest-digit search uses.

  src/number_read.cpp      POWERS_OF_FIVE: 5^q for q from -64 to 64 as a
                           128-bit significand (floor, top bit set) times
                           2^binary_exponent.
  src/number_shortest.cpp  LOG_SCALES: floor(e log10 2), floor(e log10 2 +
                           log10 3/4) and floor(e log2 10) as (e * scale +
                           offset) >> 20, checked exact for every exponent the
                           search meets.
                           POWERS_OF_TEN: 10^-k for k from -324 to 292 as
                           g = floor(10^-k * 2^(125 - floor(-k log2 10))) + 1,
                           126 bits, split into its upper and lower 63 bits.

Usage: tools/number_tables.py            prints the tables
       tools/number_tables.py --check    fails unless the sources hold them
"""
import sys
from fractions import Fraction
from math import floor, log10, log2
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def scaled(value, bits):
    """value as significand * 2^exponent, the significand (not yet rounded)
    in [2^(bits-1), 2^bits)."""
    exponent = value.numerator.bit_length() - value.denominator.bit_length() - bits
    while value / Fraction(2) ** exponent >= 2 ** bits:
        exponent += 1
    while value / Fraction(2) ** exponent < 2 ** (bits - 1):
        exponent -= 1
    return value / Fraction(2) ** exponent, exponent


def powers_of_five():
    lines = []
    for q in range(-64, 65):
        significand, exponent = scaled(Fraction(5) ** q, 128)
        significand = floor(significand)
        high, low = significand >> 64, significand & (2 ** 64 - 1)
        lines.append(f"    {{0x{high:016X}ULL, 0x{low:016X}ULL, {exponent}}},  // 5^{q}")
    return lines


# Exponents of two that doubles have (significand * 2^e, e from -1074 to
# 971), and the decimal exponents k their scaling needs.
BINARY_EXPONENTS = range(-1074, 972)
DECIMAL_EXPONENTS = range(-324, 293)
LOG_SHIFT = 20


def exact_floor_log(base, power_base, e, factor=Fraction(1)):
    """floor(log_base(factor * power_base^e)), by exact comparison."""
    value = factor * Fraction(power_base) ** e
    k = 0
    while Fraction(base) ** k > value:
        k -= 1
    while Fraction(base) ** (k + 1) <= value:
        k += 1
    return k


def floor_log2_pow10(e):
    return (e * round(log2(10) * 2 ** LOG_SHIFT)) >> LOG_SHIFT


def log_scales():
    log10_2 = round(log10(2) * 2 ** LOG_SHIFT)
    log10_3_4 = round(log10(0.75) * 2 ** LOG_SHIFT)
    log2_10 = round(log2(10) * 2 ** LOG_SHIFT)
    for e in BINARY_EXPONENTS:
        assert (e * log10_2) >> LOG_SHIFT == exact_floor_log(10, 2, e)
        assert (e * log10_2 + log10_3_4) >> LOG_SHIFT == exact_floor_log(10, 2, e, Fraction(3, 4))
    for k in DECIMAL_EXPONENTS:
        assert floor_log2_pow10(-k) == exact_floor_log(2, 10, -k)
    return [f"constexpr int LOG_SHIFT = {LOG_SHIFT};",
            f"constexpr int32_t LOG10_2_SCALED = {log10_2};",
            f"constexpr int32_t LOG10_3_4_SCALED = {log10_3_4};",
            f"constexpr int32_t LOG2_10_SCALED = {log2_10};"]


def powers_of_ten():
    lines = []
    for k in DECIMAL_EXPONENTS:
        g = floor(Fraction(10) ** -k * Fraction(2) ** (125 - floor_log2_pow10(-k))) + 1
        assert 2 ** 125 < g < 2 ** 126
        lines.append(f"    {{0x{g >> 63:016X}ULL, 0x{g & (2 ** 63 - 1):016X}ULL}},  // 10^{-k}")
    return lines


TABLES = [
    ("src/number_read.cpp", powers_of_five),
    ("src/number_shortest.cpp", log_scales),
    ("src/number_shortest.cpp", powers_of_ten),
]


def main():
    if sys.argv[1:] == ["--check"]:
        stale = [path for path, table in TABLES
                 if "\n".join(table()) not in (ROOT / path).read_text()]
        for path in stale:
            print(f"{path}: table differs from tools/number_tables.py", file=sys.stderr)
        return 1 if stale else 0
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    for path, table in TABLES:
        print(f"// {path}")
        print("\n".join(table()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
