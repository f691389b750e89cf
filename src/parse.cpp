// The parser: one forward recursive-descent pass over NUL-terminated text,
// plus the comment blanking in front of it.
#include "internal.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// ---- Word-at-a-time scanning

// Eight bytes per step wherever the whole word lies inside the text (loaded
// with memcpy: no alignment or aliasing assumption); the last few bytes go
// one at a time and stop at the text's NUL. A lane is one byte of a word; on
// a little-endian machine the lowest lane comes first in the text, elsewhere
// only the byte loops run.
constexpr bool WORD_SCAN = std::endian::native == std::endian::little;
constexpr uint64_t LOW_BITS = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

inline uint64_t load_word(const char *position)
{
    uint64_t word;
    memcpy(&word, position, sizeof word);
    return word;
}

// The high bit of each lane below `bound` (at most 0x80). A borrow may mark
// lanes after the first marked one wrongly, never the first itself.
constexpr uint64_t lanes_below(uint64_t word, unsigned char bound)
{
    return (word - LOW_BITS * bound) & ~word & HIGH_BITS;
}

constexpr uint64_t lanes_equal(uint64_t word, unsigned char byte)
{
    return lanes_below(word ^ (LOW_BITS * byte), 1);
}

// Offset of the first lane set in a non-zero word.
inline size_t first_lane(uint64_t lanes)
{
    return size_t(std::countr_zero(lanes)) / 8;
}

// The first byte from `cursor` on that is not a space.
const char *skip_spaces(const char *cursor, const char *end)
{
    if constexpr (WORD_SCAN) {
        for (; end - cursor >= 8; cursor += 8) {
            uint64_t others = load_word(cursor) ^ (LOW_BITS * ' ');
            if (others)
                return cursor + first_lane(others);
        }
    }
    while (*cursor == ' ')
        cursor++;
    return cursor;
}

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
    while (!(BYTE_CLASSES[byte_at(cursor)] & STRING_STOP))
        cursor++;
    return cursor;
}

// `end` is where the text's NUL stands.
inline void skip_white_space(const char **string, const char *end)
{
    const char *cursor = *string;
    while (BYTE_CLASSES[byte_at(cursor)] & WHITE_SPACE) {
        cursor++;
        // Indentation: a line feed and then a run of spaces.
        if (*cursor == ' ')
            cursor = skip_spaces(cursor, end);
    }
    *string = cursor;
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

// Where escaped strings are decoded before they move to blocks of their
// exact size. Strings up to the inline size never touch the heap; a longer
// one makes one block that serves the rest of the parse.
class DecodeBuffer {
public:
    DecodeBuffer() = default;
    ~DecodeBuffer()
    {
        if (data_ != inline_data_)
            jsontree_free(data_);
    }
    DecodeBuffer(const DecodeBuffer &) = delete;
    DecodeBuffer &operator=(const DecodeBuffer &) = delete;

    // Room for `size` bytes; null when memory runs out.
    char *reserve(size_t size)
    {
        if (size <= capacity_)
            return data_;
        char *data = static_cast<char *>(jsontree_malloc(size));
        if (!data)
            return nullptr;
        if (data_ != inline_data_)
            jsontree_free(data_);
        data_ = data;
        capacity_ = size;
        return data_;
    }

private:
    static constexpr size_t INLINE_SIZE = 1024;
    char inline_data_[INLINE_SIZE];
    char *data_ = inline_data_;
    size_t capacity_ = INLINE_SIZE;
};

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

// Decodes the `len` raw bytes of a string that skip_quotes accepted: no raw
// control byte, and every backslash is followed by a byte of the content.
// Decoding never lengthens the text, so `len` bytes of the decode buffer
// hold it; the result is then copied to its exact size.
char *process_string(const char *input, size_t len, DecodeBuffer &buffer)
{
    char *decoded = buffer.reserve(len);
    if (!decoded)
        return nullptr;
    const char *end = input + len;
    char *out = decoded;
    for (;;) {
        const void *backslash = memchr(input, '\\', size_t(end - input));
        const char *run_end = backslash ? static_cast<const char *>(backslash) : end;
        memcpy(out, input, size_t(run_end - input));
        out += run_end - input;
        if (run_end == end)
            break;
        input = run_end + 1;
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
    // A "\u0000" cuts the text short; the block keeps the decoded size anyway.
    return copy_plain_text(decoded, size_t(out - decoded));
}

enum class QuotedContent { invalid, plain, escaped };

// Moves the cursor past the quoted string it stands on. Content holding a raw
// control byte, or running into the end of the text, is invalid: decoding
// would refuse it anyway, so it is refused while scanning.
QuotedContent skip_quotes(const char **string, const char *end)
{
    const char *cursor = *string + 1;
    QuotedContent content = QuotedContent::plain;
    for (;;) {
        cursor = find_string_stop(cursor, end);
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
char *get_quoted_string(const char **string, size_t *length, const char *end,
                        DecodeBuffer &decoded)
{
    const char *raw = *string + 1;
    QuotedContent content = skip_quotes(string, end);
    if (content == QuotedContent::invalid)
        return nullptr;
    size_t len = size_t(*string - raw) - 1;
    if (content == QuotedContent::plain) {
        *length = len;
        return copy_plain_text(raw, len);
    }
    char *text = process_string(raw, len, decoded);
    *length = text ? strlen(text) : 0;  // a "\u0000" ends the text early
    return text;
}

JSON_Value *parse_string_value(const char **string, const char *end, DecodeBuffer &decoded)
{
    size_t length = 0;
    return json_value_adopt_string(get_quoted_string(string, &length, end, decoded));
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

// Compares only within the text, which ends at `end`.
bool skip_literal(const char **string, const char *end, std::string_view literal)
{
    if (size_t(end - *string) < literal.size() ||
        memcmp(*string, literal.data(), literal.size()) != 0)
        return false;
    *string += literal.size();
    return true;
}

JSON_Value *parse_boolean_value(const char **string, const char *end)
{
    if (skip_literal(string, end, "true"))
        return json_value_init_boolean(1);
    if (skip_literal(string, end, "false"))
        return json_value_init_boolean(0);
    return nullptr;
}

JSON_Value *parse_null_value(const char **string, const char *end)
{
    return skip_literal(string, end, "null") ? json_value_init_null() : nullptr;
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

// Everything one parse carries besides its cursor.
struct Parser {
    explicit Parser(const char *text_end) : end(text_end) {}

    const char *const end;  // the text's NUL
    OpenEntries open;
    DecodeBuffer decoded;
};

JSON_Value *parse_value(const char **string, size_t nesting, Parser &parser);

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

// One bit of 256 for each fingerprint an object's names have shown: a name
// whose bit is still clear cannot repeat an earlier one, so most members of
// a large object skip the scan of its earlier names.
class NameFilter {
public:
    // Whether `hash` may have been added before; adds it.
    bool seen_before(uint32_t hash)
    {
        uint32_t bit = (hash * 0x9E3779B1u) >> 24;  // spreads the fingerprint's bits
        uint64_t mask = uint64_t(1) << (bit % 64);
        uint64_t &word = words_[bit / 64];
        bool seen = (word & mask) != 0;
        word |= mask;
        return seen;
    }

private:
    uint64_t words_[4] = {};
};

// Reads one "name": value pair onto the open entries. A name already given
// in this object, or one member more than an object may hold, fails.
bool parse_member(const char **string, size_t nesting, Parser &parser, size_t first,
                  NameFilter &names)
{
    if (**string != '"')
        return false;
    size_t length = 0;
    TextPtr name(get_quoted_string(string, &length, parser.end, parser.decoded));
    OpenEntries &open = parser.open;
    if (!name || open.size() - first >= OBJECT_MAX_CAPACITY)
        return false;
    uint32_t hash = name_hash(name.get(), length);
    if (names.seen_before(hash) && open.holds_name(first, name.get(), hash))
        return false;
    skip_white_space(string, parser.end);
    if (**string != ':')
        return false;
    ++*string;
    ValuePtr value(parse_value(string, nesting, parser));
    if (!value || !open.push(name.get(), hash, value.get()))
        return false;
    name.release();
    value.release();
    return true;
}

// The entries of an object or array, the cursor on its opening bracket:
// `parse_entry` reads each one, commas separate them, `closing` ends them.
template <typename ParseEntry>
bool parse_entries(const char **string, const char *end, char closing, ParseEntry parse_entry)
{
    ++*string;
    skip_white_space(string, end);
    if (**string != closing) {
        for (;;) {
            if (!parse_entry())
                return false;
            skip_white_space(string, end);
            if (**string != ',')
                break;
            ++*string;
            skip_white_space(string, end);
        }
        if (**string != closing)
            return false;
    }
    ++*string;
    return true;
}

// `nesting` is the depth of the members; the cursor is on the "{".
JSON_Value *parse_object_value(const char **string, size_t nesting, Parser &parser)
{
    const size_t first = parser.open.size();
    NameFilter names;
    if (!parse_entries(string, parser.end, '}',
                       [&] { return parse_member(string, nesting, parser, first, names); }))
        return nullptr;
    ValuePtr value(json_value_init_object());
    if (!value || !parser.open.move_members(first, value->value.object))
        return nullptr;
    return value.release();
}

// Reads one item onto the open entries; one item more than an array may
// hold fails.
bool parse_item(const char **string, size_t nesting, Parser &parser, size_t first)
{
    ValuePtr item(parse_value(string, nesting, parser));
    OpenEntries &open = parser.open;
    if (!item || open.size() - first >= ARRAY_MAX_CAPACITY || !open.push(nullptr, 0, item.get()))
        return false;
    item.release();
    return true;
}

// `nesting` is the depth of the items; the cursor is on the "[".
JSON_Value *parse_array_value(const char **string, size_t nesting, Parser &parser)
{
    const size_t first = parser.open.size();
    if (!parse_entries(string, parser.end, ']',
                       [&] { return parse_item(string, nesting, parser, first); }))
        return nullptr;
    ValuePtr value(json_value_init_array());
    if (!value || !parser.open.move_items(first, value->value.array))
        return nullptr;
    return value.release();
}

// Recursion happens only through containers, and each level adds one to
// `nesting`, so the depth limit bounds the stack whatever the input.
JSON_Value *parse_value(const char **string, size_t nesting, Parser &parser)
{
    if (nesting > MAX_NESTING)
        return nullptr;
    skip_white_space(string, parser.end);
    switch (**string) {
    case '{':
        return parse_object_value(string, nesting + 1, parser);
    case '[':
        return parse_array_value(string, nesting + 1, parser);
    case '"':
        return parse_string_value(string, parser.end, parser.decoded);
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
        return parse_boolean_value(string, parser.end);
    case 'n':
        return parse_null_value(string, parser.end);
    default:
        return nullptr;
    }
}

// A document's root is an object or an array; whatever follows it is
// ignored, and so is everything after a NUL.
JSON_Value *parse_root(const char *text)
{
    Parser parser(text + strlen(text));
    skip_white_space(&text, parser.end);
    if (*text != '{' && *text != '[')
        return nullptr;
    return parse_value(&text, 0, parser);
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
