// Members by index, so that a caller walks an object as it walks an array,
// without a lookup by name for each member. Apart from container.cpp, which
// the tool links, since the tool never walks by index.
#include "value.h"

JSON_Value *json_object_get_value_at(const JSON_Object *object, size_t index)
{
    if (!object || index >= object->count)
        return nullptr;
    return object->values[index];
}
