// Arbitrary bytes through the strict parser: it must never crash, leak or
// accept a document it cannot serialize back. Its reporting form must agree
// with it and name a place within the text and a reason for every refusal,
// and so must the buffer form, which reads the bytes where they lie.
#include "jsontree.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Numbers past the range of a double parse as infinities, which have no
// text; nothing else may stop a parsed document from being written.
bool holds_infinity(const JSON_Value *value)
{
    if (json_type(value) == JSONNumber)
        return !std::isfinite(json_number(value));
    const JSON_Object *object = json_object(value);
    for (size_t i = 0; i < json_object_get_count(object); i++) {
        if (holds_infinity(json_object_get_value(object, json_object_get_name(object, i))))
            return true;
    }
    const JSON_Array *array = json_array(value);
    for (size_t i = 0; i < json_array_get_count(array); i++) {
        if (holds_infinity(json_array_get_value(array, i)))
            return true;
    }
    return false;
}

// The text must come out whole, exactly as long as measured.
void check_serializes(const JSON_Value *root)
{
    const size_t size = json_serialization_size(root);
    char *text = json_serialize_to_string(root);
    if (!text || strlen(text) + 1 != size)
        abort();
    json_free_serialized_string(text);
}

void check_report(const std::string &text, const JSON_Value *root)
{
    JSON_Error error;
    JSON_Value *reported = json_parse_string_report(text.c_str(), &error);
    bool refused = !reported;
    json_value_free(reported);
    if (refused != !root || refused != (error.reason[0] != '\0') ||
        error.offset > strlen(text.c_str()) || (refused && (error.line == 0 || error.column == 0)))
        abort();
}

// libFuzzer's bytes end where its block does, so a read past them faults.
// Without a NUL among them they are the same document; with one, they are
// refused at the first.
void check_buffer(const uint8_t *data, size_t size, const JSON_Value *root)
{
    JSON_Error error;
    JSON_Value *parsed =
        json_parse_buffer_report(reinterpret_cast<const char *>(data), size, &error);
    const void *nul = memchr(data, 0, size);
    bool agrees = nul ? !parsed && error.offset == size_t(static_cast<const uint8_t *>(nul) - data)
                      : !parsed == !root &&
                            (!root || holds_infinity(root) || json_value_equals(parsed, root) == 1);
    json_value_free(parsed);
    if (!agrees)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    JSON_Value *root = json_parse_string(text.c_str());
    check_report(text, root);
    check_buffer(data, size, root);
    if (root && !holds_infinity(root))
        check_serializes(root);
    json_value_free(root);
    return 0;
}
