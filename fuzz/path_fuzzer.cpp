// Fuzzed dotted paths and values against a fixed document: every successful
// store must read back, removals must make the value unreachable, and the
// tree must still serialize to text that parses back to an equal tree.
#include "jsontree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char DOCUMENT[] =
    R"({"a":{"b":{"c":1},"":{"x":[1,2]},"s":"text"},"n":null,"list":[{"k":true}],"":{"":0}})";

// Input layout: operation byte, then a path and a value text separated by NUL.
void run_operation(JSON_Object *root, uint8_t operation, const char *path, const char *value_text)
{
    switch (operation % 4) {
    case 0: {
        JSON_Value *value = json_parse_string(value_text);
        if (!value)
            value = json_value_init_string(value_text);
        if (!value)
            return;
        if (json_object_dotset_value(root, path, value) != JSONSuccess) {
            json_value_free(value);
        } else if (json_object_dotget_value(root, path) != value) {
            abort();
        }
        break;
    }
    case 1: {
        double number = double(strlen(value_text)) / 7.0;
        if (json_object_dotset_number(root, path, number) == JSONSuccess &&
            json_object_dotget_number(root, path) != number)
            abort();
        break;
    }
    case 2:
        // Names are unique, so a removed member cannot answer again.
        if (json_object_dotremove(root, path) == JSONSuccess &&
            json_object_dotget_value(root, path))
            abort();
        break;
    default:
        json_object_dotget_value(root, path);
        json_object_dotget_string(root, path);
        json_object_dotget_boolean(root, path);
        break;
    }
}

// Dotted stores may nest deeper than the parser reads back; only trees it
// can read are held to the round trip.
size_t depth_of(const JSON_Value *value)
{
    size_t deepest = 0;
    const JSON_Object *object = json_object(value);
    for (size_t i = 0; i < json_object_get_count(object); i++) {
        size_t depth = 1 + depth_of(json_object_get_value(object, json_object_get_name(object, i)));
        deepest = depth > deepest ? depth : deepest;
    }
    const JSON_Array *array = json_array(value);
    for (size_t i = 0; i < json_array_get_count(array); i++) {
        size_t depth = 1 + depth_of(json_array_get_value(array, i));
        deepest = depth > deepest ? depth : deepest;
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t split = rest.find('\0');
    std::string path = rest.substr(0, split);
    std::string value = split == std::string::npos ? std::string() : rest.substr(split + 1);

    JSON_Value *root = json_parse_string(DOCUMENT);
    if (!root)
        abort();
    run_operation(json_object(root), data[0], path.c_str(), value.c_str());
    run_operation(json_object(root), uint8_t(data[0] >> 2), path.c_str(), value.c_str());
    // A stored 1e400 has no text, so a refusal is fine; a wrong text is not.
    char *text =
        depth_of(root) <= JSON_MAX_NESTING ? json_serialize_to_string_pretty(root) : nullptr;
    if (text) {
        JSON_Value *again = json_parse_string(text);
        if (!again || json_value_equals(root, again) != 1)
            abort();
        json_value_free(again);
        json_free_serialized_string(text);
    }
    json_value_free(root);
    return 0;
}
