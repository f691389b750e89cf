#include "serialized.h"

std::string text_of(const JSON_Value *value, bool pretty)
{
    char *text = pretty ? json_serialize_to_string_pretty(value) : json_serialize_to_string(value);
    std::string result = text ? text : "<null>";
    json_free_serialized_string(text);
    return result;
}

ValuePtr value_of(const std::string &text)
{
    ValuePtr wrapped(json_parse_string(("[" + text + "]").c_str()));
    return ValuePtr(json_value_deep_copy(json_array_get_value(json_array(wrapped.get()), 0)));
}
