#include "value_typing.h"

#include "causes.h"
#include "logger.h"
#include "owners.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

char *unquote_string(const char *string)
{
    char *copy;
    if (string[0] == '"') {
        // No escapes: the text ends at the next double quote, whatever
        // precedes it, or at the end of the argument.
        const char *start = string + 1;
        const char *closing = strchr(start, '"');
        copy = strndup(start, closing ? size_t(closing - start) : strlen(start));
    } else {
        copy = strdup(string);
    }
    if (!copy)
        log_line(LOGGER_ERROR, "Failed to duplicate string: %s\n", strerror(errno));
    return copy;
}

// What VALUE holds, told by its shape alone.
enum class ValueShape {
    number,
    container,
    boolean,
    null,
    string
};

// Why a value of each shape could not be made, in the order of ValueShape.
constexpr const char *BUILD_FAILURES[] = {
    "Failed to init json number\n",  "Failed to parse json string\n",
    "Failed to init json boolean\n", "Failed to init json null\n",
    "Failed to init json string\n",
};
static_assert(std::size(BUILD_FAILURES) == static_cast<size_t>(ValueShape::string) + 1);

ValueShape classify_value(const char *text)
{
    char *number_end = nullptr;
    strtod(text, &number_end);
    if (number_end != text && *number_end == '\0')
        return ValueShape::number;
    if (text[0] == '[' || text[0] == '{')
        return ValueShape::container;
    if (strcmp(text, "true") == 0 || strcmp(text, "false") == 0)
        return ValueShape::boolean;
    if (strcmp(text, "null") == 0)
        return ValueShape::null;
    return ValueShape::string;
}

// A whole number beyond the integers a double holds exactly would be stored
// as another number (12345678901234567890 as ...168).
bool rounds_a_whole_number(const char *text, double number)
{
    constexpr double EXACT_INTEGERS_BELOW = 0x1p53;
    const char *digits = text + (*text == '+' || *text == '-');
    double magnitude = std::fabs(number);
    if (magnitude < EXACT_INTEGERS_BELOW)
        return false;
    if ((digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) &&
        digits[2 + strspn(digits + 2, "0123456789abcdefABCDEF")] == '\0') {
        errno = 0;
        unsigned long long whole = strtoull(digits + 2, nullptr, 16);
        return errno == ERANGE || magnitude >= 0x1p64 ||
               static_cast<unsigned long long>(magnitude) != whole;
    }
    if (digits[strspn(digits, "0123456789")] != '\0')
        return false;  // a fraction or an exponent: not a whole-number text
    digits += strspn(digits, "0");
    // "%.0f" prints every digit of a whole double.
    char exact[DBL_MAX_10_EXP + 2];
    snprintf(exact, sizeof exact, "%.0f", magnitude);
    return strcmp(exact, digits) != 0;
}

// Why the number `text` cannot be stored, or null when it can. inf, nan and
// overflowing numbers have no JSON text: storing one would leave a file that
// can never be loaded again. A non-zero number too small for a double, or a
// whole number it only rounds, would be stored as another number.
const char *number_refusal(const char *text, double &number)
{
    errno = 0;
    number = strtod(text, nullptr);
    if (!std::isfinite(number))
        return "is not a finite number: JSON has no text for it";
    if (number == 0 && errno == ERANGE)
        return "is too small for a double: it would be stored as 0";
    if (rounds_a_whole_number(text, number))
        return "is a whole number a double holds only rounded";
    return nullptr;
}

// `text` is the string's own text when the shape is a string.
JSON_Value *build_value(ValueShape shape, const char *text)
{
    switch (shape) {
    case ValueShape::number: {
        double number;
        return number_refusal(text, number) ? nullptr : json_value_init_number(number);
    }
    case ValueShape::container:
        return json_parse_string(text);
    case ValueShape::boolean:
        return json_value_init_boolean(text[0] == 't');
    case ValueShape::null:
        return json_value_init_null();
    case ValueShape::string:
        return json_value_init_string(text);
    }
    return nullptr;
}

// Why the array or object text `text`, `text_start` bytes into VALUE, does
// not parse, as the parser reports it.
void explain_unparsed(const char *text, size_t text_start)
{
    JSON_Error error;
    ValuePtr parsed(json_parse_string_report(text, &error));
    if (error.line == 0)  // no place: memory ran out
        log_line(LOGGER_NOTICE, "VALUE: %s\n", error.reason);
    else
        log_line(LOGGER_NOTICE, "VALUE is not acceptable JSON at column %zu: %s\n",
                 column_in_argument(text_start, error), error.reason);
}

// Why a value of `shape` could not be made from `text`, which begins
// `text_start` bytes into VALUE.
void explain_unbuilt(ValueShape shape, const char *text, size_t text_start)
{
    if (shape == ValueShape::container)
        return explain_unparsed(text, text_start);
    double number;
    const char *refusal = shape == ValueShape::number ? number_refusal(text, number) : nullptr;
    JSON_Error error;
    if (refusal)
        log_line(LOGGER_NOTICE, "VALUE %s %s\n", text, refusal);
    else if (shape == ValueShape::string && json_verify_utf8_report(text, &error) != JSONSuccess)
        log_line(LOGGER_NOTICE, "VALUE is not valid UTF-8 at column %zu\n",
                 column_in_argument(text_start, error));
    else
        explain_out_of_memory();
}

}  // namespace

JSON_Value *value_from_argument(const char *argument)
{
    const char *rest = argument;
    while (isspace(static_cast<unsigned char>(*rest)))
        rest++;
    const ValueShape shape = classify_value(rest);
    CString unquoted(shape == ValueShape::string ? unquote_string(rest) : nullptr);
    if (shape == ValueShape::string && !unquoted)
        return nullptr;  // unquote_string has said why
    JSON_Value *value = build_value(shape, unquoted ? unquoted.get() : rest);
    if (!value) {
        log_line(LOGGER_ERROR, "%s", BUILD_FAILURES[static_cast<int>(shape)]);
        // The string's text begins after the opening quote, if any.
        size_t text_start = size_t(rest - argument) + (unquoted && rest[0] == '"');
        explain_unbuilt(shape, unquoted ? unquoted.get() : rest, text_start);
    }
    return value;
}
