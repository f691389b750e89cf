// JSON Pointers (RFC 6901): "/servers/0/name" steps through object members
// and array items alike, "~1" and "~0" standing for "/" and "~" in names.
// Changes follow RFC 6902: an add needs the container to exist already, and
// takes an array's item in at its index, moving those after it, as a removal
// closes the gap it leaves.
#include "pointer.h"

#include <cstdint>
#include <cstring>

using namespace jsontree::detail;

namespace {

// The slash after the token that `rest` opens, or its end.
size_t end_of_token(std::string_view rest)
{
    size_t next = rest.find('/', 1);
    return next == std::string_view::npos ? rest.size() : next;
}

// The byte the token's text stands for at `i`, moving `i` past an escape.
char decoded_at(std::string_view token, size_t &i)
{
    if (token[i] != '~')
        return token[i];
    return token[++i] == '0' ? '~' : '/';
}

// Compares without decoding, so that a lookup allocates nothing.
bool token_names(const char *name, std::string_view token)
{
    for (size_t i = 0; i < token.size(); i++, name++) {
        if (*name != decoded_at(token, i))
            return false;
    }
    return *name == '\0';
}

size_t member_position(const JSON_Object *object, std::string_view token)
{
    size_t i = 0;
    while (i < object->count && !token_names(object->names[i], token))
        i++;
    return i;
}

// Moves the slots after `position` down over it, keeping their order.
template <typename Slot>
void close_gap(Slot *slots, size_t position, size_t count)
{
    memmove(slots + position, slots + position + 1, (count - position - 1) * sizeof(Slot));
}

bool insert_item(JSON_Array *array, std::string_view token, JSON_Value *value)
{
    size_t index = array->count;
    if (token != "-" && (!token_index(token, index) || index > array->count))
        return false;
    if (json_array_append_value(array, value) != JSONSuccess)
        return false;
    JSON_Value **at = array->items + index;
    memmove(at + 1, at, (array->count - 1 - index) * sizeof *at);
    *at = value;
    return true;
}

// The container a change by `pointer` acts on and the token it acts at;
// false for a malformed pointer and for the root, which no container holds.
bool locate(JSON_Value *root, const char *pointer, JSON_Value *&container, std::string_view &last)
{
    std::string_view parent;
    if (!root || !pointer || !is_pointer(pointer) || !split_last_token(pointer, parent, last))
        return false;
    container = resolve_pointer(root, parent);
    return container != nullptr;
}

}  // namespace

namespace jsontree::detail {

bool is_pointer(std::string_view text)
{
    if (!text.empty() && text.front() != '/')
        return false;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '~' && (i + 1 == text.size() || (text[i + 1] != '0' && text[i + 1] != '1')))
            return false;
    }
    return true;
}

std::string_view ReferenceTokens::iterator::operator*() const
{
    return span(rest_, 1, end_of_token(rest_));
}

ReferenceTokens::iterator &ReferenceTokens::iterator::operator++()
{
    rest_ = span(rest_, end_of_token(rest_), rest_.size());
    return *this;
}

bool split_last_token(std::string_view pointer, std::string_view &parent, std::string_view &last)
{
    size_t slash = pointer.rfind('/');
    if (slash == std::string_view::npos)
        return false;
    parent = span(pointer, 0, slash);
    last = span(pointer, slash + 1, pointer.size());
    return true;
}

char *decode_token(std::string_view token)
{
    // Decoding only shortens, so the copy has room for the result.
    char *name = copy_text(token);
    if (!name)
        return nullptr;
    char *out = name;
    for (size_t i = 0; i < token.size(); i++)
        *out++ = decoded_at(token, i);
    *out = '\0';
    return name;
}

bool token_index(std::string_view token, size_t &index)
{
    if (token.empty() || (token[0] == '0' && token.size() > 1))
        return false;
    size_t number = 0;
    for (char digit : token) {
        if (digit < '0' || digit > '9' || number > (SIZE_MAX - 9) / 10)
            return false;
        number = number * 10 + size_t(digit - '0');
    }
    index = number;
    return true;
}

JSON_Value *child_at(const JSON_Value *container, std::string_view token)
{
    if (const JSON_Object *object = json_value_get_object(container)) {
        size_t position = member_position(object, token);
        return position < object->count ? object->values[position] : nullptr;
    }
    size_t index = 0;
    return token_index(token, index) ? json_array_get_value(json_value_get_array(container), index)
                                     : nullptr;
}

JSON_Value *resolve_pointer(const JSON_Value *root, std::string_view pointer)
{
    auto *value = const_cast<JSON_Value *>(root);
    for (std::string_view token : ReferenceTokens(pointer)) {
        if (!value)
            return nullptr;
        value = child_at(value, token);
    }
    return value;
}

bool add_at(JSON_Value *container, std::string_view token, JSON_Value *value)
{
    if (JSON_Object *object = json_value_get_object(container)) {
        TextPtr name(decode_token(token));
        return name && json_object_set_value(object, name.get(), value) == JSONSuccess;
    }
    JSON_Array *array = json_value_get_array(container);
    return array && insert_item(array, token, value);
}

JSON_Value *detach_at(JSON_Value *container, std::string_view token)
{
    if (JSON_Object *object = json_value_get_object(container)) {
        size_t position = member_position(object, token);
        if (position == object->count)
            return nullptr;
        JSON_Value *value = object->values[position];
        jsontree_free(object->names[position]);
        close_gap(object->names, position, object->count);
        close_gap(object->values, position, object->count);
        object->count--;
        return value;
    }
    JSON_Array *array = json_value_get_array(container);
    size_t index = 0;
    if (!array || !token_index(token, index) || index >= array->count)
        return nullptr;
    JSON_Value *value = array->items[index];
    close_gap(array->items, index, array->count--);
    return value;
}

}  // namespace jsontree::detail

JSON_Value *json_pointer_get(const JSON_Value *root, const char *pointer)
{
    if (!pointer || !is_pointer(pointer))
        return nullptr;
    return resolve_pointer(root, pointer);
}

JSON_Status json_pointer_add(JSON_Value *root, const char *pointer, JSON_Value *value)
{
    JSON_Value *container = nullptr;
    std::string_view last;
    if (!value || !locate(root, pointer, container, last))
        return JSONFailure;
    return add_at(container, last, value) ? JSONSuccess : JSONFailure;
}

JSON_Status json_pointer_remove(JSON_Value *root, const char *pointer)
{
    JSON_Value *container = nullptr;
    std::string_view last;
    if (!locate(root, pointer, container, last))
        return JSONFailure;
    JSON_Value *removed = detach_at(container, last);
    if (!removed)
        return JSONFailure;
    json_value_free(removed);
    return JSONSuccess;
}
