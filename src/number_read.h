// Reading number texts.
#ifndef JSONTREE_NUMBER_READ_H
#define JSONTREE_NUMBER_READ_H

#include <cmath>
#include <cstddef>
#include <string_view>

namespace jsontree::detail {

// The double strtod gives for the number at `text`, and where it stops
// reading (`*end`), with exact shortcuts for the common forms.
double read_number(const char *text, const char **end);

// An integer literal of this many characters or fewer is below 10^15 and so
// a double of its own.
constexpr size_t ALWAYS_EXACT_INTEGER_LENGTH = 15;

bool has_non_zero_digit(std::string_view literal);
bool holds_long_literal(std::string_view literal, double number);

// Whether `number`, read from `literal`, stands for it: false for a non-zero
// literal read as 0 or as an infinity, and for an integer literal that the
// double holds only rounded. Costs a comparison or two for most numbers.
inline bool double_holds_literal(std::string_view literal, double number)
{
    if (number == 0)
        return !has_non_zero_digit(literal);
    if (std::isinf(number))  // only "-inf" and "-infinity" spell one
        return literal.back() < '0' || literal.back() > '9';
    return literal.size() <= ALWAYS_EXACT_INTEGER_LENGTH || holds_long_literal(literal, number);
}

}  // namespace jsontree::detail

#endif
