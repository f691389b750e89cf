// Values, the allocation hooks, text duplication and UTF-8 validation.
#include "value.h"

#include <cstdlib>
#include <cstring>

namespace jsontree::detail {

JSON_Malloc_Function jsontree_malloc = malloc;
JSON_Free_Function jsontree_free = free;

}  // namespace jsontree::detail

using namespace jsontree::detail;

void json_set_allocation_functions(JSON_Malloc_Function malloc_fun, JSON_Free_Function free_fun)
{
    // A null hook could only crash later; the C library's function is the
    // one meaningful stand-in.
    jsontree_malloc = malloc_fun ? malloc_fun : malloc;
    jsontree_free = free_fun ? free_fun : free;
}

namespace {

template <typename Record>
Record *allocate_record()
{
    return static_cast<Record *>(jsontree_malloc(sizeof(Record)));
}

// `text_room` bytes follow the record in its block.
JSON_Value *allocate_value(JSON_Value_Type type, size_t text_room = 0)
{
    JSON_Value *value = static_cast<JSON_Value *>(jsontree_malloc(sizeof(JSON_Value) + text_room));
    if (value) {
        value->type = type;
        value->keeps_text = text_room > 0;
    }
    return value;
}

char *text_after_record(JSON_Value *value)
{
    return reinterpret_cast<char *>(value + 1);
}

const char *text_after_record(const JSON_Value *value)
{
    return reinterpret_cast<const char *>(value + 1);
}

}  // namespace

namespace jsontree::detail {

int num_bytes_in_utf8_sequence(unsigned char c)
{
    if (c == 0xC0 || c == 0xC1 || c > 0xF4 || (c & 0xC0) == 0x80)
        return 0;
    if ((c & 0x80) == 0)
        return 1;
    if ((c & 0xE0) == 0xC0)
        return 2;
    if ((c & 0xF0) == 0xE0)
        return 3;
    if ((c & 0xF8) == 0xF0)
        return 4;
    return 0;
}

}  // namespace jsontree::detail

namespace {

// ---- UTF-8 validation

bool verify_utf8_sequence(const unsigned char *string, int *len)
{
    *len = num_bytes_in_utf8_sequence(string[0]);
    if (*len == 0)
        return false;
    // Lead-byte payload bits by sequence length (index 1 to 4).
    static constexpr unsigned char lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    unsigned int code_point = string[0] & lead_mask[*len];
    for (int i = 1; i < *len; i++) {
        // Stops at the first non-continuation byte, the terminating NUL
        // included, so nothing past the end of the text is read.
        if ((string[i] & 0xC0) != 0x80)
            return false;
        code_point = (code_point << 6) | (string[i] & 0x3F);
    }
    if ((code_point < 0x80 && *len > 1) || (code_point < 0x800 && *len > 2) ||
        (code_point < 0x10000 && *len > 3))
        return false;
    if (code_point > 0x10FFFF)
        return false;
    return code_point < 0xD800 || code_point > 0xDFFF;
}

}  // namespace

size_t jsontree::detail::valid_utf8_length(const char *string, size_t string_len)
{
    const unsigned char *start = reinterpret_cast<const unsigned char *>(string);
    const unsigned char *bytes = start;
    const unsigned char *end = start + string_len;
    while (bytes < end) {
        if (*bytes < 0x80) {  // ASCII needs no decoding
            bytes++;
            continue;
        }
        int len = 0;
        if (!verify_utf8_sequence(bytes, &len))
            break;
        bytes += len;
    }
    return size_t((bytes < end ? bytes : end) - start);
}

bool jsontree::detail::is_valid_utf8(const char *string, size_t string_len)
{
    return valid_utf8_length(string, string_len) == string_len;
}

namespace {

// ---- Constructors

// A value around a new empty container (`Container{}`: no slots, no
// entries), stored in the union member `slot`; both blocks or neither.
template <typename Container>
JSON_Value *new_container_value(JSON_Value_Type type, Container *JSON_Value::Payload::*slot)
{
    JSON_Value *value = allocate_value(type);
    if (!value)
        return nullptr;
    Container *container = allocate_record<Container>();
    if (!container) {
        jsontree_free(value);
        return nullptr;
    }
    *container = Container{};
    value->value.*slot = container;
    return value;
}

}  // namespace

JSON_Value *json_value_init_object(void)
{
    return new_container_value(JSONObject, &JSON_Value::Payload::object);
}

JSON_Value *json_value_init_array(void)
{
    return new_container_value(JSONArray, &JSON_Value::Payload::array);
}

namespace {

// A string value owning `string`, `length` bytes long (null gives null);
// `string` is released when the value cannot be made.
JSON_Value *adopt_string(char *string, size_t length)
{
    TextPtr text(string);
    if (!text)
        return nullptr;
    JSON_Value *value = allocate_value(JSONString);
    if (value) {
        value->string_length = uint32_t(length);
        value->value.string = text.release();
    }
    return value;
}

}  // namespace

char *jsontree::detail::copy_text(std::string_view content)
{
    char *text = static_cast<char *>(jsontree_malloc(content.size() + 1));
    if (text) {
        memcpy(text, content.data(), content.size());
        text[content.size()] = '\0';
    }
    return text;
}

JSON_Value *jsontree::detail::new_string_copy(std::string_view content)
{
    if (!fits_string_length(content.size()))
        return nullptr;
    // The record before its text: the allocation order in docs/performance.md.
    ValuePtr value(allocate_value(JSONString));
    if (!value)
        return nullptr;
    value->string_length = uint32_t(content.size());
    value->value.string = copy_text(content);
    return value->value.string ? value.release() : nullptr;
}

JSON_Value *json_value_init_string(const char *string)
{
    if (!string)
        return nullptr;
    size_t length = strlen(string);
    if (!is_valid_utf8(string, length) || !fits_string_length(length))
        return nullptr;
    return adopt_string(copy_text({string, length}), length);
}

JSON_Value *json_value_init_number(double number)
{
    JSON_Value *value = allocate_value(JSONNumber);
    if (value)
        value->value.number = number;
    return value;
}

JSON_Value *jsontree::detail::new_number_with_literal(double number, std::string_view literal)
{
    JSON_Value *value = allocate_value(JSONNumber, literal.size() + 1);
    if (value) {
        value->value.number = number;
        char *text = text_after_record(value);
        memcpy(text, literal.data(), literal.size());
        text[literal.size()] = '\0';
    }
    return value;
}

JSON_Value *json_value_init_boolean(int boolean)
{
    JSON_Value *value = allocate_value(JSONBoolean);
    if (value)
        value->value.boolean = boolean ? 1 : 0;
    return value;
}

JSON_Value *json_value_init_null(void)
{
    return allocate_value(JSONNull);
}

// ---- Release

namespace {

size_t entry_count(const JSON_Value *value)
{
    switch (json_value_get_type(value)) {
    case JSONObject:
        return value->value.object->count;
    case JSONArray:
        return value->value.array->count;
    default:
        return 0;
    }
}

// Releases a value that has no entries left (null is ignored).
void release_childless(JSON_Value *value)
{
    switch (json_value_get_type(value)) {
    case JSONObject:
        jsontree_free(value->value.object->names);
        jsontree_free(value->value.object->values);
        jsontree_free(value->value.object);
        break;
    case JSONArray:
        jsontree_free(value->value.array->items);
        jsontree_free(value->value.array);
        break;
    case JSONString:
        jsontree_free(value->value.string);
        break;
    default:
        break;
    }
    jsontree_free(value);
}

// The slot array holding the entries of a container.
JSON_Value **entry_slots(JSON_Value *container)
{
    return container->type == JSONObject ? container->value.object->values
                                         : container->value.array->items;
}

void set_entry_count(JSON_Value *container, size_t count)
{
    if (container->type == JSONObject)
        container->value.object->count = count;
    else
        container->value.array->count = count;
}

// Releases the entries of a container from the last, up to one that has
// entries of its own: that one is taken out and returned, the container then
// counting only the entries before it. Null once every entry is released.
JSON_Value *release_entries_down_to_nested(JSON_Value *container)
{
    size_t count = entry_count(container);
    if (count == 0)
        return nullptr;
    JSON_Object *object = json_value_get_object(container);
    JSON_Value **slots = entry_slots(container);
    for (size_t i = count; i-- > 0;) {
        if (object)
            jsontree_free(object->names[i]);
        JSON_Value *entry = slots[i];
        if (entry_count(entry) > 0) {
            set_entry_count(container, i);
            return entry;
        }
        release_childless(entry);
    }
    set_entry_count(container, 0);
    return nullptr;
}

}  // namespace

// Entries go from the last to the first, each container after its entries.
// While a container waits for a nested entry to be released, the slot that
// entry left holds the container above it: the way back up lives in the tree
// itself, so any depth is released without recursion or memory of its own.
void json_value_free(JSON_Value *value)
{
    JSON_Value *above = nullptr;  // the container `value` was taken from
    for (;;) {
        JSON_Value *nested = release_entries_down_to_nested(value);
        if (nested) {
            entry_slots(value)[entry_count(value)] = above;
            above = value;
            value = nested;
            continue;
        }
        release_childless(value);
        if (!above)
            return;
        value = above;
        above = entry_slots(value)[entry_count(value)];
    }
}

// ---- Typed access: null pointer first, then type, then payload.

JSON_Value_Type json_value_get_type(const JSON_Value *value)
{
    return value ? value->type : JSONError;
}

JSON_Object *json_value_get_object(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONObject ? value->value.object : nullptr;
}

JSON_Array *json_value_get_array(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONArray ? value->value.array : nullptr;
}

const char *json_value_get_string(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONString ? value->value.string : nullptr;
}

size_t json_value_get_string_len(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONString ? value->string_length : 0;
}

double json_value_get_number(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONNumber ? value->value.number : 0.0;
}

const char *json_value_get_number_text(const JSON_Value *value)
{
    if (json_value_get_type(value) != JSONNumber || !value->keeps_text)
        return nullptr;
    return text_after_record(value);
}

int json_value_get_boolean(const JSON_Value *value)
{
    return json_value_get_type(value) == JSONBoolean ? value->value.boolean : -1;
}

JSON_Value_Type json_type(const JSON_Value *value)
{
    return json_value_get_type(value);
}
JSON_Object *json_object(const JSON_Value *value)
{
    return json_value_get_object(value);
}
JSON_Array *json_array(const JSON_Value *value)
{
    return json_value_get_array(value);
}
const char *json_string(const JSON_Value *value)
{
    return json_value_get_string(value);
}
double json_number(const JSON_Value *value)
{
    return json_value_get_number(value);
}
int json_boolean(const JSON_Value *value)
{
    return json_value_get_boolean(value);
}
