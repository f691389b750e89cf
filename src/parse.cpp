// The parser: one forward recursive-descent pass over NUL-terminated text.
#include "parse.h"

#include "number_read.h"
#include "open_entries.h"
#include "parse_fault.h"
#include "parse_string.h"
#include "word_scan.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

using namespace jsontree::detail;

namespace {

// The C locale's isspace, looked up once per byte.
constexpr std::array<bool, 256> WHITE_SPACE = [] {
    std::array<bool, 256> white_space{};
    white_space[' '] = true;
    for (unsigned char c = '\t'; c <= '\r'; c++)
        white_space[c] = true;
    return white_space;
}();

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

// `end` is where the text's NUL stands.
inline void skip_white_space(const char **string, const char *end)
{
    const char *cursor = *string;
    while (WHITE_SPACE[byte_at(cursor)]) {
        cursor++;
        // Indentation: a line feed and then a run of spaces.
        if (*cursor == ' ')
            cursor = skip_spaces(cursor, end);
    }
    *string = cursor;
}

bool is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A word an operator may have meant as true, false or null: its letters.
[[gnu::cold]] void unknown_word(const char *word, ParseFault &fault)
{
    const char *end = word;
    while (is_letter(*end))
        end++;
    fault.at(word).append("unknown word ").quoted({word, size_t(end - word)});
}

// ---- Numbers and literals

// Two of the forms strtod reads that JSON does not allow: leading zeros (a
// "0" followed by another digit; "0.5" and "0e5" are fine) and the
// hexadecimal forms. The others strtod reads after a "-" or a digit pass
// here and are kept: "-inf", "-infinity", "-nan", "1.", "1.e5".
bool has_leading_zero_or_hex(const char *string, size_t length)
{
    size_t sign = string[0] == '-' ? 1 : 0;
    if (length >= sign + 2 && string[sign] == '0' && is_digit(string[sign + 1]))
        return true;
    for (size_t i = length; i-- > 0;) {
        if (string[i] == 'x' || string[i] == 'X')
            return true;
    }
    return false;
}

JSON_Value *parse_number_value(const char **string, ParseFault &fault)
{
    const char *end = nullptr;
    double number = read_number(*string, &end);
    size_t length = size_t(end - *string);
    if (length == 0 || has_leading_zero_or_hex(*string, length)) {
        // Nothing read is a lone "-".
        fault.at(*string).append("invalid number ").quoted({*string, length ? length : 1});
        return nullptr;
    }
    std::string_view literal(*string, length);
    *string = end;
    // A rewrite must not put another number in its place.
    if (!double_holds_literal(literal, number))
        return new_number_with_literal(number, literal);
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

JSON_Value *parse_boolean_value(const char **string, const char *end, ParseFault &fault)
{
    if (skip_literal(string, end, "true"))
        return json_value_init_boolean(1);
    if (skip_literal(string, end, "false"))
        return json_value_init_boolean(0);
    unknown_word(*string, fault);
    return nullptr;
}

JSON_Value *parse_null_value(const char **string, const char *end, ParseFault &fault)
{
    if (skip_literal(string, end, "null"))
        return json_value_init_null();
    unknown_word(*string, fault);
    return nullptr;
}

// ---- Containers

// Everything one parse carries besides its cursor.
struct Parser {
    Parser(const char *text_end, ParseFault &fault_found) : end(text_end), fault(fault_found) {}

    const char *const end;  // the text's NUL
    ParseFault &fault;
    OpenEntries open;
    DecodeBuffer decoded;
};

JSON_Value *parse_string_value(const char **string, Parser &parser)
{
    std::string_view content = get_quoted_string(string, parser.end, parser.decoded, parser.fault);
    return content.data() ? new_string_copy(content) : nullptr;
}

JSON_Value *parse_value(const char **string, size_t nesting, Parser &parser);

// A cheap fingerprint of a name: equal names have equal fingerprints, and
// most unequal names in one object differ in length or in their first or
// last bytes, so few comparisons need to read the names.
uint32_t name_hash(std::string_view name)
{
    size_t length = name.size();
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

// A member name as read: a span of the text, or for a name decoded from
// escapes a block of its own, since the decode buffer serves the value next.
// Its text is what strlen counts of it.
class MemberName {
public:
    bool read(const char **string, Parser &parser)
    {
        std::string_view content =
            get_quoted_string(string, parser.end, parser.decoded, parser.fault);
        if (!content.data())
            return false;
        if (!parser.decoded.holds(content)) {
            text_ = content;
            return true;
        }
        block_.reset(copy_text(content));
        if (!block_)
            return false;
        text_ = block_.get();  // up to a "\u0000", as every later reader sees it
        return true;
    }

    std::string_view text() const { return text_; }

    // The name's block, made now if it has none yet; null when memory runs out.
    char *take_block() { return block_ ? block_.release() : copy_text(text_); }

private:
    std::string_view text_;
    TextPtr block_;
};

// The value after a member's name, from the white space before its ":".
JSON_Value *parse_member_value(const char **string, size_t nesting, Parser &parser)
{
    skip_white_space(string, parser.end);
    if (**string != ':') {
        parser.fault.expected(*string, "':' after a member name");
        return nullptr;
    }
    ++*string;
    return parse_value(string, nesting, parser);
}

// Reads one "name": value pair onto the open entries. A name already given
// in this object, or one member more than an object may hold, fails. The
// name's block is made after the value's: the allocation order in
// docs/performance.md.
bool parse_member(const char **string, size_t nesting, Parser &parser, size_t first,
                  NameFilter &names)
{
    OpenEntries &open = parser.open;
    const char *name_start = *string;
    if (*name_start != '"') {
        parser.fault.expected(
            name_start, open.size() == first ? "a member name or '}'" : "a member name after ','");
        return false;
    }
    MemberName name;
    if (!name.read(string, parser))
        return false;
    if (open.size() - first >= OBJECT_MAX_CAPACITY) {
        parser.fault.at(name_start)
            .append("more than ")
            .number(OBJECT_MAX_CAPACITY)
            .append(" members in one object");
        return false;
    }
    uint32_t hash = name_hash(name.text());
    if (names.seen_before(hash) && open.holds_name(first, name.text(), hash)) {
        parser.fault.at(name_start).append("duplicate member name ").quoted(name.text());
        return false;
    }
    ValuePtr value(parse_member_value(string, nesting, parser));
    if (!value) {
        parser.fault.enclose_member(name.text());
        return false;
    }
    TextPtr block(name.take_block());
    if (!block || !open.push(block.get(), hash, value.get()))
        return false;
    block.release();
    value.release();
    return true;
}

// The entries of an object or array, the cursor on its opening bracket:
// `parse_entry` reads each one, commas separate them, `closing` ends them.
template <typename ParseEntry>
bool parse_entries(const char **string, Parser &parser, char closing, ParseEntry parse_entry)
{
    const char *end = parser.end;
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
        if (**string != closing) {
            parser.fault.expected(
                *string, closing == '}' ? "',' or '}' after a member" : "',' or ']' after an item");
            return false;
        }
    }
    ++*string;
    return true;
}

// `nesting` is the depth of the members; the cursor is on the "{".
JSON_Value *parse_object_value(const char **string, size_t nesting, Parser &parser)
{
    ValuePtr value(json_value_init_object());
    const size_t first = parser.open.size();
    NameFilter names;
    if (!value ||
        !parse_entries(string, parser, '}',
                       [&] { return parse_member(string, nesting, parser, first, names); }) ||
        !parser.open.move_members(first, value->value.object))
        return nullptr;
    return value.release();
}

// Reads one item onto the open entries; one item more than an array may
// hold fails before it is read.
bool parse_item(const char **string, size_t nesting, Parser &parser, size_t first)
{
    OpenEntries &open = parser.open;
    const size_t index = open.size() - first;
    if (index >= ARRAY_MAX_CAPACITY) {
        parser.fault.at(*string)
            .append("more than ")
            .number(ARRAY_MAX_CAPACITY)
            .append(" items in one array");
        return false;
    }
    ValuePtr item(parse_value(string, nesting, parser));
    if (!item) {
        parser.fault.enclose_item(index);
        return false;
    }
    if (!open.push(nullptr, 0, item.get()))
        return false;
    item.release();
    return true;
}

// `nesting` is the depth of the items; the cursor is on the "[".
JSON_Value *parse_array_value(const char **string, size_t nesting, Parser &parser)
{
    ValuePtr value(json_value_init_array());
    const size_t first = parser.open.size();
    if (!value ||
        !parse_entries(string, parser, ']',
                       [&] { return parse_item(string, nesting, parser, first); }) ||
        !parser.open.move_items(first, value->value.array))
        return nullptr;
    return value.release();
}

[[gnu::cold]] void nested_too_deep(const char *value, ParseFault &fault)
{
    if (*value == '\0')
        fault.expected(value, "a value");
    else
        fault.at(value)
            .append("value nested deeper than ")
            .number(JSON_MAX_NESTING)
            .append(" levels");
}

// Recursion happens only through containers, and each level adds one to
// `nesting`, so the depth limit bounds the stack whatever the input.
JSON_Value *parse_value(const char **string, size_t nesting, Parser &parser)
{
    skip_white_space(string, parser.end);
    if (nesting > JSON_MAX_NESTING) {
        nested_too_deep(*string, parser.fault);
        return nullptr;
    }
    switch (**string) {
    case '{':
        return parse_object_value(string, nesting + 1, parser);
    case '[':
        return parse_array_value(string, nesting + 1, parser);
    case '"':
        return parse_string_value(string, parser);
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
        return parse_number_value(string, parser.fault);
    case 't':
    case 'f':
        return parse_boolean_value(string, parser.end, parser.fault);
    case 'n':
        return parse_null_value(string, parser.end, parser.fault);
    default:
        if (is_letter(**string))
            unknown_word(*string, parser.fault);
        else
            parser.fault.expected(*string, "a value");
        return nullptr;
    }
}

JSON_Value *parse_document(const char *text, ParseFault &fault)
{
    Parser parser(text + strlen(text), fault);
    skip_white_space(&text, parser.end);
    if (*text == '{' || *text == '[')
        return parse_value(&text, 0, parser);
    if (*text == '\0')
        fault.at(text).append("no document: the text is empty or white space");
    else
        fault.expected(text, "'{' or '[': a document is an object or an array");
    return nullptr;
}

}  // namespace

JSON_Value *jsontree::detail::parse_root(const char *text)
{
    ParseFault ignored(text);
    return parse_document(text, ignored);
}

JSON_Value *jsontree::detail::parse_root_reporting(const char *text, const char *original,
                                                   JSON_Error *error)
{
    ParseFault fault(text);
    JSON_Value *root = parse_document(text, fault);
    if (root)
        report_success(error);
    else
        fault.report(original, error);
    return root;
}
