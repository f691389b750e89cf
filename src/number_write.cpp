// Number texts as the C library would print them, as shortly as they read
// back: the shortest digits laid out as "%f" or "%.Ng" lays them out.
#include "number_write.h"

#include "c_locale.h"
#include "number_shortest.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace jsontree::detail;

namespace {

// What snprintf printed, or -1 when it failed or the text did not fit.
int checked_length(int printed)
{
    return printed >= 0 && size_t(printed) < NUMBER_TEXT_SIZE ? printed : -1;
}

bool reads_back_as(const char *text, double number)
{
    char *end = nullptr;
    double read = strtod(text, &end);
    return *end == '\0' && read == number;
}

// Decimal digits of a whole number, with a minus sign when negative.
int write_integer(int64_t number, char *out)
{
    uint64_t magnitude = number < 0 ? 0 - uint64_t(number) : uint64_t(number);
    int count = digit_count(magnitude);
    char *digits = out;
    if (number < 0)
        *digits++ = '-';
    for (char *digit = digits + count; digit > digits; magnitude /= 10)
        *--digit = char('0' + magnitude % 10);
    return int(digits + count - out);
}

// Digits and the power of ten of the last one, laid out as "%.Ng" lays out
// N significant digits: positional unless the first digit's power is below
// -4 or at least N, then with an exponent of two digits or more.
int write_general(bool negative, const Digits &shortest, char *out)
{
    const char *digits = shortest.text();
    int length = shortest.length;
    int exponent = shortest.exponent;
    char *cursor = out;
    if (negative)
        *cursor++ = '-';
    int first_power = exponent + length - 1;
    if (first_power < -4 || first_power >= length) {
        *cursor++ = digits[0];
        if (length > 1) {
            *cursor++ = '.';
            memcpy(cursor, digits + 1, size_t(length - 1));
            cursor += length - 1;
        }
        *cursor++ = 'e';
        *cursor++ = first_power < 0 ? '-' : '+';
        int magnitude = first_power < 0 ? -first_power : first_power;
        if (magnitude < 10)
            *cursor++ = '0';
        cursor += write_integer(magnitude, cursor);
    } else if (first_power >= 0) {
        memcpy(cursor, digits, size_t(first_power + 1));
        cursor += first_power + 1;
        if (length > first_power + 1) {
            *cursor++ = '.';
            memcpy(cursor, digits + first_power + 1, size_t(length - first_power - 1));
            cursor += length - first_power - 1;
        }
    } else {
        *cursor++ = '0';
        *cursor++ = '.';
        for (int zeros = -first_power - 1; zeros > 0; zeros--)
            *cursor++ = '0';
        memcpy(cursor, digits, size_t(length));
        cursor += length;
    }
    return int(cursor - out);
}

// Digits and the power of ten of the last one (at least -6), laid out as
// "%f" lays them out: positional, exactly six decimals.
int write_fixed(bool negative, const Digits &shortest, char *out)
{
    constexpr int DECIMALS = 6;
    char *cursor = out;
    if (negative)
        *cursor++ = '-';
    int first_power = shortest.exponent + shortest.length - 1;
    for (int power = first_power > 0 ? first_power : 0; power >= -DECIMALS; power--) {
        int index = first_power - power;
        *cursor++ = index >= 0 && index < shortest.length ? shortest.text()[index] : '0';
        if (power == 0)
            *cursor++ = '.';
    }
    return int(cursor - out);
}

// A text of `length` (or the failure -1) from the scratch buffer to `out`.
int copied_from_scratch(int length, const char *scratch, char *out)
{
    if (length >= 0 && out != scratch)
        memcpy(out, scratch, static_cast<size_t>(length));
    return length;
}

// Below 2^32 two doubles lie less than 1e-6 apart, so at most one
// six-decimal number reads back as a given double, and then it is the text
// "%f" prints and the shortest text too.
constexpr double SIX_DECIMALS_UNIQUE_BELOW = 4294967296.0;  // 2^32

// The "%f" text of a positive non-whole `magnitude` below 2^32 that a
// six-decimal number reads back as, found by scaling alone; -1 when the
// scaled value does not read back (the digit search then decides).
int write_six_decimals(bool negative, double magnitude, char *out)
{
    constexpr uint64_t MILLION = 1000000;
    uint64_t millionths = uint64_t(magnitude * double(MILLION) + 0.5);  // below 2^53
    // One correctly rounded division: exactly what reading the text gives.
    if (double(millionths) / double(MILLION) != magnitude)
        return -1;
    char *cursor = out;
    if (negative)
        *cursor++ = '-';
    cursor += write_integer(int64_t(millionths / MILLION), cursor);
    *cursor++ = '.';
    uint64_t fraction = millionths % MILLION;
    for (int place = 5; place >= 0; place--) {
        cursor[place] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return int(cursor + 6 - out);
}

}  // namespace

int jsontree::detail::format_number(double number, char *out, char *scratch)
{
    if (!std::isfinite(number))
        return -1;
    // Converting to a whole number and back tells whole numbers without a
    // call to the maths library.
    constexpr double INT64_LIMIT = 9223372036854775808.0;  // 2^63
    if (std::fabs(number) < INT64_LIMIT) {
        int64_t whole = static_cast<int64_t>(number);
        if (static_cast<double>(whole) == number) {
            int length = write_integer(whole, out);
            // Below 2^53 every whole number is a double of its own, so readers
            // that keep integers apart from other numbers may take it as one.
            constexpr int64_t INTEGER_FORM_LIMIT = int64_t(1) << 53;
            if (whole > -INTEGER_FORM_LIMIT && whole < INTEGER_FORM_LIMIT)
                return length;
            // "%f" prints a whole number exactly, so its text always reads back.
            memcpy(out + length, ".000000", 7);
            return length + 7;
        }
    }
    if (std::fabs(number) < SIX_DECIMALS_UNIQUE_BELOW) {
        int six_decimals = write_six_decimals(number < 0, std::fabs(number), out);
        if (six_decimals >= 0)
            return six_decimals;
    }
    Digits shortest = shortest_digits(std::fabs(number));
    // A "%f" text that reads back has at most six decimals, and then so has
    // the shortest text: only then is "%f" worth trying.
    if (shortest.exponent >= -6) {
        // Scaling can miss the one six-decimal number by a rounding of its own.
        if (std::fabs(number) < SIX_DECIMALS_UNIQUE_BELOW)
            return write_fixed(number < 0, shortest, out);
        CLocaleScope c_locale;
        int fixed = checked_length(snprintf(scratch, NUMBER_TEXT_SIZE, "%f", number));
        if (fixed < 0 || reads_back_as(scratch, number))
            return copied_from_scratch(fixed, scratch, out);
    }
    return write_general(number < 0, shortest, out);
}
