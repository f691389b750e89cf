// Quoted strings: the content scanned word by word and escapes decoded,
// left where the parser copies it to a block of its exact size.
#include "parse_string.h"

#include "word_scan.h"

#include <array>
#include <cstdint>
#include <cstring>

using namespace jsontree::detail;

namespace {

// Raw control bytes (the text's NUL included) are never plain content.
constexpr std::array<bool, 256> STRING_STOPS = [] {
    std::array<bool, 256> stops{};
    for (unsigned char c = 0; c < 0x20; c++)
        stops[c] = true;
    stops['"'] = true;
    stops['\\'] = true;
    return stops;
}();

// Value of a hexadecimal digit, -1 for any other byte.
constexpr std::array<signed char, 256> HEX_VALUES = [] {
    std::array<signed char, 256> values{};
    for (auto &value : values)
        value = -1;
    for (int c = '0'; c <= '9'; c++)
        values[c] = static_cast<signed char>(c - '0');
    for (int c = 'a'; c <= 'f'; c++) {
        values[c] = static_cast<signed char>(c - 'a' + 10);
        values[c - 'a' + 'A'] = static_cast<signed char>(c - 'a' + 10);
    }
    return values;
}();

// Byte written for the letter after a backslash; 0 where no escape exists.
// "\u" is decoded separately.
constexpr std::array<char, 256> SIMPLE_ESCAPES = [] {
    std::array<char, 256> escapes{};
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    escapes['/'] = '/';
    escapes['b'] = '\b';
    escapes['f'] = '\f';
    escapes['n'] = '\n';
    escapes['r'] = '\r';
    escapes['t'] = '\t';
    return escapes;
}();

// The first byte from `cursor` on that plain string content cannot hold: a
// quotation mark, a backslash or a control byte (the text's NUL among them).
const char *find_string_stop(const char *cursor, const char *end)
{
    if constexpr (WORD_SCAN) {
        for (; end - cursor >= 8; cursor += 8) {
            uint64_t word = load_word(cursor);
            uint64_t stops =
                lanes_equal(word, '"') | lanes_equal(word, '\\') | lanes_below(word, 0x20);
            if (stops)
                return cursor + first_lane(stops);
        }
    }
    while (!STRING_STOPS[byte_at(cursor)])
        cursor++;
    return cursor;
}

// ---- Strings

bool has_four_hex_digits(const unsigned char *s)
{
    // Stops at the first non-digit, so the text's NUL ends the test.
    for (int i = 0; i < 4; i++) {
        if (HEX_VALUES[s[i]] < 0)
            return false;
    }
    return true;
}

// The code unit spelled by four digits that has_four_hex_digits accepted.
unsigned int utf16_code_unit(const unsigned char *s)
{
    unsigned int unit = 0;
    for (int i = 0; i < 4; i++)
        unit = (unit << 4) | static_cast<unsigned int>(HEX_VALUES[s[i]]);
    return unit;
}

char *append_utf8(char *out, unsigned int code_point)
{
    if (code_point < 0x80) {
        *out++ = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code_point >> 6));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code_point >> 12));
        *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code_point >> 18));
        *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return out;
}

bool is_high_surrogate(unsigned int unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(unsigned int unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A surrogate escape that cannot be paired; `escape` is on its backslash.
[[gnu::cold]] bool unpaired_surrogate(const char *escape, ParseFault &fault)
{
    fault.at(escape).append("unpaired surrogate ").quoted({escape, 6});
    return false;
}

// Decodes "\uXXXX", or a surrogate pair of them, with `unprocessed` on the
// "u"; appends the UTF-8 bytes at `processed`. Both positions move on.
bool decode_unicode_escape(const char **unprocessed, char **processed, ParseFault &fault)
{
    const char *escape = *unprocessed - 1;
    const unsigned char *digits = reinterpret_cast<const unsigned char *>(*unprocessed) + 1;
    if (!has_four_hex_digits(digits)) {
        fault.at(escape).append("expected four hexadecimal digits after \"\\u\"");
        return false;
    }
    unsigned int code_point = utf16_code_unit(digits);
    digits += 4;
    if (is_low_surrogate(code_point))
        return unpaired_surrogate(escape, fault);
    if (is_high_surrogate(code_point)) {
        // Each test stops at the first mismatch, never past the closing quote.
        if (digits[0] != '\\' || digits[1] != 'u' || !has_four_hex_digits(digits + 2))
            return unpaired_surrogate(escape, fault);
        unsigned int low = utf16_code_unit(digits + 2);
        if (!is_low_surrogate(low))
            return unpaired_surrogate(escape, fault);
        code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
        digits += 6;
    }
    *processed = append_utf8(*processed, code_point);
    *unprocessed = reinterpret_cast<const char *>(digits);
    return true;
}

// Copies the bytes from `input` up to the first backslash or `end` to `out`;
// both move on. A word copied lands within the bytes it came from, as
// decoding never lengthens the text.
void copy_to_backslash(const char **input, const char *end, char **out)
{
    const char *from = *input;
    char *to = *out;
    if constexpr (WORD_SCAN) {
        for (; end - from >= 8; from += 8, to += 8) {
            uint64_t word = load_word(from);
            if (lanes_equal(word, '\\'))
                break;
            memcpy(to, &word, sizeof word);
        }
    }
    while (from < end && *from != '\\')
        *to++ = *from++;
    *input = from;
    *out = to;
}

// Decodes the `len` raw bytes of a string that skip_quotes accepted: no raw
// control byte, and every backslash is followed by a byte of the content.
// Decoding never lengthens the text, so `len` bytes of the decode buffer
// hold it. A "\u0000" cuts the text short; the span keeps the decoded size
// anyway, as the value's block does.
std::string_view process_string(const char *input, size_t len, DecodeBuffer &buffer,
                                ParseFault &fault)
{
    char *decoded = buffer.reserve(len);
    if (!decoded)
        return {};
    const char *end = input + len;
    char *out = decoded;
    for (;;) {
        copy_to_backslash(&input, end, &out);
        if (input == end)
            break;
        input++;
        if (*input == 'u') {
            if (!decode_unicode_escape(&input, &out, fault))
                return {};
            continue;
        }
        char escaped = SIMPLE_ESCAPES[byte_at(input)];
        if (!escaped) {
            fault.at(input - 1).append("invalid escape ").quoted({input - 1, 2});
            return {};
        }
        *out++ = escaped;
        input++;
    }
    return std::string_view(decoded, size_t(out - decoded));
}

enum class QuotedContent {
    invalid,
    plain,
    escaped
};

// What ended a string's content early: `stop` is the byte of the content that
// no string may hold, or the backslash before one.
[[gnu::cold]] void invalid_content(const char *stop, ParseFault &fault)
{
    if (*stop == '\\' && stop[1] != '\0') {
        fault.at(stop).append("invalid escape ").quoted({stop, 2});
        return;
    }
    if (*stop == '\\')
        stop++;
    switch (*stop) {
    case '\0':
        fault.expected(stop, "'\"' closing the string");
        break;
    case '\n':
        fault.at(stop).append("line feed inside a string");
        break;
    case '\r':
        fault.at(stop).append("carriage return inside a string");
        break;
    case '\t':
        fault.at(stop).append("tab inside a string");
        break;
    default:
        fault.at(stop).append("control byte ").number(byte_at(stop)).append(" inside a string");
    }
}

// Moves the cursor past the quoted string it stands on. Content holding a raw
// control byte, or running into the end of the text, is invalid: decoding
// would refuse it anyway, so it is refused while scanning.
QuotedContent skip_quotes(const char **string, const char *end, ParseFault &fault)
{
    const char *cursor = *string + 1;
    QuotedContent content = QuotedContent::plain;
    for (;;) {
        cursor = find_string_stop(cursor, end);
        if (*cursor == '"')
            break;
        // A backslash hides the byte after it: neither a control byte nor the end.
        if (*cursor != '\\' || byte_at(cursor + 1) < 0x20) {
            invalid_content(cursor, fault);
            return QuotedContent::invalid;
        }
        content = QuotedContent::escaped;
        cursor += 2;
    }
    *string = cursor + 1;
    return content;
}

}  // namespace

std::string_view jsontree::detail::get_quoted_string(const char **string, const char *end,
                                                     DecodeBuffer &decoded, ParseFault &fault)
{
    const char *raw = *string + 1;
    QuotedContent kind = skip_quotes(string, end, fault);
    if (kind == QuotedContent::invalid)
        return {};
    size_t len = size_t(*string - raw) - 1;
    std::string_view content = kind == QuotedContent::plain
                                   ? std::string_view(raw, len)
                                   : process_string(raw, len, decoded, fault);
    if (!fits_string_length(content.size())) {
        fault.at(raw - 1).append("string of 4 GiB or more");
        return {};
    }
    return content;
}
