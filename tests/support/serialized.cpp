#include "serialized.h"

std::string text_of(const JSON_Value *value, bool pretty)
{
    char *text = pretty ? json_serialize_to_string_pretty(value) : json_serialize_to_string(value);
    std::string result = text ? text : "<null>";
    json_free_serialized_string(text);
    return result;
}
