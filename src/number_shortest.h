// The shortest digits of a double.
#ifndef JSONTREE_NUMBER_SHORTEST_H
#define JSONTREE_NUMBER_SHORTEST_H

namespace jsontree::detail {

// value ~ digits * 10^exponent, the digits as characters. A double needs at
// most 17 significant digits to read back as itself. The search stops at the
// latest when a digit's unit falls below the interval of values that read
// back, which is at least 2^-55 of the value (2^-53 for a normal double, less
// a quarter below a power of two, less the scaling's error): 55 bits take at
// most 17 digits, and the integral and fractional parts may each round up
// by one, 18 in all.
struct Digits {
    static constexpr int CAPACITY = 18;
    char text[CAPACITY];
    int length;    // 0 when no proof of shortness was found
    int exponent;  // the power of ten of the last digit
};

// The shortest digits that read back as `value` (positive, finite), without
// a trailing zero; length 0 when the search declines, about once in two
// hundred numbers.
Digits shortest_digits(double value);

}  // namespace jsontree::detail

#endif
