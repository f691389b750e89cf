// Records, hooks and helpers shared by the library's modules. Nothing here is
// part of the public interface: every declaration is hidden from the shared
// library's symbol table.
#ifndef JSONTREE_INTERNAL_H
#define JSONTREE_INTERNAL_H

#include "jsontree.h"

#include <cstddef>
#include <memory>

typedef union json_value_value {
    char *string;
    double number;
    JSON_Object *object;
    JSON_Array *array;
    int boolean;
    int null;
} JSON_Value_Value;

struct json_value_t {
    JSON_Value_Type type;
    JSON_Value_Value value;
};

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

// Capacity limits: growth that would pass them is refused, never clamped.
constexpr size_t OBJECT_MAX_CAPACITY = 960;
constexpr size_t ARRAY_MAX_CAPACITY = 122880;
// Deepest value the parser accepts; a value at depth MAX_NESTING + 1 fails.
constexpr size_t MAX_NESTING = 19;

// Functions and globals below are hidden from the shared library.
#pragma GCC visibility push(hidden)

extern JSON_Malloc_Function jsontree_malloc;
extern JSON_Free_Function jsontree_free;

// Owners that release through the hooks, so every early return cleans up.
struct ValueDeleter {
    void operator()(JSON_Value *value) const { json_value_free(value); }
};
using ValuePtr = std::unique_ptr<JSON_Value, ValueDeleter>;

struct BlockDeleter {
    void operator()(void *block) const { jsontree_free(block); }
};
using TextPtr = std::unique_ptr<char, BlockDeleter>;

// ---- value.cpp
char *jsontree_strndup(const char *string, size_t n);
char *jsontree_strdup(const char *string);
JSON_Value *json_value_init_string_no_copy(char *string);
// A string value owning `string` (null gives null); `string` is released
// when the value cannot be made.
JSON_Value *json_value_adopt_string(char *string);
JSON_Object *json_object_init();
JSON_Array *json_array_init();
int is_valid_utf8(const char *string, size_t string_len);
int verify_utf8_sequence(const unsigned char *string, int *len);
int num_bytes_in_utf8_sequence(unsigned char c);

// ---- container.cpp
JSON_Status json_object_resize(JSON_Object *object, size_t new_capacity);
JSON_Status json_array_resize(JSON_Array *array, size_t new_capacity);
JSON_Status json_object_add(JSON_Object *object, const char *name, JSON_Value *value);
JSON_Status json_array_add(JSON_Array *array, JSON_Value *value);
JSON_Value *json_object_nget_value(const JSON_Object *object, const char *name, size_t n);

// ---- tree.cpp
// `target` is `tree` or lies inside it, or `tree` is too deep to tell.
bool may_hold(const JSON_Value *tree, const JSON_Value *target);

// ---- number_text.cpp
// The double strtod gives for the number at `text`, and where it stops
// reading (`*end`), with exact shortcuts for the common forms.
double read_number(const char *text, const char **end);
// The shortest digits that read back as `value` (positive, finite), and the
// power of ten of the last one: value ~ digits * 10^exponent. At most 17
// digits, no trailing zero. False when no proof of shortness was found.
bool shortest_digits(double value, char *digits, int *length, int *exponent);

// ---- file_io.cpp
// The whole regular file `filename` as NUL-terminated text; null on failure.
char *read_file(const char *filename);
// Makes `text` the content of `filename`, readers seeing the old or the new
// file, never a part.
JSON_Status replace_file(const char *filename, const char *text);

#pragma GCC visibility pop

#endif
