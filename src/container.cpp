// Objects and arrays: growable slot arrays with linear name lookup.
#include "container.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

// From below 8 to FIRST_CAPACITY, else doubling, but never past the limit: a
// container the parser trimmed to its count (481 members, say) would
// otherwise double past the limit while still below it. 0 once at the limit.
size_t grown_capacity(size_t capacity, size_t limit)
{
    if (capacity >= limit)
        return 0;
    size_t doubled = capacity * 2;
    size_t grown = doubled > FIRST_CAPACITY ? doubled : FIRST_CAPACITY;
    return grown < limit ? grown : limit;
}

template <typename Slot>
Slot *allocate_slots(size_t count)
{
    return static_cast<Slot *>(jsontree_malloc(count * sizeof(Slot)));
}

// Same as comparing lengths first, without measuring every name.
bool is_named(const char *member, const char *name, size_t n)
{
    return strncmp(member, name, n) == 0 && member[n] == '\0';
}

// Position of the member named by the first `n` bytes of `name`, or the
// count when there is none: the one scan behind every lookup and change.
size_t member_position(const JSON_Object *object, const char *name, size_t n)
{
    size_t i = 0;
    while (i < object->count && !is_named(object->names[i], name, n))
        i++;
    return i;
}

// Appends a member whose name the object does not hold.
bool append_member(JSON_Object *object, const char *name, JSON_Value *value)
{
    if (object->count >= object->capacity) {
        size_t capacity = grown_capacity(object->capacity, OBJECT_MAX_CAPACITY);
        if (capacity == 0 || !resize_members(object, capacity))
            return false;
    }
    char *name_copy = copy_text(name);
    if (!name_copy)
        return false;
    object->names[object->count] = name_copy;
    object->values[object->count] = value;
    object->count++;
    return true;
}

// The convenience setters, appenders and replacers: the value is made first
// (before the container is examined), handed to the general operation, and
// released again if that refuses it.
JSON_Status keep_or_release(JSON_Value *value, JSON_Status status)
{
    if (status != JSONSuccess)
        json_value_free(value);
    return status;
}

JSON_Status set_new_member(JSON_Object *object, const char *name, JSON_Value *value)
{
    return value ? keep_or_release(value, json_object_set_value(object, name, value)) : JSONFailure;
}

JSON_Status append_new_item(JSON_Array *array, JSON_Value *value)
{
    return value ? keep_or_release(value, json_array_append_value(array, value)) : JSONFailure;
}

JSON_Status replace_new_item(JSON_Array *array, size_t ix, JSON_Value *value)
{
    return value ? keep_or_release(value, json_array_replace_value(array, ix, value)) : JSONFailure;
}

}  // namespace

// ---- Storage

namespace jsontree::detail {

bool resize_members(JSON_Object *object, size_t new_capacity)
{
    if ((object->names == nullptr) != (object->values == nullptr) || new_capacity == 0)
        return false;
    char **names = allocate_slots<char *>(new_capacity);
    if (!names)
        return false;
    JSON_Value **values = allocate_slots<JSON_Value *>(new_capacity);
    if (!values) {
        jsontree_free(names);
        return false;
    }
    if (object->names && object->count > 0) {
        memcpy(names, object->names, object->count * sizeof(char *));
        memcpy(values, object->values, object->count * sizeof(JSON_Value *));
    }
    jsontree_free(object->names);
    jsontree_free(object->values);
    object->names = names;
    object->values = values;
    object->capacity = new_capacity;
    return true;
}

bool resize_items(JSON_Array *array, size_t new_capacity)
{
    if (new_capacity == 0)
        return false;
    JSON_Value **items = allocate_slots<JSON_Value *>(new_capacity);
    if (!items)
        return false;
    if (array->items && array->count > 0)
        memcpy(items, array->items, array->count * sizeof(JSON_Value *));
    jsontree_free(array->items);
    array->items = items;
    array->capacity = new_capacity;
    return true;
}

bool add_member(JSON_Object *object, const char *name, JSON_Value *value)
{
    if (!object || !name || !value || json_object_get_value(object, name))
        return false;
    return append_member(object, name, value);
}

bool append_item(JSON_Array *array, JSON_Value *value)
{
    if (array->count >= array->capacity) {
        size_t capacity = grown_capacity(array->capacity, ARRAY_MAX_CAPACITY);
        if (capacity == 0 || !resize_items(array, capacity))
            return false;
    }
    array->items[array->count++] = value;
    return true;
}

// ---- Object lookups

JSON_Value *find_member(const JSON_Object *object, const char *name, size_t n)
{
    if (!object)
        return nullptr;
    size_t position = member_position(object, name, n);
    return position < object->count ? object->values[position] : nullptr;
}

}  // namespace jsontree::detail

JSON_Value *json_object_get_value(const JSON_Object *object, const char *name)
{
    if (!object || !name)
        return nullptr;
    return find_member(object, name, strlen(name));
}

const char *json_object_get_string(const JSON_Object *object, const char *name)
{
    return json_value_get_string(json_object_get_value(object, name));
}

size_t json_object_get_string_len(const JSON_Object *object, const char *name)
{
    return json_value_get_string_len(json_object_get_value(object, name));
}

double json_object_get_number(const JSON_Object *object, const char *name)
{
    return json_value_get_number(json_object_get_value(object, name));
}

JSON_Object *json_object_get_object(const JSON_Object *object, const char *name)
{
    return json_value_get_object(json_object_get_value(object, name));
}

JSON_Array *json_object_get_array(const JSON_Object *object, const char *name)
{
    return json_value_get_array(json_object_get_value(object, name));
}

int json_object_get_boolean(const JSON_Object *object, const char *name)
{
    return json_value_get_boolean(json_object_get_value(object, name));
}

int json_object_has_value(const JSON_Object *object, const char *name)
{
    return json_object_get_value(object, name) != nullptr;
}

int json_object_has_value_of_type(const JSON_Object *object, const char *name, JSON_Value_Type type)
{
    return is_of_type(json_object_get_value(object, name), type);
}

size_t json_object_get_count(const JSON_Object *object)
{
    return object ? object->count : 0;
}

const char *json_object_get_name(const JSON_Object *object, size_t index)
{
    if (!object || index >= object->count)
        return nullptr;
    return object->names[index];
}

// ---- Object changes

JSON_Status json_object_set_value(JSON_Object *object, const char *name, JSON_Value *value)
{
    if (!object || !name || !value)
        return JSONFailure;
    // A caller's name is held to the rule its string values are, so a tree
    // built through the interface only ever writes UTF-8.
    size_t name_length = strlen(name);
    if (!is_valid_utf8(name, name_length))
        return JSONFailure;
    size_t position = member_position(object, name, name_length);
    JSON_Value *old_value = position < object->count ? object->values[position] : nullptr;
    if (old_value == value)
        return JSONSuccess;
    if (may_hold_container(value, object))
        return JSONFailure;
    if (!old_value)
        return append_member(object, name, value) ? JSONSuccess : JSONFailure;
    if (may_hold(old_value, value))  // releasing it would release the new value too
        return JSONFailure;
    json_value_free(old_value);
    object->values[position] = value;
    return JSONSuccess;
}

JSON_Status json_object_set_string(JSON_Object *object, const char *name, const char *string)
{
    return set_new_member(object, name, json_value_init_string(string));
}

JSON_Status json_object_set_number(JSON_Object *object, const char *name, double number)
{
    return set_new_member(object, name, json_value_init_number(number));
}

JSON_Status json_object_set_boolean(JSON_Object *object, const char *name, int boolean)
{
    return set_new_member(object, name, json_value_init_boolean(boolean));
}

JSON_Status json_object_set_null(JSON_Object *object, const char *name)
{
    return set_new_member(object, name, json_value_init_null());
}

JSON_Status json_object_remove(JSON_Object *object, const char *name)
{
    if (!object || !name)
        return JSONFailure;
    size_t position = member_position(object, name, strlen(name));
    if (position == object->count)
        return JSONFailure;
    jsontree_free(object->names[position]);
    json_value_free(object->values[position]);
    size_t last = object->count - 1;
    if (position != last) {
        object->names[position] = object->names[last];
        object->values[position] = object->values[last];
    }
    object->count--;
    return JSONSuccess;
}

JSON_Status json_object_clear(JSON_Object *object)
{
    if (!object)
        return JSONFailure;
    for (size_t i = 0; i < object->count; i++) {
        jsontree_free(object->names[i]);
        json_value_free(object->values[i]);
    }
    object->count = 0;
    return JSONSuccess;
}

// ---- Array lookups

JSON_Value *json_array_get_value(const JSON_Array *array, size_t index)
{
    if (!array || index >= array->count)
        return nullptr;
    return array->items[index];
}

const char *json_array_get_string(const JSON_Array *array, size_t index)
{
    return json_value_get_string(json_array_get_value(array, index));
}

size_t json_array_get_string_len(const JSON_Array *array, size_t index)
{
    return json_value_get_string_len(json_array_get_value(array, index));
}

double json_array_get_number(const JSON_Array *array, size_t index)
{
    return json_value_get_number(json_array_get_value(array, index));
}

JSON_Object *json_array_get_object(const JSON_Array *array, size_t index)
{
    return json_value_get_object(json_array_get_value(array, index));
}

JSON_Array *json_array_get_array(const JSON_Array *array, size_t index)
{
    return json_value_get_array(json_array_get_value(array, index));
}

int json_array_get_boolean(const JSON_Array *array, size_t index)
{
    return json_value_get_boolean(json_array_get_value(array, index));
}

size_t json_array_get_count(const JSON_Array *array)
{
    return array ? array->count : 0;
}

// ---- Array changes

JSON_Status json_array_append_value(JSON_Array *array, JSON_Value *value)
{
    if (!array || !value || may_hold_container(value, array))
        return JSONFailure;
    return append_item(array, value) ? JSONSuccess : JSONFailure;
}

JSON_Status json_array_append_string(JSON_Array *array, const char *string)
{
    return append_new_item(array, json_value_init_string(string));
}

JSON_Status json_array_append_number(JSON_Array *array, double number)
{
    return append_new_item(array, json_value_init_number(number));
}

JSON_Status json_array_append_boolean(JSON_Array *array, int boolean)
{
    return append_new_item(array, json_value_init_boolean(boolean));
}

JSON_Status json_array_append_null(JSON_Array *array)
{
    return append_new_item(array, json_value_init_null());
}

JSON_Status json_array_replace_value(JSON_Array *array, size_t ix, JSON_Value *value)
{
    if (!array || !value || ix >= array->count)
        return JSONFailure;
    if (array->items[ix] == value)
        return JSONSuccess;
    if (may_hold_container(value, array) || may_hold(array->items[ix], value))
        return JSONFailure;
    json_value_free(array->items[ix]);
    array->items[ix] = value;
    return JSONSuccess;
}

JSON_Status json_array_replace_string(JSON_Array *array, size_t i, const char *string)
{
    return replace_new_item(array, i, json_value_init_string(string));
}

JSON_Status json_array_replace_number(JSON_Array *array, size_t i, double number)
{
    return replace_new_item(array, i, json_value_init_number(number));
}

JSON_Status json_array_replace_boolean(JSON_Array *array, size_t i, int boolean)
{
    return replace_new_item(array, i, json_value_init_boolean(boolean));
}

JSON_Status json_array_replace_null(JSON_Array *array, size_t i)
{
    return replace_new_item(array, i, json_value_init_null());
}

JSON_Status json_array_remove(JSON_Array *array, size_t ix)
{
    if (!array || ix >= array->count)
        return JSONFailure;
    json_value_free(array->items[ix]);
    size_t last = array->count - 1;
    if (ix != last)
        array->items[ix] = array->items[last];
    array->count--;
    return JSONSuccess;
}

JSON_Status json_array_clear(JSON_Array *array)
{
    if (!array)
        return JSONFailure;
    for (size_t i = 0; i < array->count; i++)
        json_value_free(array->items[i]);
    array->count = 0;
    return JSONSuccess;
}
