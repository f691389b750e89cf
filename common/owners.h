// Owners of what the public interface hands out, so that every way out of a
// function releases it: one set for the library's modules, the tool and the
// tests. Built on the public interface alone, so the tool can include it
// without seeing a private header; not installed.
#ifndef JSONTREE_COMMON_OWNERS_H
#define JSONTREE_COMMON_OWNERS_H

#include "jsontree.h"

#include <cstdlib>
#include <memory>
#include <type_traits>

// A unique_ptr that hands what it holds to `release`. The deleter is the
// function as a constant: it has no state and no code of its own, so a
// library build defines no symbol for it.
template <typename T, auto release>
using Owner = std::unique_ptr<T, std::integral_constant<decltype(release), release>>;

using ValuePtr = Owner<JSON_Value, json_value_free>;
// json_free_serialized_string releases a block through the allocation hooks,
// so this also owns the library's own text blocks.
using TextPtr = Owner<char, json_free_serialized_string>;
using HeldFile = Owner<JSON_File, json_file_close>;

// Text from the C library (malloc, strdup, strndup).
inline void free_c_text(char *text)
{
    std::free(text);
}
using CString = Owner<char, free_c_text>;

#endif
