#!/usr/bin/env python3
"""Generates the power tables of the number modules, exactly.

  src/number_read.cpp      POWERS_OF_FIVE: 5^q for q from -64 to 64 as a
                           128-bit significand (floor, top bit set) times
                           2^binary_exponent.
  src/number_shortest.cpp  CACHED_POWERS: 10^k for every eighth k from -348
                           to 340 as a 64-bit significand (rounded to
                           nearest, top bit set) times 2^binary_exponent.

Usage: tools/number_tables.py            prints both tables
       tools/number_tables.py --check    fails unless the sources hold them
"""
import sys
from fractions import Fraction
from math import floor
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


def cached_powers():
    lines = []
    for k in range(-348, 341, 8):
        significand, exponent = scaled(Fraction(10) ** k, 64)
        rounded = floor(significand + Fraction(1, 2))
        if rounded == 2 ** 64:
            rounded, exponent = 2 ** 63, exponent + 1
        lines.append(f"    {{0x{rounded:016X}ULL, {exponent}, {k}}},")
    return lines


TABLES = [
    ("src/number_read.cpp", powers_of_five),
    ("src/number_shortest.cpp", cached_powers),
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
