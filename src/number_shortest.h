// The shortest digits of a double.
#ifndef JSONTREE_NUMBER_SHORTEST_H
#define JSONTREE_NUMBER_SHORTEST_H

namespace jsontree::detail {

// value ~ digits * 10^exponent, the digits as characters. A double needs at
// most 17 significant digits to read back as itself.
struct Digits {
    static constexpr int CAPACITY = 17;
    char text[CAPACITY];
    int length;
    int exponent;  // the power of ten of the last digit
};

// The shortest digits that read back as `value` (positive and finite), the
// closest to it of those, without a trailing zero.
Digits shortest_digits(double value);

}  // namespace jsontree::detail

#endif
