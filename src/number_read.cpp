// Reading number texts exactly as the C library reads them: shortcuts around
// strtod that give its very double, and strtod itself for the rest. Then
// whether that double stands for the literal it was read from.
#include "number_read.h"

#include "c_locale.h"
#include "wide_multiply.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace jsontree::detail;

namespace {

// A plain decimal number as written: sign, significant digits and the power
// of ten that scales them.
struct DecimalText {
    bool negative = false;
    uint64_t significand = 0;
    int digits = 0;    // significant digits, leading zeros aside
    int exponent = 0;  // value = significand * 10^exponent
    const char *end = nullptr;
};

constexpr int MAX_SIGNIFICAND_DIGITS = 19;   // below 2^64
constexpr int MAX_WRITTEN_EXPONENT = 9999;   // before another digit: below 100000 in all
constexpr size_t MAX_SCANNED_DIGITS = 9999;  // zeros included; more go to strtod

// Reads the digits at `cursor` into the significand, each one lowering
// the exponent by `scale_per_digit` (1 in a fraction); false past 19
// significant digits or MAX_SCANNED_DIGITS digits in all.
bool scan_digits(const char **cursor, DecimalText *number, int scale_per_digit)
{
    const char *digit = *cursor;
    if (number->digits == 0) {  // leading zeros are not significant
        while (*digit == '0')
            digit++;
    }
    uint64_t significand = number->significand;
    const char *first = digit;
    for (; is_digit(*digit); digit++)
        significand = significand * 10 + uint64_t(*digit - '0');
    size_t added = size_t(digit - first);
    size_t scanned = size_t(digit - *cursor);
    if (added > size_t(MAX_SIGNIFICAND_DIGITS - number->digits) || scanned > MAX_SCANNED_DIGITS)
        return false;
    number->digits += int(added);
    number->significand = significand;
    number->exponent -= scale_per_digit * int(scanned);
    *cursor = digit;
    return true;
}

// Scans sign, digits, fraction and exponent exactly as far as strtod reads
// them. Forms strtod reads differently (hexadecimal, inf and nan, a leading
// ".") and those that need more than 19 digits or an exponent of 100000 or
// more are left to strtod: false.
bool scan_decimal(const char *text, DecimalText *number)
{
    const char *cursor = text;
    number->negative = *cursor == '-';
    if (number->negative)
        cursor++;
    if (!is_digit(*cursor) || !scan_digits(&cursor, number, 0))
        return false;
    if (*cursor == 'x' || *cursor == 'X')
        return false;
    if (*cursor == '.') {
        cursor++;
        if (!scan_digits(&cursor, number, 1))
            return false;
    }
    if (*cursor == 'e' || *cursor == 'E') {
        // strtod takes the exponent only when a digit follows its sign.
        const char *exponent_text = cursor + 1;
        bool exponent_negative = *exponent_text == '-';
        if (*exponent_text == '-' || *exponent_text == '+')
            exponent_text++;
        if (is_digit(*exponent_text)) {
            int written = 0;
            for (; is_digit(*exponent_text); exponent_text++) {
                if (written > MAX_WRITTEN_EXPONENT)
                    return false;
                written = written * 10 + (*exponent_text - '0');
            }
            number->exponent += exponent_negative ? -written : written;
            cursor = exponent_text;
        }
    }
    number->end = cursor;
    return true;
}

// Clinger's fast path: at most 15 digits (below 2^53) scaled by an exact
// power of ten up to 10^22 take one correctly rounded operation.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool exact_by_one_operation(const DecimalText &number, double *magnitude)
{
    if (number.digits > 15 || number.exponent < -22 || number.exponent > 22)
        return false;
    double significand = double(number.significand);
    *magnitude = number.exponent < 0 ? significand / EXACT_POWERS_OF_TEN[-number.exponent]
                                     : significand * EXACT_POWERS_OF_TEN[number.exponent];
    return true;
}

// 5^q as a 128-bit significand, rounded down with its top bit set, times
// 2^binary_exponent: POWERS_OF_FIVE[q - FIRST_POWER_OF_FIVE].
struct PowerOfFive {
    uint64_t high;
    uint64_t low;
    int binary_exponent;
};

#include "number_read_table.inc"

constexpr int LAST_POWER_OF_FIVE = FIRST_POWER_OF_FIVE + int(std::size(POWERS_OF_FIVE)) - 1;

// The Eisel-Lemire method (Lemire, "Number parsing at a gigabyte per
// second", 2021): the significand times a 128-bit power of five gives the
// double's 53 bits and the bits below them to within two units of the
// 128th bit. When those bits lie that close to halfway, the rounding is
// left to strtod: false. Subnormal and overflowing results likewise.
bool exact_by_wide_product(const DecimalText &number, double *magnitude)
{
    if (number.exponent < FIRST_POWER_OF_FIVE || number.exponent > LAST_POWER_OF_FIVE)
        return false;
    const PowerOfFive &power = POWERS_OF_FIVE[number.exponent - FIRST_POWER_OF_FIVE];
    int leading_zeros = __builtin_clzll(number.significand);
    uint64_t significand = number.significand << leading_zeros;

    // The top 128 bits of the 192-bit product significand * power.
    Product128 upper = multiply_64(significand, power.high);
    uint64_t low_high = multiply_64(significand, power.low).high;
    uint64_t high = upper.high;
    uint64_t middle = upper.low + low_high;
    high += middle < low_high;

    int shift = high >> 63 ? 11 : 10;  // keeps 53 bits
    uint64_t mantissa = high >> shift;
    uint64_t rest = high & ((uint64_t(1) << shift) - 1);
    uint64_t half = uint64_t(1) << (shift - 1);
    if ((rest == half && middle == 0) || (rest == half - 1 && middle == ~uint64_t(0)))
        return false;
    if (rest >= half)
        mantissa++;
    int binary_exponent = shift + 128 + power.binary_exponent + number.exponent - leading_zeros;
    if (mantissa == uint64_t(1) << 53) {
        mantissa >>= 1;
        binary_exponent++;
    }
    int biased = binary_exponent + 52 + 1023;
    if (biased <= 0 || biased >= 0x7FF)
        return false;
    uint64_t bits = (uint64_t(biased) << 52) | (mantissa & ((uint64_t(1) << 52) - 1));
    memcpy(magnitude, &bits, sizeof bits);
    return true;
}

}  // namespace

double jsontree::detail::read_number(const char *text, const char **end)
{
    DecimalText number;
    if (scan_decimal(text, &number)) {
        double magnitude = 0;
        if (number.significand == 0 || exact_by_one_operation(number, &magnitude) ||
            exact_by_wide_product(number, &magnitude)) {
            *end = number.end;
            return number.negative ? -magnitude : magnitude;
        }
    }
    CLocaleScope c_locale;
    char *strtod_end = nullptr;
    double value = strtod(text, &strtod_end);
    *end = strtod_end;
    return value;
}

namespace {

// Digits of the significand only: the exponent's do not make a number non-zero.
bool has_non_zero_digit(std::string_view literal)
{
    for (char c : literal) {
        if (c == 'e' || c == 'E')
            return false;
        if (c >= '1' && c <= '9')
            return true;
    }
    return false;
}

// Held unless an integer literal whose value the double only rounds.
bool holds_large_literal(std::string_view literal, double number)
{
    std::string_view digits = literal;
    // Not substr: its range check would bring in the C++ runtime's throw.
    digits.remove_prefix(literal[0] == '-' ? 1 : 0);
    uint64_t whole = 0;
    bool fits = true;
    for (char c : digits) {
        if (!is_digit(c))
            return true;  // a fraction or an exponent: not an integer literal
        fits = fits && !__builtin_mul_overflow(whole, 10, &whole) &&
               !__builtin_add_overflow(whole, uint64_t(c - '0'), &whole);
    }
    double magnitude = std::fabs(number);
    constexpr double UINT64_LIMIT = 18446744073709551616.0;  // 2^64
    if (fits)
        return magnitude < UINT64_LIMIT && uint64_t(magnitude) == whole;
    // Past 2^64: "%.0f" prints a whole double's every digit.
    char exact[DBL_MAX_10_EXP + 2];
    int length = snprintf(exact, sizeof exact, "%.0f", magnitude);
    return length >= 0 && size_t(length) < sizeof exact &&
           std::string_view(exact, size_t(length)) == digits;
}

}  // namespace

bool jsontree::detail::holds_unusual_literal(std::string_view literal, double number)
{
    if (number == 0)
        return !has_non_zero_digit(literal);
    if (std::isinf(number))  // only "-inf" and "-infinity" spell one
        return !is_digit(literal.back());
    return holds_large_literal(literal, number);
}
