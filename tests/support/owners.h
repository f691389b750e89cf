// Owners of what the library hands out, so every early return of a test
// releases it.
#ifndef TESTS_OWNERS_H
#define TESTS_OWNERS_H

#include "jsontree.h"

#include <memory>

struct ValueRelease {
    void operator()(JSON_Value *value) const { json_value_free(value); }
};
using ValuePtr = std::unique_ptr<JSON_Value, ValueRelease>;

struct SerializedRelease {
    void operator()(char *text) const { json_free_serialized_string(text); }
};
using TextPtr = std::unique_ptr<char, SerializedRelease>;

struct FileClose {
    void operator()(JSON_File *file) const { json_file_close(file); }
};
using HeldFile = std::unique_ptr<JSON_File, FileClose>;

#endif
