// The writer: JSON text in compact or indented form, always measured first and
// then written into a buffer of exactly the measured size.
#include "file_io.h"
#include "number_write.h"
#include "value.h"

#include <climits>
#include <cstring>
#include <string_view>

using namespace jsontree::detail;

namespace {

enum class Layout {
    compact,
    pretty
};

// A text this long fails to serialize on every platform alike, rather than
// only where it would exhaust the address space.
constexpr size_t MAX_TEXT_LENGTH = INT_MAX;

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

// Where a quoted text ends: a member name at its NUL, in the one scan that
// writes it; a string value after all its bytes, NULs included.
struct AtNul {
    bool operator()(const unsigned char *byte) const { return *byte == '\0'; }
};
struct AtLength {
    explicit AtLength(const JSON_Value *string)
        : end(reinterpret_cast<const unsigned char *>(string->value.string) + string->string_length)
    {
    }
    bool operator()(const unsigned char *byte) const { return byte == end; }
    const unsigned char *end;
};

// One pass over a tree. With a cursor, the text goes there, into room
// measured before for exactly the same pieces; without one, it is only
// counted. A piece that has no text, or that would make the text too long,
// fails the whole text.
class Writer {
public:
    Writer(char *cursor, Layout layout) : cursor_(cursor), layout_(layout) {}

    bool failed() const { return failed_; }
    size_t count() const { return count_; }
    bool pretty() const { return layout_ == Layout::pretty; }
    void fail() { failed_ = true; }

    void put(char c)
    {
        if (cursor_)
            *cursor_++ = c;
        else
            add_to_count(1);
    }

    void put(std::string_view piece)
    {
        if (!cursor_)
            return add_to_count(piece.size());
        memcpy(cursor_, piece.data(), piece.size());
        cursor_ += piece.size();
    }

    void indent(int level)
    {
        size_t width = 4 * size_t(level);
        if (!cursor_)
            return add_to_count(width);
        memset(cursor_, ' ', width);
        cursor_ += width;
    }

    // A quoted string literal of the bytes from `string` on, up to where
    // `ends_at` says (see AtNul and AtLength).
    template <typename EndsAt>
    void quoted(const char *string, EndsAt ends_at)
    {
        if (!string)
            return fail();
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(string);
        if (!cursor_) {
            size_t length = 2;
            for (const unsigned char *byte = bytes; !ends_at(byte); byte++)
                length += escaped_length(*byte);
            return add_to_count(length);
        }
        // A local cursor: the characters stored could alias the member.
        char *out = cursor_;
        *out++ = '"';
        for (const unsigned char *byte = bytes; !ends_at(byte); byte++)
            out = append_escaped(out, *byte);
        *out++ = '"';
        cursor_ = out;
    }

    // Written straight at the cursor, which has room for the final text only;
    // the C library's trial texts, if any, go to the scratch space.
    void number(double number)
    {
        int length = format_number(number, cursor_ ? cursor_ : scratch_, scratch_);
        if (length < 0)
            return fail();
        if (cursor_)
            cursor_ += length;
        else
            add_to_count(size_t(length));
    }

    // The NUL after the text, in the byte the measured size keeps for it.
    void terminate()
    {
        if (cursor_)
            *cursor_ = '\0';
    }

private:
    void add_to_count(size_t length)
    {
        if (length > MAX_TEXT_LENGTH - count_)
            failed_ = true;
        else
            count_ += length;
    }

    char *cursor_;
    size_t count_ = 0;
    bool failed_ = false;
    Layout layout_;
    // One per pass, not per number: a buffer in every call that writes a
    // number keeps the compiler from writing the call in place.
    char scratch_[NUMBER_TEXT_SIZE];
};

void write_value(Writer &out, const JSON_Value *value, int level);

// The layout shared by objects and arrays; `write_entry(i)` writes entry i
// without its indentation and separators.
template <typename WriteEntry>
void write_entries(Writer &out, int level, size_t count, char open, char close,
                   WriteEntry write_entry)
{
    bool pretty = out.pretty();
    out.put(open);
    if (count > 0 && pretty)
        out.put('\n');
    for (size_t i = 0; i < count && !out.failed(); i++) {
        if (pretty)
            out.indent(level + 1);
        write_entry(i);
        if (i + 1 < count)
            out.put(',');
        if (pretty)
            out.put('\n');
    }
    if (count > 0 && pretty)
        out.indent(level);
    out.put(close);
}

// Members are walked by index: names are unique, so the value at an index is
// the one a lookup by that name would find, without the scan.
void write_object(Writer &out, const JSON_Object *object, int level)
{
    size_t count = object ? object->count : 0;
    write_entries(out, level, count, '{', '}', [&](size_t i) {
        out.quoted(object->names[i], AtNul());
        out.put(out.pretty() ? std::string_view(": ") : std::string_view(":"));
        write_value(out, object->values[i], level + 1);
    });
}

void write_array(Writer &out, const JSON_Array *array, int level)
{
    size_t count = array ? array->count : 0;
    write_entries(out, level, count, '[', ']',
                  [&](size_t i) { write_value(out, array->items[i], level + 1); });
}

void write_value(Writer &out, const JSON_Value *value, int level)
{
    if (level > JSON_MAX_DEPTH)  // recursion is one call per level: the limit bounds the stack
        return out.fail();
    switch (json_value_get_type(value)) {
    case JSONNull:
        return out.put("null");
    case JSONBoolean:
        return out.put(value->value.boolean ? std::string_view("true") : std::string_view("false"));
    case JSONString:
        return out.quoted(value->value.string, AtLength(value));
    case JSONNumber:
        if (value->keeps_text)
            return out.put(json_value_get_number_text(value));
        return out.number(value->value.number);
    case JSONObject:
        return write_object(out, value->value.object, level);
    case JSONArray:
        return write_array(out, value->value.array, level);
    default:  // a null pointer or a type code that is none of the six
        return out.fail();
    }
}

// ---- Whole texts

// The text's length with its NUL; 0 when the tree has no text.
size_t serialization_size(const JSON_Value *value, Layout layout)
{
    Writer counter(nullptr, layout);
    write_value(counter, value, 0);
    return counter.failed() ? 0 : counter.count() + 1;
}

// `buf` holds at least the measured size.
bool write_measured(const JSON_Value *value, char *buf, Layout layout)
{
    Writer writer(buf, layout);
    write_value(writer, value, 0);
    if (writer.failed())
        return false;
    writer.terminate();
    return true;
}

JSON_Status serialize_to_buffer(const JSON_Value *value, char *buf, size_t buf_size_in_bytes,
                                Layout layout)
{
    size_t size = serialization_size(value, layout);
    if (!buf || size == 0 || buf_size_in_bytes < size)
        return JSONFailure;
    return write_measured(value, buf, layout) ? JSONSuccess : JSONFailure;
}

char *serialize_to_string(const JSON_Value *value, Layout layout)
{
    size_t size = serialization_size(value, layout);
    if (size == 0)
        return nullptr;
    TextPtr text(static_cast<char *>(jsontree_malloc(size)));
    if (!text || !write_measured(value, text.get(), layout))
        return nullptr;
    return text.release();
}

JSON_Status serialize_to_file(const JSON_Value *value, const char *filename, Layout layout)
{
    if (!filename)
        return JSONFailure;
    TextPtr text(serialize_to_string(value, layout));
    return text && replace_file(filename, text.get()) ? JSONSuccess : JSONFailure;
}

}  // namespace

size_t json_serialization_size(const JSON_Value *value)
{
    return serialization_size(value, Layout::compact);
}

JSON_Status json_serialize_to_buffer(const JSON_Value *value, char *buf, size_t buf_size_in_bytes)
{
    return serialize_to_buffer(value, buf, buf_size_in_bytes, Layout::compact);
}

char *json_serialize_to_string(const JSON_Value *value)
{
    return serialize_to_string(value, Layout::compact);
}

JSON_Status json_serialize_to_file(const JSON_Value *value, const char *filename)
{
    return serialize_to_file(value, filename, Layout::compact);
}

size_t json_serialization_size_pretty(const JSON_Value *value)
{
    return serialization_size(value, Layout::pretty);
}

JSON_Status json_serialize_to_buffer_pretty(const JSON_Value *value, char *buf,
                                            size_t buf_size_in_bytes)
{
    return serialize_to_buffer(value, buf, buf_size_in_bytes, Layout::pretty);
}

char *json_serialize_to_string_pretty(const JSON_Value *value)
{
    return serialize_to_string(value, Layout::pretty);
}

JSON_Status json_serialize_to_file_pretty(const JSON_Value *value, const char *filename)
{
    return serialize_to_file(value, filename, Layout::pretty);
}

void json_free_serialized_string(char *string)
{
    jsontree_free(string);
}
