// Dotted paths: "outer.inner.leaf" walks member objects; no escapes, empty
// segments allowed, arrays never stepped into.
#include "container.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

// The object at the segment [name, dot) of `object`, or null.
JSON_Object *step_into(const JSON_Object *object, const char *name, const char *dot)
{
    return json_value_get_object(find_member(object, name, size_t(dot - name)));
}

// Walks every segment but the last and returns the object that should hold
// the last one, leaving `name` on that segment; null when the walk loses its
// object. Allocates nothing.
template <typename Object>
Object *parent_of_last_segment(Object *object, const char **name)
{
    for (const char *dot = strchr(*name, '.'); dot && object; dot = strchr(*name, '.')) {
        object = step_into(object, *name, dot);
        *name = dot + 1;
    }
    return object;
}

// The object held by the member `segment`, adding an empty one when the
// member is missing. Null when a member of another type is in the way (the
// add refuses the duplicate name) or memory runs out.
JSON_Object *object_member_or_new(JSON_Object *object, const char *segment)
{
    JSON_Object *found = json_object_get_object(object, segment);
    if (found)
        return found;
    ValuePtr created(json_value_init_object());
    if (!created)
        return nullptr;
    JSON_Object *created_object = json_value_get_object(created.get());
    if (!add_member(object, segment, created.get()))
        return nullptr;
    created.release();
    return created_object;
}

// A typed store: the value it made is released when the store refuses it.
JSON_Status dotset_new_value(JSON_Object *object, const char *name, JSON_Value *value)
{
    if (!value)
        return JSONFailure;
    if (json_object_dotset_value(object, name, value) != JSONSuccess) {
        json_value_free(value);
        return JSONFailure;
    }
    return JSONSuccess;
}

}  // namespace

JSON_Value *json_object_dotget_value(const JSON_Object *object, const char *name)
{
    if (!name)
        return nullptr;
    const JSON_Object *parent = parent_of_last_segment(object, &name);
    return json_object_get_value(parent, name);
}

const char *json_object_dotget_string(const JSON_Object *object, const char *name)
{
    return json_value_get_string(json_object_dotget_value(object, name));
}

size_t json_object_dotget_string_len(const JSON_Object *object, const char *name)
{
    return json_value_get_string_len(json_object_dotget_value(object, name));
}

double json_object_dotget_number(const JSON_Object *object, const char *name)
{
    return json_value_get_number(json_object_dotget_value(object, name));
}

JSON_Object *json_object_dotget_object(const JSON_Object *object, const char *name)
{
    return json_value_get_object(json_object_dotget_value(object, name));
}

JSON_Array *json_object_dotget_array(const JSON_Object *object, const char *name)
{
    return json_value_get_array(json_object_dotget_value(object, name));
}

int json_object_dotget_boolean(const JSON_Object *object, const char *name)
{
    return json_value_get_boolean(json_object_dotget_value(object, name));
}

int json_object_dothas_value(const JSON_Object *object, const char *name)
{
    return json_object_dotget_value(object, name) != nullptr;
}

int json_object_dothas_value_of_type(const JSON_Object *object, const char *name,
                                     JSON_Value_Type type)
{
    return is_of_type(json_object_dotget_value(object, name), type);
}

JSON_Status json_object_dotset_value(JSON_Object *object, const char *name, JSON_Value *value)
{
    // The whole path is checked before the walk creates objects on the way.
    if (!value || !name || !is_valid_utf8(name, strlen(name)))
        return JSONFailure;
    for (const char *dot = strchr(name, '.'); dot; dot = strchr(name, '.')) {
        // The single-object operations take NUL-terminated names.
        TextPtr segment(copy_text({name, size_t(dot - name)}));
        object = segment ? object_member_or_new(object, segment.get()) : nullptr;
        if (!object)
            return JSONFailure;
        name = dot + 1;
    }
    return json_object_set_value(object, name, value);
}

JSON_Status json_object_dotset_string(JSON_Object *object, const char *name, const char *string)
{
    return dotset_new_value(object, name, json_value_init_string(string));
}

JSON_Status json_object_dotset_number(JSON_Object *object, const char *name, double number)
{
    return dotset_new_value(object, name, json_value_init_number(number));
}

JSON_Status json_object_dotset_boolean(JSON_Object *object, const char *name, int boolean)
{
    return dotset_new_value(object, name, json_value_init_boolean(boolean));
}

JSON_Status json_object_dotset_null(JSON_Object *object, const char *name)
{
    return dotset_new_value(object, name, json_value_init_null());
}

JSON_Status json_object_dotremove(JSON_Object *object, const char *name)
{
    if (!name)
        return JSONFailure;
    JSON_Object *parent = parent_of_last_segment(object, &name);
    return json_object_remove(parent, name);
}
