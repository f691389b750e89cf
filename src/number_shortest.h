// The shortest digits of a double.
#ifndef JSONTREE_NUMBER_SHORTEST_H
#define JSONTREE_NUMBER_SHORTEST_H

#include <cstdint>

namespace jsontree::detail {

// value ~ digits * 10^exponent. A double needs at most 17 significant
// digits to read back as itself. They are written eight at a time into the
// 24 bytes of the buffer, leading zeros first, so they end where it ends.
struct Digits {
    char buffer[24];
    int length;
    int exponent;  // the power of ten of the last digit

    const char *text() const { return buffer + sizeof buffer - length; }
};

// The shortest digits that read back as `value` (positive and finite), the
// closest to it of those, without a trailing zero.
Digits shortest_digits(double value);

// The decimal digits `number` has (1 for 0).
int digit_count(uint64_t number);

}  // namespace jsontree::detail

#endif
