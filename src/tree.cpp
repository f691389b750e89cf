// Whole-tree services: deep copy, equality and schema validation.
#include "container.h"

#include <cmath>
#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr double NUMBER_TOLERANCE = 0.000001;

// Each walk below recurses once per level and gives up past JSON_MAX_DEPTH,
// so its stack use is bounded whatever tree it is handed. `depth` is the
// depth of the value at hand, the value passed in by the caller being 0.

JSON_Value *copy_value(const JSON_Value *value, size_t depth);

JSON_Value *copy_object(const JSON_Object *source, size_t depth)
{
    ValuePtr copy(json_value_init_object());
    if (!copy)
        return nullptr;
    JSON_Object *target = json_value_get_object(copy.get());
    for (size_t i = 0; i < json_object_get_count(source); i++) {
        const char *name = json_object_get_name(source, i);
        ValuePtr member(copy_value(json_object_get_value(source, name), depth + 1));
        if (!member || !add_member(target, name, member.get()))
            return nullptr;
        member.release();
    }
    return copy.release();
}

JSON_Value *copy_array(const JSON_Array *source, size_t depth)
{
    ValuePtr copy(json_value_init_array());
    if (!copy)
        return nullptr;
    JSON_Array *target = json_value_get_array(copy.get());
    for (size_t i = 0; i < json_array_get_count(source); i++) {
        ValuePtr item(copy_value(json_array_get_value(source, i), depth + 1));
        if (!item || !append_item(target, item.get()))
            return nullptr;
        item.release();
    }
    return copy.release();
}

JSON_Value *copy_number(const JSON_Value *number)
{
    const char *literal = json_value_get_number_text(number);
    return literal ? new_number_with_literal(number->value.number, literal)
                   : json_value_init_number(number->value.number);
}

JSON_Value *copy_value(const JSON_Value *value, size_t depth)
{
    if (depth > JSON_MAX_DEPTH)
        return nullptr;
    switch (json_value_get_type(value)) {
    case JSONNull:
        return json_value_init_null();
    case JSONBoolean:
        return json_value_init_boolean(json_value_get_boolean(value));
    case JSONNumber:
        return copy_number(value);
    case JSONString:
        return new_string_copy({value->value.string, value->string_length});
    case JSONObject:
        return copy_object(json_value_get_object(value), depth);
    case JSONArray:
        return copy_array(json_value_get_array(value), depth);
    default:
        return nullptr;
    }
}

bool values_equal(const JSON_Value *a, const JSON_Value *b, size_t depth);

bool objects_equal(const JSON_Object *a, const JSON_Object *b, size_t depth)
{
    size_t count = json_object_get_count(a);
    if (count != json_object_get_count(b))
        return false;
    for (size_t i = 0; i < count; i++) {
        const char *name = json_object_get_name(a, i);
        if (!values_equal(json_object_get_value(a, name), json_object_get_value(b, name),
                          depth + 1))
            return false;
    }
    return true;
}

bool arrays_equal(const JSON_Array *a, const JSON_Array *b, size_t depth)
{
    size_t count = json_array_get_count(a);
    if (count != json_array_get_count(b))
        return false;
    for (size_t i = 0; i < count; i++) {
        if (!values_equal(json_array_get_value(a, i), json_array_get_value(b, i), depth + 1))
            return false;
    }
    return true;
}

// A kept literal is equal to the same literal. An integer no double holds,
// or an infinite literal, is at least 1 from any other number; a literal read
// as 0 lies within the tolerance of 0, so only it compares by its double.
bool numbers_equal(const JSON_Value *a, const JSON_Value *b)
{
    const char *a_literal = json_value_get_number_text(a);
    const char *b_literal = json_value_get_number_text(b);
    if (a_literal && b_literal && strcmp(a_literal, b_literal) == 0)
        return true;
    double a_number = json_value_get_number(a);
    double b_number = json_value_get_number(b);
    if ((a_literal && a_number != 0) || (b_literal && b_number != 0))
        return false;
    return fabs(a_number - b_number) < NUMBER_TOLERANCE;
}

bool values_equal(const JSON_Value *a, const JSON_Value *b, size_t depth)
{
    JSON_Value_Type type = json_value_get_type(a);
    if (depth > JSON_MAX_DEPTH || type != json_value_get_type(b))
        return false;
    switch (type) {
    case JSONString:
        return a->string_length == b->string_length &&
               memcmp(a->value.string, b->value.string, a->string_length) == 0;
    case JSONNumber:
        return numbers_equal(a, b);
    case JSONBoolean:
        return json_value_get_boolean(a) == json_value_get_boolean(b);
    case JSONObject:
        return objects_equal(json_value_get_object(a), json_value_get_object(b), depth);
    case JSONArray:
        return arrays_equal(json_value_get_array(a), json_value_get_array(b), depth);
    default:  // null values, and two null pointers
        return true;
    }
}

bool validates(const JSON_Value *schema, const JSON_Value *value, size_t depth);

bool array_validates(const JSON_Array *schema, const JSON_Array *value, size_t depth)
{
    // The first schema item describes every item; further ones are ignored.
    const JSON_Value *item_schema = json_array_get_value(schema, 0);
    if (!item_schema)
        return true;
    for (size_t i = 0; i < json_array_get_count(value); i++) {
        if (!validates(item_schema, json_array_get_value(value, i), depth + 1))
            return false;
    }
    return true;
}

bool object_validates(const JSON_Object *schema, const JSON_Object *value, size_t depth)
{
    size_t count = json_object_get_count(schema);
    if (count == 0)
        return true;
    if (json_object_get_count(value) < count)
        return false;
    for (size_t i = 0; i < count; i++) {
        const char *name = json_object_get_name(schema, i);
        const JSON_Value *member = json_object_get_value(value, name);
        if (!member || !validates(json_object_get_value(schema, name), member, depth + 1))
            return false;
    }
    return true;
}

bool validates(const JSON_Value *schema, const JSON_Value *value, size_t depth)
{
    if (!schema || !value || depth > JSON_MAX_DEPTH)
        return false;
    JSON_Value_Type schema_type = json_value_get_type(schema);
    if (schema_type != JSONNull && schema_type != json_value_get_type(value))
        return false;
    switch (schema_type) {
    case JSONNull:
    case JSONString:
    case JSONNumber:
    case JSONBoolean:
        return true;
    case JSONArray:
        return array_validates(json_value_get_array(schema), json_value_get_array(value), depth);
    case JSONObject:
        return object_validates(json_value_get_object(schema), json_value_get_object(value), depth);
    default:
        return false;
    }
}

}  // namespace

JSON_Value *json_value_deep_copy(const JSON_Value *value)
{
    return copy_value(value, 0);
}

JSON_Status json_value_equals(const JSON_Value *a, const JSON_Value *b)
{
    return values_equal(a, b, 0) ? 1 : 0;
}

JSON_Status json_validate(const JSON_Value *schema, const JSON_Value *value)
{
    return validates(schema, value, 0) ? JSONSuccess : JSONFailure;
}
