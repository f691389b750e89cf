// Reading number texts.
#ifndef JSONTREE_NUMBER_READ_H
#define JSONTREE_NUMBER_READ_H

#include <cmath>
#include <string_view>

namespace jsontree::detail {

inline bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// The double strtod gives for the number at `text`, and where it stops
// reading (`*end`), with exact shortcuts for the common forms.
double read_number(const char *text, const char **end);

// Every integer of smaller magnitude is a double of its own, and a literal
// read as one is below 2^53 + 1.
constexpr double EXACT_INTEGERS_BELOW = 0x1p53;

// double_holds_literal for 0, the infinities, NaN and magnitudes of
// EXACT_INTEGERS_BELOW or more.
bool holds_unusual_literal(std::string_view literal, double number);

// Whether `number`, read from `literal`, stands for it: false for a non-zero
// literal read as 0 or as an infinity, and for an integer literal that the
// double holds only rounded. One comparison for most numbers.
inline bool double_holds_literal(std::string_view literal, double number)
{
    double magnitude = std::fabs(number);
    return (magnitude != 0 && magnitude < EXACT_INTEGERS_BELOW) ||
           holds_unusual_literal(literal, number);
}

}  // namespace jsontree::detail

#endif
