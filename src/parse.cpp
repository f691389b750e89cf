// The parser: one forward recursive-descent pass over NUL-terminated text,
// plus the comment blanking and the file reader in front of it.
#include "internal.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// ---- Byte classes, looked up once per byte in the hot loops.

constexpr unsigned char WHITE_SPACE = 1;  // the C locale's isspace
constexpr unsigned char STRING_STOP = 2;  // ends a run of plain string bytes

constexpr std::array<unsigned char, 256> BYTE_CLASSES = [] {
    std::array<unsigned char, 256> classes{};
    classes[' '] = WHITE_SPACE;
    for (unsigned char c = '\t'; c <= '\r'; c++)
        classes[c] = WHITE_SPACE;
    // Raw control bytes (the text's NUL included) are never plain content.
    for (unsigned char c = 0; c < 0x20; c++)
        classes[c] |= STRING_STOP;
    classes['"'] |= STRING_STOP;
    classes['\\'] |= STRING_STOP;
    return classes;
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

inline unsigned char byte_at(const char *position)
{
    return static_cast<unsigned char>(*position);
}

inline void skip_white_space(const char **string)
{
    const char *cursor = *string;
    while (BYTE_CLASSES[byte_at(cursor)] & WHITE_SPACE)
        cursor++;
    *string = cursor;
}

// ---- Files

struct FileCloser {
    void operator()(FILE *file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Only a regular file has a meaningful size: a directory opens fine but
// reports a seek end far beyond any text, which would become an absurd
// allocation request.
bool regular_file_size(FILE *file, size_t *size)
{
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0)
        return false;
    if (static_cast<unsigned long long>(status.st_size) >= SIZE_MAX)
        return false;
    *size = static_cast<size_t>(status.st_size);
    return true;
}

// The whole file as NUL-terminated text, read with a single fread. A file
// that shrank after it was measured ends at the bytes actually read.
char *read_file(const char *filename)
{
    if (!filename)
        return nullptr;
    FilePtr file(fopen(filename, "r"));
    size_t size = 0;
    if (!file || !regular_file_size(file.get(), &size))
        return nullptr;
    TextPtr text(static_cast<char *>(jsontree_malloc(size + 1)));
    if (!text)
        return nullptr;
    size_t bytes_read = fread(text.get(), 1, size, file.get());
    if (bytes_read < size && ferror(file.get()))
        return nullptr;
    text.get()[bytes_read] = '\0';
    return text.release();
}

// ---- Strings

int is_utf16_hex(const unsigned char *s)
{
    // Stops at the first non-digit, so the text's NUL ends the test.
    for (int i = 0; i < 4; i++) {
        if (HEX_VALUES[s[i]] < 0)
            return 0;
    }
    return 1;
}

// The code unit spelled by four digits that is_utf16_hex accepted.
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

bool is_high_surrogate(unsigned int unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(unsigned int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes "\uXXXX", or a surrogate pair of them, with `unprocessed` on the
// "u"; appends the UTF-8 bytes at `processed`. Both positions move on.
int parse_utf_16(const char **unprocessed, char **processed)
{
    const unsigned char *digits = reinterpret_cast<const unsigned char *>(*unprocessed) + 1;
    if (!is_utf16_hex(digits))
        return 0;
    unsigned int code_point = utf16_code_unit(digits);
    digits += 4;
    if (is_low_surrogate(code_point))
        return 0;
    if (is_high_surrogate(code_point)) {
        // Each test stops at the first mismatch, never past the closing quote.
        if (digits[0] != '\\' || digits[1] != 'u' || !is_utf16_hex(digits + 2))
            return 0;
        unsigned int low = utf16_code_unit(digits + 2);
        if (!is_low_surrogate(low))
            return 0;
        code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
        digits += 6;
    }
    *processed = append_utf8(*processed, code_point);
    *unprocessed = reinterpret_cast<const char *>(digits);
    return 1;
}

// Decodes the `len` raw bytes of a string that skip_quotes accepted: no raw
// control byte, and every backslash is followed by a byte of the content.
// Decoding never lengthens the text, so the working buffer bounds it; the
// result is then copied to its exact size.
char *process_string(const char *input, size_t len)
{
    TextPtr decoded(static_cast<char *>(jsontree_malloc(len + 1)));
    if (!decoded)
        return nullptr;
    const char *end = input + len;
    char *out = decoded.get();
    while (input < end) {
        if (*input != '\\') {
            *out++ = *input++;
            continue;
        }
        input++;
        if (*input == 'u') {
            if (!parse_utf_16(&input, &out))
                return nullptr;
            continue;
        }
        char escaped = SIMPLE_ESCAPES[byte_at(input)];
        if (!escaped)
            return nullptr;
        *out++ = escaped;
        input++;
    }
    *out = '\0';
    // A "\u0000" cuts the text short; the copy keeps the decoded size anyway.
    return jsontree_strndup(decoded.get(), size_t(out - decoded.get()));
}

// Content without escapes holds no NUL (skip_quotes refused control bytes),
// so it is copied as it stands.
char *copy_plain_text(const char *raw, size_t len)
{
    char *text = static_cast<char *>(jsontree_malloc(len + 1));
    if (text) {
        memcpy(text, raw, len);
        text[len] = '\0';
    }
    return text;
}

enum class QuotedContent { invalid, plain, escaped };

// Moves the cursor past the quoted string it stands on. Content holding a raw
// control byte, or running into the end of the text, is invalid: decoding
// would refuse it anyway, so it is refused while scanning.
QuotedContent skip_quotes(const char **string)
{
    const char *cursor = *string + 1;
    QuotedContent content = QuotedContent::plain;
    for (;;) {
        while (!(BYTE_CLASSES[byte_at(cursor)] & STRING_STOP))
            cursor++;
        if (*cursor == '"')
            break;
        // A backslash hides the byte after it: neither a control byte nor the end.
        if (*cursor != '\\' || byte_at(cursor + 1) < 0x20)
            return QuotedContent::invalid;
        content = QuotedContent::escaped;
        cursor += 2;
    }
    *string = cursor + 1;
    return content;
}

// The decoded content of the quoted string at the cursor, and its length as
// strlen counts it. Text without escapes is copied straight into a block of
// its final size.
char *get_quoted_string(const char **string, size_t *length)
{
    const char *raw = *string + 1;
    QuotedContent content = skip_quotes(string);
    if (content == QuotedContent::invalid)
        return nullptr;
    size_t len = size_t(*string - raw) - 1;
    if (content == QuotedContent::plain) {
        *length = len;
        return copy_plain_text(raw, len);
    }
    char *text = process_string(raw, len);
    *length = text ? strlen(text) : 0;  // a "\u0000" ends the text early
    return text;
}

JSON_Value *parse_string_value(const char **string)
{
    size_t length = 0;
    TextPtr text(get_quoted_string(string, &length));
    if (!text)
        return nullptr;
    JSON_Value *value = json_value_init_string_no_copy(text.get());
    if (value)
        text.release();
    return value;
}

// ---- Numbers and literals

// Refuses what strtod reads but JSON does not allow: leading zeros and the
// hexadecimal forms.
int is_decimal(const char *string, size_t length)
{
    if (length >= 2 && string[0] == '0' && string[1] != '.')
        return 0;
    if (length >= 3 && string[0] == '-' && string[1] == '0' && string[2] != '.')
        return 0;
    for (size_t i = length; i-- > 0;) {
        if (string[i] == 'x' || string[i] == 'X')
            return 0;
    }
    return 1;
}

// A plain decimal number as written: sign, significant digits and the power
// of ten that scales them.
struct DecimalText {
    bool negative = false;
    uint64_t significand = 0;
    int digits = 0;    // significant digits, leading zeros aside
    int exponent = 0;  // value = significand * 10^exponent
    const char *end = nullptr;
};

constexpr int MAX_SIGNIFICAND_DIGITS = 19;  // below 2^64
constexpr int MAX_WRITTEN_EXPONENT = 9999;
constexpr size_t MAX_SCANNED_DIGITS = 9999;  // zeros included; more go to strtod

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at `cursor` into the significand, each one lowering
// the exponent by `scale_per_digit` (1 in a fraction); false past 19
// significant digits.
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
// them. Forms strtod reads differently or that need more than 19 digits
// (hexadecimal, inf and nan, a leading ".") are left to strtod: false.
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

// 5^q for q from -64 to 64 as a 128-bit significand (floor, top bit set)
// times 2^binary_exponent. Computed exactly with rational arithmetic.
struct PowerOfFive {
    uint64_t high;
    uint64_t low;
    int binary_exponent;
};

constexpr int FIRST_POWER_OF_FIVE = -64;
constexpr PowerOfFive POWERS_OF_FIVE[] = {
    {0xA87FEA27A539E9A5ULL, 0x3F2398D747B36224ULL, -276},  // 5^-64
    {0xD29FE4B18E88640EULL, 0x8EEC7F0D19A03AADULL, -274},  // 5^-63
    {0x83A3EEEEF9153E89ULL, 0x1953CF68300424ACULL, -271},  // 5^-62
    {0xA48CEAAAB75A8E2BULL, 0x5FA8C3423C052DD7ULL, -269},  // 5^-61
    {0xCDB02555653131B6ULL, 0x3792F412CB06794DULL, -267},  // 5^-60
    {0x808E17555F3EBF11ULL, 0xE2BBD88BBEE40BD0ULL, -264},  // 5^-59
    {0xA0B19D2AB70E6ED6ULL, 0x5B6ACEAEAE9D0EC4ULL, -262},  // 5^-58
    {0xC8DE047564D20A8BULL, 0xF245825A5A445275ULL, -260},  // 5^-57
    {0xFB158592BE068D2EULL, 0xEED6E2F0F0D56712ULL, -258},  // 5^-56
    {0x9CED737BB6C4183DULL, 0x55464DD69685606BULL, -255},  // 5^-55
    {0xC428D05AA4751E4CULL, 0xAA97E14C3C26B886ULL, -253},  // 5^-54
    {0xF53304714D9265DFULL, 0xD53DD99F4B3066A8ULL, -251},  // 5^-53
    {0x993FE2C6D07B7FABULL, 0xE546A8038EFE4029ULL, -248},  // 5^-52
    {0xBF8FDB78849A5F96ULL, 0xDE98520472BDD033ULL, -246},  // 5^-51
    {0xEF73D256A5C0F77CULL, 0x963E66858F6D4440ULL, -244},  // 5^-50
    {0x95A8637627989AADULL, 0xDDE7001379A44AA8ULL, -241},  // 5^-49
    {0xBB127C53B17EC159ULL, 0x5560C018580D5D52ULL, -239},  // 5^-48
    {0xE9D71B689DDE71AFULL, 0xAAB8F01E6E10B4A6ULL, -237},  // 5^-47
    {0x9226712162AB070DULL, 0xCAB3961304CA70E8ULL, -234},  // 5^-46
    {0xB6B00D69BB55C8D1ULL, 0x3D607B97C5FD0D22ULL, -232},  // 5^-45
    {0xE45C10C42A2B3B05ULL, 0x8CB89A7DB77C506AULL, -230},  // 5^-44
    {0x8EB98A7A9A5B04E3ULL, 0x77F3608E92ADB242ULL, -227},  // 5^-43
    {0xB267ED1940F1C61CULL, 0x55F038B237591ED3ULL, -225},  // 5^-42
    {0xDF01E85F912E37A3ULL, 0x6B6C46DEC52F6688ULL, -223},  // 5^-41
    {0x8B61313BBABCE2C6ULL, 0x2323AC4B3B3DA015ULL, -220},  // 5^-40
    {0xAE397D8AA96C1B77ULL, 0xABEC975E0A0D081AULL, -218},  // 5^-39
    {0xD9C7DCED53C72255ULL, 0x96E7BD358C904A21ULL, -216},  // 5^-38
    {0x881CEA14545C7575ULL, 0x7E50D64177DA2E54ULL, -213},  // 5^-37
    {0xAA242499697392D2ULL, 0xDDE50BD1D5D0B9E9ULL, -211},  // 5^-36
    {0xD4AD2DBFC3D07787ULL, 0x955E4EC64B44E864ULL, -209},  // 5^-35
    {0x84EC3C97DA624AB4ULL, 0xBD5AF13BEF0B113EULL, -206},  // 5^-34
    {0xA6274BBDD0FADD61ULL, 0xECB1AD8AEACDD58EULL, -204},  // 5^-33
    {0xCFB11EAD453994BAULL, 0x67DE18EDA5814AF2ULL, -202},  // 5^-32
    {0x81CEB32C4B43FCF4ULL, 0x80EACF948770CED7ULL, -199},  // 5^-31
    {0xA2425FF75E14FC31ULL, 0xA1258379A94D028DULL, -197},  // 5^-30
    {0xCAD2F7F5359A3B3EULL, 0x096EE45813A04330ULL, -195},  // 5^-29
    {0xFD87B5F28300CA0DULL, 0x8BCA9D6E188853FCULL, -193},  // 5^-28
    {0x9E74D1B791E07E48ULL, 0x775EA264CF55347DULL, -190},  // 5^-27
    {0xC612062576589DDAULL, 0x95364AFE032A819DULL, -188},  // 5^-26
    {0xF79687AED3EEC551ULL, 0x3A83DDBD83F52204ULL, -186},  // 5^-25
    {0x9ABE14CD44753B52ULL, 0xC4926A9672793542ULL, -183},  // 5^-24
    {0xC16D9A0095928A27ULL, 0x75B7053C0F178293ULL, -181},  // 5^-23
    {0xF1C90080BAF72CB1ULL, 0x5324C68B12DD6338ULL, -179},  // 5^-22
    {0x971DA05074DA7BEEULL, 0xD3F6FC16EBCA5E03ULL, -176},  // 5^-21
    {0xBCE5086492111AEAULL, 0x88F4BB1CA6BCF584ULL, -174},  // 5^-20
    {0xEC1E4A7DB69561A5ULL, 0x2B31E9E3D06C32E5ULL, -172},  // 5^-19
    {0x9392EE8E921D5D07ULL, 0x3AFF322E62439FCFULL, -169},  // 5^-18
    {0xB877AA3236A4B449ULL, 0x09BEFEB9FAD487C2ULL, -167},  // 5^-17
    {0xE69594BEC44DE15BULL, 0x4C2EBE687989A9B3ULL, -165},  // 5^-16
    {0x901D7CF73AB0ACD9ULL, 0x0F9D37014BF60A10ULL, -162},  // 5^-15
    {0xB424DC35095CD80FULL, 0x538484C19EF38C94ULL, -160},  // 5^-14
    {0xE12E13424BB40E13ULL, 0x2865A5F206B06FB9ULL, -158},  // 5^-13
    {0x8CBCCC096F5088CBULL, 0xF93F87B7442E45D3ULL, -155},  // 5^-12
    {0xAFEBFF0BCB24AAFEULL, 0xF78F69A51539D748ULL, -153},  // 5^-11
    {0xDBE6FECEBDEDD5BEULL, 0xB573440E5A884D1BULL, -151},  // 5^-10
    {0x89705F4136B4A597ULL, 0x31680A88F8953030ULL, -148},  // 5^-9
    {0xABCC77118461CEFCULL, 0xFDC20D2B36BA7C3DULL, -146},  // 5^-8
    {0xD6BF94D5E57A42BCULL, 0x3D32907604691B4CULL, -144},  // 5^-7
    {0x8637BD05AF6C69B5ULL, 0xA63F9A49C2C1B10FULL, -141},  // 5^-6
    {0xA7C5AC471B478423ULL, 0x0FCF80DC33721D53ULL, -139},  // 5^-5
    {0xD1B71758E219652BULL, 0xD3C36113404EA4A8ULL, -137},  // 5^-4
    {0x83126E978D4FDF3BULL, 0x645A1CAC083126E9ULL, -134},  // 5^-3
    {0xA3D70A3D70A3D70AULL, 0x3D70A3D70A3D70A3ULL, -132},  // 5^-2
    {0xCCCCCCCCCCCCCCCCULL, 0xCCCCCCCCCCCCCCCCULL, -130},  // 5^-1
    {0x8000000000000000ULL, 0x0000000000000000ULL, -127},  // 5^0
    {0xA000000000000000ULL, 0x0000000000000000ULL, -125},  // 5^1
    {0xC800000000000000ULL, 0x0000000000000000ULL, -123},  // 5^2
    {0xFA00000000000000ULL, 0x0000000000000000ULL, -121},  // 5^3
    {0x9C40000000000000ULL, 0x0000000000000000ULL, -118},  // 5^4
    {0xC350000000000000ULL, 0x0000000000000000ULL, -116},  // 5^5
    {0xF424000000000000ULL, 0x0000000000000000ULL, -114},  // 5^6
    {0x9896800000000000ULL, 0x0000000000000000ULL, -111},  // 5^7
    {0xBEBC200000000000ULL, 0x0000000000000000ULL, -109},  // 5^8
    {0xEE6B280000000000ULL, 0x0000000000000000ULL, -107},  // 5^9
    {0x9502F90000000000ULL, 0x0000000000000000ULL, -104},  // 5^10
    {0xBA43B74000000000ULL, 0x0000000000000000ULL, -102},  // 5^11
    {0xE8D4A51000000000ULL, 0x0000000000000000ULL, -100},  // 5^12
    {0x9184E72A00000000ULL, 0x0000000000000000ULL, -97},  // 5^13
    {0xB5E620F480000000ULL, 0x0000000000000000ULL, -95},  // 5^14
    {0xE35FA931A0000000ULL, 0x0000000000000000ULL, -93},  // 5^15
    {0x8E1BC9BF04000000ULL, 0x0000000000000000ULL, -90},  // 5^16
    {0xB1A2BC2EC5000000ULL, 0x0000000000000000ULL, -88},  // 5^17
    {0xDE0B6B3A76400000ULL, 0x0000000000000000ULL, -86},  // 5^18
    {0x8AC7230489E80000ULL, 0x0000000000000000ULL, -83},  // 5^19
    {0xAD78EBC5AC620000ULL, 0x0000000000000000ULL, -81},  // 5^20
    {0xD8D726B7177A8000ULL, 0x0000000000000000ULL, -79},  // 5^21
    {0x878678326EAC9000ULL, 0x0000000000000000ULL, -76},  // 5^22
    {0xA968163F0A57B400ULL, 0x0000000000000000ULL, -74},  // 5^23
    {0xD3C21BCECCEDA100ULL, 0x0000000000000000ULL, -72},  // 5^24
    {0x84595161401484A0ULL, 0x0000000000000000ULL, -69},  // 5^25
    {0xA56FA5B99019A5C8ULL, 0x0000000000000000ULL, -67},  // 5^26
    {0xCECB8F27F4200F3AULL, 0x0000000000000000ULL, -65},  // 5^27
    {0x813F3978F8940984ULL, 0x4000000000000000ULL, -62},  // 5^28
    {0xA18F07D736B90BE5ULL, 0x5000000000000000ULL, -60},  // 5^29
    {0xC9F2C9CD04674EDEULL, 0xA400000000000000ULL, -58},  // 5^30
    {0xFC6F7C4045812296ULL, 0x4D00000000000000ULL, -56},  // 5^31
    {0x9DC5ADA82B70B59DULL, 0xF020000000000000ULL, -53},  // 5^32
    {0xC5371912364CE305ULL, 0x6C28000000000000ULL, -51},  // 5^33
    {0xF684DF56C3E01BC6ULL, 0xC732000000000000ULL, -49},  // 5^34
    {0x9A130B963A6C115CULL, 0x3C7F400000000000ULL, -46},  // 5^35
    {0xC097CE7BC90715B3ULL, 0x4B9F100000000000ULL, -44},  // 5^36
    {0xF0BDC21ABB48DB20ULL, 0x1E86D40000000000ULL, -42},  // 5^37
    {0x96769950B50D88F4ULL, 0x1314448000000000ULL, -39},  // 5^38
    {0xBC143FA4E250EB31ULL, 0x17D955A000000000ULL, -37},  // 5^39
    {0xEB194F8E1AE525FDULL, 0x5DCFAB0800000000ULL, -35},  // 5^40
    {0x92EFD1B8D0CF37BEULL, 0x5AA1CAE500000000ULL, -32},  // 5^41
    {0xB7ABC627050305ADULL, 0xF14A3D9E40000000ULL, -30},  // 5^42
    {0xE596B7B0C643C719ULL, 0x6D9CCD05D0000000ULL, -28},  // 5^43
    {0x8F7E32CE7BEA5C6FULL, 0xE4820023A2000000ULL, -25},  // 5^44
    {0xB35DBF821AE4F38BULL, 0xDDA2802C8A800000ULL, -23},  // 5^45
    {0xE0352F62A19E306EULL, 0xD50B2037AD200000ULL, -21},  // 5^46
    {0x8C213D9DA502DE45ULL, 0x4526F422CC340000ULL, -18},  // 5^47
    {0xAF298D050E4395D6ULL, 0x9670B12B7F410000ULL, -16},  // 5^48
    {0xDAF3F04651D47B4CULL, 0x3C0CDD765F114000ULL, -14},  // 5^49
    {0x88D8762BF324CD0FULL, 0xA5880A69FB6AC800ULL, -11},  // 5^50
    {0xAB0E93B6EFEE0053ULL, 0x8EEA0D047A457A00ULL, -9},  // 5^51
    {0xD5D238A4ABE98068ULL, 0x72A4904598D6D880ULL, -7},  // 5^52
    {0x85A36366EB71F041ULL, 0x47A6DA2B7F864750ULL, -4},  // 5^53
    {0xA70C3C40A64E6C51ULL, 0x999090B65F67D924ULL, -2},  // 5^54
    {0xD0CF4B50CFE20765ULL, 0xFFF4B4E3F741CF6DULL, 0},  // 5^55
    {0x82818F1281ED449FULL, 0xBFF8F10E7A8921A4ULL, 3},  // 5^56
    {0xA321F2D7226895C7ULL, 0xAFF72D52192B6A0DULL, 5},  // 5^57
    {0xCBEA6F8CEB02BB39ULL, 0x9BF4F8A69F764490ULL, 7},  // 5^58
    {0xFEE50B7025C36A08ULL, 0x02F236D04753D5B4ULL, 9},  // 5^59
    {0x9F4F2726179A2245ULL, 0x01D762422C946590ULL, 12},  // 5^60
    {0xC722F0EF9D80AAD6ULL, 0x424D3AD2B7B97EF5ULL, 14},  // 5^61
    {0xF8EBAD2B84E0D58BULL, 0xD2E0898765A7DEB2ULL, 16},  // 5^62
    {0x9B934C3B330C8577ULL, 0x63CC55F49F88EB2FULL, 19},  // 5^63
    {0xC2781F49FFCFA6D5ULL, 0x3CBF6B71C76B25FBULL, 21},  // 5^64
};
constexpr int LAST_POWER_OF_FIVE = FIRST_POWER_OF_FIVE + int(std::size(POWERS_OF_FIVE)) - 1;

// The 128-bit product of two 64-bit numbers.
void multiply_64(uint64_t a, uint64_t b, uint64_t *high, uint64_t *low)
{
#ifdef __SIZEOF_INT128__
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    *high = uint64_t(product >> 64);
    *low = uint64_t(product);
#else
    constexpr uint64_t LOW_32 = 0xFFFFFFFFu;
    uint64_t a_high = a >> 32, a_low = a & LOW_32, b_high = b >> 32, b_low = b & LOW_32;
    uint64_t low_low = a_low * b_low, low_high = a_low * b_high;
    uint64_t high_low = a_high * b_low, high_high = a_high * b_high;
    uint64_t middle = (low_low >> 32) + (low_high & LOW_32) + (high_low & LOW_32);
    *low = (middle << 32) | (low_low & LOW_32);
    *high = high_high + (low_high >> 32) + (high_low >> 32) + (middle >> 32);
#endif
}

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
    uint64_t high, middle, low_high, low_low;
    multiply_64(significand, power.high, &high, &middle);
    multiply_64(significand, power.low, &low_high, &low_low);
    middle += low_high;
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

// The double strtod would give for the number at `text`, without calling
// it when an exact shortcut applies; `*end` is where strtod would stop.
double read_number(const char *text, const char **end)
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
    char *strtod_end = nullptr;
    double value = strtod(text, &strtod_end);
    *end = strtod_end;
    return value;
}

JSON_Value *parse_number_value(const char **string)
{
    const char *end = nullptr;
    double number = read_number(*string, &end);
    size_t length = size_t(end - *string);
    // Nothing read (a lone "-") would leave the cursor on the "-", where the
    // enclosing container fails anyway.
    if (length == 0 || !is_decimal(*string, length))
        return nullptr;
    *string = end;
    return json_value_init_number(number);
}

// strncmp stops at the text's NUL, so a short text is never over-read.
bool skip_literal(const char **string, const char *literal, size_t length)
{
    if (strncmp(*string, literal, length) != 0)
        return false;
    *string += length;
    return true;
}

JSON_Value *parse_boolean_value(const char **string)
{
    if (skip_literal(string, "true", 4))
        return json_value_init_boolean(1);
    if (skip_literal(string, "false", 5))
        return json_value_init_boolean(0);
    return nullptr;
}

JSON_Value *parse_null_value(const char **string)
{
    return skip_literal(string, "null", 4) ? json_value_init_null() : nullptr;
}

// ---- Containers

// Members and items of the containers still open, innermost last. A
// container's entries gather at the top while it is read and move into slot
// arrays of exactly their count when it closes, so no container grows or
// shrinks on the way and a name moves from the text into the object without
// a copy. Whatever is still held when a parse fails is released here.
class OpenEntries {
public:
    OpenEntries() = default;
    ~OpenEntries()
    {
        for (size_t i = count_; i-- > 0;) {
            jsontree_free(entries_[i].name);
            json_value_free(entries_[i].value);
        }
        if (entries_ != inline_entries_)
            jsontree_free(entries_);
    }
    OpenEntries(const OpenEntries &) = delete;
    OpenEntries &operator=(const OpenEntries &) = delete;

    size_t size() const { return count_; }

    // Takes `name` (null for an array item) and `value` on success only;
    // `hash` is name_hash of the name.
    bool push(char *name, uint32_t hash, JSON_Value *value)
    {
        if (count_ == capacity_ && !grow())
            return false;
        entries_[count_++] = {name, value, hash};
        return true;
    }

    // Names are unique within an object; they compare after decoding. The
    // hashes kept beside the names spare reading most of them.
    bool holds_name(size_t first, const char *name, uint32_t hash) const
    {
        for (size_t i = first; i < count_; i++) {
            if (entries_[i].hash == hash && strcmp(entries_[i].name, name) == 0)
                return true;
        }
        return false;
    }

    // Hands the entries from `first` on to `object` as its members.
    bool move_members(size_t first, JSON_Object *object)
    {
        size_t count = count_ - first;
        if (count == 0)
            return true;
        if (json_object_resize(object, count) != JSONSuccess)
            return false;
        for (size_t i = 0; i < count; i++) {
            object->names[i] = entries_[first + i].name;
            object->values[i] = entries_[first + i].value;
        }
        object->count = count;
        count_ = first;
        return true;
    }

    // Hands the entries from `first` on to `array` as its items.
    bool move_items(size_t first, JSON_Array *array)
    {
        size_t count = count_ - first;
        if (count == 0)
            return true;
        if (json_array_resize(array, count) != JSONSuccess)
            return false;
        for (size_t i = 0; i < count; i++)
            array->items[i] = entries_[first + i].value;
        array->count = count;
        count_ = first;
        return true;
    }

private:
    struct Entry {
        char *name;
        JSON_Value *value;
        uint32_t hash;
    };

    bool grow()
    {
        size_t capacity = capacity_ * 2;
        Entry *entries = static_cast<Entry *>(jsontree_malloc(capacity * sizeof(Entry)));
        if (!entries)
            return false;
        memcpy(entries, entries_, count_ * sizeof(Entry));
        if (entries_ != inline_entries_)
            jsontree_free(entries_);
        entries_ = entries;
        capacity_ = capacity;
        return true;
    }

    // Most documents never hold more entries open at once than fit here. A
    // heap block of this size would be a large request for the C library's
    // allocator, which first merges every small block freed before it: with
    // a whole tree just released, that costs more than the parse.
    static constexpr size_t INLINE_ENTRIES = 512;
    Entry inline_entries_[INLINE_ENTRIES];
    Entry *entries_ = inline_entries_;
    size_t count_ = 0;
    size_t capacity_ = INLINE_ENTRIES;
};

JSON_Value *parse_value(const char **string, size_t nesting, OpenEntries &open);

// A cheap fingerprint of a name of `length` bytes: equal names have equal
// fingerprints, and most unequal names in one object differ in length or in
// their first or last bytes, so few comparisons need to read the names.
uint32_t name_hash(const char *name, size_t length)
{
    if (length == 0)
        return 0;
    auto byte = [&](size_t i) { return uint32_t(static_cast<unsigned char>(name[i])); };
    return (uint32_t(length) << 24) ^ (byte(0) << 16) ^ (byte(length / 2) << 8) ^ byte(length - 1);
}

// Reads one "name": value pair onto the open entries. A name already given
// in this object, or one member more than an object may hold, fails.
bool parse_member(const char **string, size_t nesting, OpenEntries &open, size_t first)
{
    if (**string != '"')
        return false;
    size_t length = 0;
    TextPtr name(get_quoted_string(string, &length));
    if (!name || open.size() - first >= OBJECT_MAX_CAPACITY)
        return false;
    uint32_t hash = name_hash(name.get(), length);
    if (open.holds_name(first, name.get(), hash))
        return false;
    skip_white_space(string);
    if (**string != ':')
        return false;
    ++*string;
    ValuePtr value(parse_value(string, nesting, open));
    if (!value || !open.push(name.get(), hash, value.get()))
        return false;
    name.release();
    value.release();
    return true;
}

// The entries of an object or array, the cursor on its opening bracket:
// `parse_entry` reads each one, commas separate them, `closing` ends them.
template <typename ParseEntry>
bool parse_entries(const char **string, char closing, ParseEntry parse_entry)
{
    ++*string;
    skip_white_space(string);
    if (**string != closing) {
        for (;;) {
            if (!parse_entry())
                return false;
            skip_white_space(string);
            if (**string != ',')
                break;
            ++*string;
            skip_white_space(string);
        }
        if (**string != closing)
            return false;
    }
    ++*string;
    return true;
}

// `nesting` is the depth of the members; the cursor is on the "{".
JSON_Value *parse_object_value(const char **string, size_t nesting, OpenEntries &open)
{
    const size_t first = open.size();
    if (!parse_entries(string, '}', [&] { return parse_member(string, nesting, open, first); }))
        return nullptr;
    ValuePtr value(json_value_init_object());
    if (!value || !open.move_members(first, value->value.object))
        return nullptr;
    return value.release();
}

// Reads one item onto the open entries; one item more than an array may
// hold fails.
bool parse_item(const char **string, size_t nesting, OpenEntries &open, size_t first)
{
    ValuePtr item(parse_value(string, nesting, open));
    if (!item || open.size() - first >= ARRAY_MAX_CAPACITY || !open.push(nullptr, 0, item.get()))
        return false;
    item.release();
    return true;
}

// `nesting` is the depth of the items; the cursor is on the "[".
JSON_Value *parse_array_value(const char **string, size_t nesting, OpenEntries &open)
{
    const size_t first = open.size();
    if (!parse_entries(string, ']', [&] { return parse_item(string, nesting, open, first); }))
        return nullptr;
    ValuePtr value(json_value_init_array());
    if (!value || !open.move_items(first, value->value.array))
        return nullptr;
    return value.release();
}

// Recursion happens only through containers, and each level adds one to
// `nesting`, so the depth limit bounds the stack whatever the input.
JSON_Value *parse_value(const char **string, size_t nesting, OpenEntries &open)
{
    if (nesting > MAX_NESTING)
        return nullptr;
    skip_white_space(string);
    switch (**string) {
    case '{':
        return parse_object_value(string, nesting + 1, open);
    case '[':
        return parse_array_value(string, nesting + 1, open);
    case '"':
        return parse_string_value(string);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        return parse_number_value(string);
    case 't':
    case 'f':
        return parse_boolean_value(string);
    case 'n':
        return parse_null_value(string);
    default:
        return nullptr;
    }
}

// A document's root is an object or an array; whatever follows it is ignored.
JSON_Value *parse_root(const char *text)
{
    skip_white_space(&text);
    if (*text != '{' && *text != '[')
        return nullptr;
    OpenEntries open;
    return parse_value(&text, 0, open);
}

// ---- Comments

// Overwrites with spaces every comment from `start_token` to the next
// `end_token` outside string literals, so comments become white space and
// every other byte keeps its position. A comment without its end token loses
// only its start token, and the scan stops there.
void remove_comments(char *string, const char *start_token, const char *end_token)
{
    const size_t start_length = strlen(start_token);
    const size_t end_length = strlen(end_token);
    if (start_length == 0 || end_length == 0)
        return;
    // Bytes other than these only clear `escaped`, so runs of them are skipped whole.
    bool stops[256] = {};
    for (unsigned char stop : {static_cast<unsigned char>('\0'), static_cast<unsigned char>('\\'),
                               static_cast<unsigned char>('"'), byte_at(start_token)})
        stops[stop] = true;
    bool in_string = false;
    bool escaped = false;
    char *cursor = string;
    for (;;) {
        char *run_end = cursor;
        while (!stops[byte_at(run_end)])
            run_end++;
        if (run_end != cursor) {
            escaped = false;
            cursor = run_end;
        }
        if (*cursor == '\0')
            return;
        if (*cursor == '\\' && !escaped) {
            escaped = true;
            cursor++;
        } else if (*cursor == '"' && !escaped) {
            in_string = !in_string;
            cursor++;
        } else if (!in_string && strncmp(cursor, start_token, start_length) == 0) {
            escaped = false;
            char *end = strstr(cursor + start_length, end_token);
            if (!end) {
                memset(cursor, ' ', start_length);
                return;
            }
            end += end_length;
            memset(cursor, ' ', size_t(end - cursor));
            cursor = end;
        } else {
            escaped = false;
            cursor++;
        }
    }
}

// Block comments go first: a "//" inside one must not cut it short, while a
// "/*" inside a line comment does open a block comment (a known quirk).
JSON_Value *parse_without_comments(char *text)
{
    remove_comments(text, "/*", "*/");
    remove_comments(text, "//", "\n");
    return parse_root(text);
}

}  // namespace

JSON_Value *json_parse_string(const char *string)
{
    return string ? parse_root(string) : nullptr;
}

JSON_Value *json_parse_file(const char *filename)
{
    TextPtr text(read_file(filename));
    return text ? parse_root(text.get()) : nullptr;
}

JSON_Value *json_parse_string_with_comments(const char *string)
{
    if (!string)
        return nullptr;
    TextPtr copy(jsontree_strdup(string));
    return copy ? parse_without_comments(copy.get()) : nullptr;
}

JSON_Value *json_parse_file_with_comments(const char *filename)
{
    // The buffer just read is private, so it is blanked in place: one copy
    // of the text alive, not two.
    TextPtr text(read_file(filename));
    return text ? parse_without_comments(text.get()) : nullptr;
}
