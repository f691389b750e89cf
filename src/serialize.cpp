// Serializer: JSON text in compact or indented form, always measured first and
// then written into a buffer of exactly the measured size.
#include "internal.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Scratch for the text of one number. "%f" of the largest double needs 317
// characters; every other form is shorter.
constexpr int NUMBER_BUFFER_SIZE = 1100;

int json_serialize_to_buffer_r(const JSON_Value *value, char *buf, int level, int is_pretty,
                               char *num_buf);

// Running count of the text one call produces. Each added piece moves the
// write position past it; nothing moves while only measuring (null buffer).
struct Output {
    char *buf;
    int count = 0;

    bool add(int piece)
    {
        if (piece < 0 || piece > INT_MAX - count)
            return false;
        count += piece;
        if (buf)
            buf += piece;
        return true;
    }
};

// ---- Pieces. Each returns its length (-1 on failure) and, given a buffer,
// stores its characters there followed by a NUL that the next piece overwrites.

int append_string(char *buf, const char *string)
{
    size_t length = strlen(string);
    if (length > INT_MAX)
        return -1;
    if (buf)
        memcpy(buf, string, length + 1);
    return static_cast<int>(length);
}

int append_indent(char *buf, int level)
{
    if (level <= 0)
        return 0;
    if (level > INT_MAX / 4)
        return -1;
    int length = 4 * level;
    if (buf) {
        memset(buf, ' ', static_cast<size_t>(length));
        buf[length] = '\0';
    }
    return length;
}

// For each byte, the character that follows the backslash of its escape:
// 0 for a byte written as it is, 'u' for a control byte written as \u00XX.
struct EscapeTable {
    char after_backslash[256];
};

constexpr EscapeTable make_escape_table()
{
    EscapeTable table{};
    for (int byte = 0; byte < 0x20; byte++)
        table.after_backslash[byte] = 'u';
    table.after_backslash[static_cast<unsigned char>('"')] = '"';
    table.after_backslash[static_cast<unsigned char>('\\')] = '\\';
    table.after_backslash[static_cast<unsigned char>('/')] = '/';
    table.after_backslash[static_cast<unsigned char>('\b')] = 'b';
    table.after_backslash[static_cast<unsigned char>('\f')] = 'f';
    table.after_backslash[static_cast<unsigned char>('\n')] = 'n';
    table.after_backslash[static_cast<unsigned char>('\r')] = 'r';
    table.after_backslash[static_cast<unsigned char>('\t')] = 't';
    return table;
}

constexpr EscapeTable ESCAPES = make_escape_table();

size_t escaped_length(unsigned char byte)
{
    char escape = ESCAPES.after_backslash[byte];
    return escape == 0 ? 1 : escape == 'u' ? 6 : 2;
}

char *append_escaped(char *out, unsigned char byte)
{
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    char escape = ESCAPES.after_backslash[byte];
    if (escape == 0) {
        *out++ = static_cast<char>(byte);
        return out;
    }
    *out++ = '\\';
    *out++ = escape;
    if (escape == 'u') {
        *out++ = '0';
        *out++ = '0';
        *out++ = HEX_DIGITS[byte >> 4];
        *out++ = HEX_DIGITS[byte & 0x0F];
    }
    return out;
}

// A quoted string literal. Writing assumes the caller measured it first.
int json_serialize_string(const char *string, char *buf)
{
    if (!string)
        return -1;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(string);
    if (!buf) {
        size_t length = 2;
        for (const unsigned char *byte = bytes; *byte; byte++)
            length += escaped_length(*byte);
        return length > INT_MAX ? -1 : static_cast<int>(length);
    }
    char *out = buf;
    *out++ = '"';
    for (const unsigned char *byte = bytes; *byte; byte++)
        out = append_escaped(out, *byte);
    *out++ = '"';
    *out = '\0';
    return static_cast<int>(out - buf);
}

// ---- Numbers

int checked_length(int printed)
{
    return printed >= 0 && printed < NUMBER_BUFFER_SIZE ? printed : -1;
}

bool reads_back_as(const char *text, double number)
{
    char *end = nullptr;
    double read = strtod(text, &end);
    return *end == '\0' && read == number;
}

// The C library's texts: "%f" when it reads back exactly, else the shortest
// "%.Ng" that does. A normal double whose shortest text has 15 digits or
// fewer comes out of "%.15g" exactly so; subnormals carry fewer digits.
int format_number_with_libc(double number, char *out)
{
    int length = checked_length(snprintf(out, NUMBER_BUFFER_SIZE, "%f", number));
    if (length < 0 || reads_back_as(out, number))
        return length;
    int first_precision = std::fabs(number) < DBL_MIN ? 1 : 15;
    for (int precision = first_precision; precision <= 17; precision++) {
        length = checked_length(snprintf(out, NUMBER_BUFFER_SIZE, "%.*g", precision, number));
        if (length < 0 || reads_back_as(out, number))
            return length;
    }
    return -1;
}

// Decimal digits of a whole number, with a minus sign when negative.
int write_integer(int64_t number, char *out)
{
    char reversed[20];
    int count = 0;
    uint64_t magnitude = number < 0 ? 0 - uint64_t(number) : uint64_t(number);
    do {
        reversed[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    char *cursor = out;
    if (number < 0)
        *cursor++ = '-';
    while (count > 0)
        *cursor++ = reversed[--count];
    *cursor = '\0';
    return int(cursor - out);
}

// Digits and the power of ten of the last one, laid out as "%.Ng" lays out
// N significant digits: positional unless the first digit's power is below
// -4 or at least N, then with an exponent of two digits or more.
int write_general(bool negative, const char *digits, int length, int exponent, char *out)
{
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
    *cursor = '\0';
    return int(cursor - out);
}

// Digits and the power of ten of the last one (at least -6), laid out as
// "%f" lays them out: positional, exactly six decimals.
int write_fixed(bool negative, const char *digits, int length, int exponent, char *out)
{
    constexpr int DECIMALS = 6;
    char *cursor = out;
    if (negative)
        *cursor++ = '-';
    int first_power = exponent + length - 1;
    for (int power = first_power > 0 ? first_power : 0; power >= -DECIMALS; power--) {
        int index = first_power - power;
        *cursor++ = index >= 0 && index < length ? digits[index] : '0';
        if (power == 0)
            *cursor++ = '.';
    }
    *cursor = '\0';
    return int(cursor - out);
}

// A text of `length` (or the failure -1) from the scratch buffer to `out`.
int copied_from_scratch(int length, const char *scratch, char *out)
{
    if (length >= 0 && out != scratch)
        memcpy(out, scratch, static_cast<size_t>(length) + 1);
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
    cursor[6] = '\0';
    return int(cursor + 6 - out);
}

// The one place that decides how a number looks. Whole numbers in the int
// range as "%d" (negative zero as 0); other numbers as "%f" when that text
// reads back exactly, else as the shortest text that does, laid out as
// "%.Ng". Stores the text at `out` and returns its length; -1 for an
// infinity or NaN, which have no JSON text. The C library's trial texts go
// to `scratch` (NUMBER_BUFFER_SIZE bytes, may be `out`), so `out` needs room
// for the final text only.
int format_number(double number, char *out, char *scratch)
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
            if (whole >= INT_MIN && whole <= INT_MAX)
                return length;
            // "%f" prints a whole number exactly, so its text always reads back.
            memcpy(out + length, ".000000", 8);
            return length + 7;
        }
    }
    if (std::fabs(number) < SIX_DECIMALS_UNIQUE_BELOW) {
        int six_decimals = write_six_decimals(number < 0, std::fabs(number), out);
        if (six_decimals >= 0)
            return six_decimals;
    }
    char digits[32];
    int length = 0;
    int exponent = 0;
    if (!shortest_digits(std::fabs(number), digits, &length, &exponent))
        return copied_from_scratch(format_number_with_libc(number, scratch), scratch, out);
    // A "%f" text that reads back has at most six decimals, and then so has
    // the shortest text: only then is "%f" worth trying.
    if (exponent >= -6) {
        // Scaling can miss the one six-decimal number by a rounding of its own.
        if (std::fabs(number) < SIX_DECIMALS_UNIQUE_BELOW)
            return write_fixed(number < 0, digits, length, exponent, out);
        int fixed = checked_length(snprintf(scratch, NUMBER_BUFFER_SIZE, "%f", number));
        if (fixed < 0 || reads_back_as(scratch, number))
            return copied_from_scratch(fixed, scratch, out);
    }
    return write_general(number < 0, digits, length, exponent, out);
}

// Measuring formats into the scratch buffer; writing formats straight into
// `buf`, which has room for the final text only.
int append_number(char *buf, double number, char *num_buf)
{
    return format_number(number, buf ? buf : num_buf, num_buf);
}

// ---- Containers

// The layout shared by objects and arrays; `write_entry(i, buf)` produces
// entry i without its indentation and separators.
template <typename WriteEntry>
int serialize_container(char *buf, int level, int is_pretty, size_t count, const char *open,
                        const char *close, WriteEntry write_entry)
{
    Output out{buf};
    if (!out.add(append_string(out.buf, open)))
        return -1;
    if (count > 0 && is_pretty && !out.add(append_string(out.buf, "\n")))
        return -1;
    for (size_t i = 0; i < count; i++) {
        if (is_pretty && !out.add(append_indent(out.buf, level + 1)))
            return -1;
        if (!out.add(write_entry(i, out.buf)))
            return -1;
        if (i + 1 < count && !out.add(append_string(out.buf, ",")))
            return -1;
        if (is_pretty && !out.add(append_string(out.buf, "\n")))
            return -1;
    }
    if (count > 0 && is_pretty && !out.add(append_indent(out.buf, level)))
        return -1;
    return out.add(append_string(out.buf, close)) ? out.count : -1;
}

// Members are walked by index: names are unique, so the value at an index is
// the one a lookup by that name would find, without the scan.
int serialize_object(const JSON_Object *object, char *buf, int level, int is_pretty,
                     char *num_buf)
{
    size_t count = object ? object->count : 0;
    return serialize_container(buf, level, is_pretty, count, "{", "}", [&](size_t i, char *at) {
        Output out{at};
        bool written = out.add(json_serialize_string(object->names[i], out.buf)) &&
                       out.add(append_string(out.buf, is_pretty ? ": " : ":")) &&
                       out.add(json_serialize_to_buffer_r(object->values[i], out.buf, level + 1,
                                                          is_pretty, num_buf));
        return written ? out.count : -1;
    });
}

int serialize_array(const JSON_Array *array, char *buf, int level, int is_pretty, char *num_buf)
{
    size_t count = array ? array->count : 0;
    return serialize_container(buf, level, is_pretty, count, "[", "]", [&](size_t i, char *at) {
        return json_serialize_to_buffer_r(array->items[i], at, level + 1, is_pretty, num_buf);
    });
}

// Measures (null `buf`) or writes the text of `value`; -1 when any part of
// the tree cannot be serialized.
int json_serialize_to_buffer_r(const JSON_Value *value, char *buf, int level, int is_pretty,
                               char *num_buf)
{
    if (level > JSON_MAX_DEPTH)  // recursion is one call per level: the limit bounds the stack
        return -1;
    switch (json_value_get_type(value)) {
    case JSONNull:
        return append_string(buf, "null");
    case JSONBoolean:
        return append_string(buf, value->value.boolean ? "true" : "false");
    case JSONString:
        return json_serialize_string(value->value.string, buf);
    case JSONNumber:
        return append_number(buf, value->value.number, num_buf);
    case JSONObject:
        return serialize_object(value->value.object, buf, level, is_pretty, num_buf);
    case JSONArray:
        return serialize_array(value->value.array, buf, level, is_pretty, num_buf);
    default:  // a null pointer or a type code that is none of the six
        return -1;
    }
}

// ---- Whole texts

size_t serialization_size(const JSON_Value *value, int is_pretty)
{
    char num_buf[NUMBER_BUFFER_SIZE];
    int count = json_serialize_to_buffer_r(value, nullptr, 0, is_pretty, num_buf);
    return count < 0 ? 0 : static_cast<size_t>(count) + 1;
}

// `buf` holds at least the measured size.
JSON_Status write_measured(const JSON_Value *value, char *buf, int is_pretty)
{
    char num_buf[NUMBER_BUFFER_SIZE];
    return json_serialize_to_buffer_r(value, buf, 0, is_pretty, num_buf) < 0 ? JSONFailure
                                                                            : JSONSuccess;
}

JSON_Status serialize_to_buffer(const JSON_Value *value, char *buf, size_t buf_size_in_bytes,
                                int is_pretty)
{
    size_t size = serialization_size(value, is_pretty);
    if (!buf || size == 0 || buf_size_in_bytes < size)
        return JSONFailure;
    return write_measured(value, buf, is_pretty);
}

char *serialize_to_string(const JSON_Value *value, int is_pretty)
{
    size_t size = serialization_size(value, is_pretty);
    if (size == 0)
        return nullptr;
    TextPtr text(static_cast<char *>(jsontree_malloc(size)));
    if (!text || write_measured(value, text.get(), is_pretty) != JSONSuccess)
        return nullptr;
    return text.release();
}

JSON_Status serialize_to_file(const JSON_Value *value, const char *filename, int is_pretty)
{
    if (!filename)
        return JSONFailure;
    TextPtr text(serialize_to_string(value, is_pretty));
    return text ? replace_file(filename, text.get()) : JSONFailure;
}

}  // namespace

size_t json_serialization_size(const JSON_Value *value)
{
    return serialization_size(value, 0);
}

JSON_Status json_serialize_to_buffer(const JSON_Value *value, char *buf, size_t buf_size_in_bytes)
{
    return serialize_to_buffer(value, buf, buf_size_in_bytes, 0);
}

char *json_serialize_to_string(const JSON_Value *value)
{
    return serialize_to_string(value, 0);
}

JSON_Status json_serialize_to_file(const JSON_Value *value, const char *filename)
{
    return serialize_to_file(value, filename, 0);
}

size_t json_serialization_size_pretty(const JSON_Value *value)
{
    return serialization_size(value, 1);
}

JSON_Status json_serialize_to_buffer_pretty(const JSON_Value *value, char *buf,
                                            size_t buf_size_in_bytes)
{
    return serialize_to_buffer(value, buf, buf_size_in_bytes, 1);
}

char *json_serialize_to_string_pretty(const JSON_Value *value)
{
    return serialize_to_string(value, 1);
}

JSON_Status json_serialize_to_file_pretty(const JSON_Value *value, const char *filename)
{
    return serialize_to_file(value, filename, 1);
}

void json_free_serialized_string(char *string)
{
    jsontree_free(string);
}
