// Whole-tree services: deep copy, equality and schema validation.
#include "internal.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double NUMBER_TOLERANCE = 0.000001;

JSON_Value *copy_object(const JSON_Object *source)
{
    ValuePtr copy(json_value_init_object());
    if (!copy)
        return nullptr;
    JSON_Object *target = json_value_get_object(copy.get());
    for (size_t i = 0; i < json_object_get_count(source); i++) {
        const char *name = json_object_get_name(source, i);
        ValuePtr member(json_value_deep_copy(json_object_get_value(source, name)));
        if (!member || json_object_add(target, name, member.get()) != JSONSuccess)
            return nullptr;
        member.release();
    }
    return copy.release();
}

JSON_Value *copy_array(const JSON_Array *source)
{
    ValuePtr copy(json_value_init_array());
    if (!copy)
        return nullptr;
    JSON_Array *target = json_value_get_array(copy.get());
    for (size_t i = 0; i < json_array_get_count(source); i++) {
        ValuePtr item(json_value_deep_copy(json_array_get_value(source, i)));
        if (!item || json_array_add(target, item.get()) != JSONSuccess)
            return nullptr;
        item.release();
    }
    return copy.release();
}

bool objects_equal(const JSON_Object *a, const JSON_Object *b)
{
    size_t count = json_object_get_count(a);
    if (count != json_object_get_count(b))
        return false;
    for (size_t i = 0; i < count; i++) {
        const char *name = json_object_get_name(a, i);
        if (!json_value_equals(json_object_get_value(a, name), json_object_get_value(b, name)))
            return false;
    }
    return true;
}

bool arrays_equal(const JSON_Array *a, const JSON_Array *b)
{
    size_t count = json_array_get_count(a);
    if (count != json_array_get_count(b))
        return false;
    for (size_t i = 0; i < count; i++) {
        if (!json_value_equals(json_array_get_value(a, i), json_array_get_value(b, i)))
            return false;
    }
    return true;
}

JSON_Status validate_array(const JSON_Array *schema, const JSON_Array *value)
{
    // The first schema item describes every item; further ones are ignored.
    const JSON_Value *item_schema = json_array_get_value(schema, 0);
    if (!item_schema)
        return JSONSuccess;
    for (size_t i = 0; i < json_array_get_count(value); i++) {
        if (json_validate(item_schema, json_array_get_value(value, i)) != JSONSuccess)
            return JSONFailure;
    }
    return JSONSuccess;
}

JSON_Status validate_object(const JSON_Object *schema, const JSON_Object *value)
{
    size_t count = json_object_get_count(schema);
    if (count == 0)
        return JSONSuccess;
    if (json_object_get_count(value) < count)
        return JSONFailure;
    for (size_t i = 0; i < count; i++) {
        const char *name = json_object_get_name(schema, i);
        const JSON_Value *member = json_object_get_value(value, name);
        if (!member || json_validate(json_object_get_value(schema, name), member) != JSONSuccess)
            return JSONFailure;
    }
    return JSONSuccess;
}

}  // namespace

JSON_Value *json_value_deep_copy(const JSON_Value *value)
{
    switch (json_value_get_type(value)) {
    case JSONNull:
        return json_value_init_null();
    case JSONBoolean:
        return json_value_init_boolean(json_value_get_boolean(value));
    case JSONNumber:
        return json_value_init_number(json_value_get_number(value));
    case JSONString:
        return json_value_adopt_string(jsontree_strdup(json_value_get_string(value)));
    case JSONObject:
        return copy_object(json_value_get_object(value));
    case JSONArray:
        return copy_array(json_value_get_array(value));
    default:
        return nullptr;
    }
}

JSON_Status json_value_equals(const JSON_Value *a, const JSON_Value *b)
{
    JSON_Value_Type type = json_value_get_type(a);
    if (type != json_value_get_type(b))
        return 0;
    switch (type) {
    case JSONString:
        return strcmp(json_value_get_string(a), json_value_get_string(b)) == 0;
    case JSONNumber:
        return fabs(json_value_get_number(a) - json_value_get_number(b)) < NUMBER_TOLERANCE;
    case JSONBoolean:
        return json_value_get_boolean(a) == json_value_get_boolean(b);
    case JSONObject:
        return objects_equal(json_value_get_object(a), json_value_get_object(b));
    case JSONArray:
        return arrays_equal(json_value_get_array(a), json_value_get_array(b));
    default:  // null values, and two null pointers
        return 1;
    }
}

JSON_Status json_validate(const JSON_Value *schema, const JSON_Value *value)
{
    if (!schema || !value)
        return JSONFailure;
    JSON_Value_Type schema_type = json_value_get_type(schema);
    if (schema_type != JSONNull && schema_type != json_value_get_type(value))
        return JSONFailure;
    switch (schema_type) {
    case JSONNull:
    case JSONString:
    case JSONNumber:
    case JSONBoolean:
        return JSONSuccess;
    case JSONArray:
        return validate_array(json_value_get_array(schema), json_value_get_array(value));
    case JSONObject:
        return validate_object(json_value_get_object(schema), json_value_get_object(value));
    default:
        return JSONFailure;
    }
}
