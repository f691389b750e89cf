// The records behind the public interface's opaque types, the allocation
// hooks and the owners every module releases through. Nothing here is part
// of the public interface.
#ifndef JSONTREE_VALUE_H
#define JSONTREE_VALUE_H

#include "jsontree.h"
#include "owners.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// The records keep the names the public header gives their opaque types.
struct json_value_t {
    union Payload {
        char *string;
        double number;
        JSON_Object *object;
        JSON_Array *array;
        int boolean;
    };

    JSON_Value_Type type;
    union {
        // A number whose literal no double holds keeps that literal,
        // NUL-ended, in the same block right after the record
        // (json_value_get_number_text).
        bool keeps_text;
        // A string's bytes, a NUL decoded from "\u0000" and what follows it
        // included; 32 bits, so the record stays within 16 bytes.
        uint32_t string_length;
    };
    Payload value;
};
static_assert(sizeof(json_value_t) <= 16, "a value record grew");

struct json_object_t {
    char **names;
    JSON_Value **values;
    size_t count;
    size_t capacity;
};

struct json_array_t {
    JSON_Value **items;
    size_t count;
    size_t capacity;
};

namespace jsontree::detail {

// Every block the library holds comes from these (json_set_allocation_functions).
extern JSON_Malloc_Function jsontree_malloc;
extern JSON_Free_Function jsontree_free;

// Whether `value` is there and of `type`: a missing value is of no type,
// not even JSONError.
inline bool is_of_type(const JSON_Value *value, JSON_Value_Type type)
{
    return value && value->type == type;
}

// Whether a string value can hold `length` bytes: under 4 GiB.
inline bool fits_string_length(size_t length)
{
    return length == uint32_t(length);
}

// A NUL-terminated copy of `content`, NULs in it included, in a block of
// its exact size; null when memory runs out. The one way the library copies
// text.
char *copy_text(std::string_view content);

// A string value holding a copy of `content`, NULs included; null when
// memory runs out or `content` does not fit a string value.
JSON_Value *new_string_copy(std::string_view content);

// A number value holding `number` that also keeps `literal`, the text it was
// read from, for a number the double does not hold; one block for both.
JSON_Value *new_number_with_literal(double number, std::string_view literal);

// The length of the UTF-8 sequence a lead byte opens; 0 for a byte that
// opens none.
int num_bytes_in_utf8_sequence(unsigned char c);

// Whether the `string_len` bytes are valid UTF-8: no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool is_valid_utf8(const char *string, size_t string_len);
// How many of the `string_len` bytes, from the first, are valid UTF-8.
size_t valid_utf8_length(const char *string, size_t string_len);

}  // namespace jsontree::detail

#endif
