// Texts the parser and container tests build: member names, nested
// containers, objects and arrays of a given size, and texts held in a block of
// exactly their length.
#ifndef JSONTREE_TESTS_PARSE_TEXTS_H
#define JSONTREE_TESTS_PARSE_TEXTS_H

#include "owners.h"

#include <cstring>
#include <memory>
#include <string>

inline ValuePtr parse(const std::string &text)
{
    return ValuePtr(json_parse_string(text.c_str()));
}

// The name of the i-th member in the tests' filled objects: "m0", "m1", ...
inline std::string member_name(size_t i)
{
    // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "m" + std::string.
    return std::string("m").append(std::to_string(i));
}

// `containers` nested containers cycling through `kinds` from the outside in
// ('[' an array, '{' an object with the member "k"); the innermost holds
// `inner`, or nothing when `inner` is empty.
inline std::string nested(size_t containers, const std::string &kinds, const std::string &inner)
{
    std::string open, close;
    for (size_t i = 0; i < containers; i++) {
        bool array = kinds[i % kinds.size()] == '[';
        bool holds_value = i + 1 < containers || !inner.empty();
        open += array ? "[" : (holds_value ? "{\"k\":" : "{");
        // Not close.insert(0, ...): GCC 12 at -O3 warns falsely (-Wrestrict) on it.
        close = (array ? "]" : "}") + close;
    }
    return open + inner + close;
}

inline std::string object_text(size_t members)
{
    std::string text = "{";
    for (size_t i = 0; i < members; i++)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
    return text + "}";
}

inline std::string array_text(size_t items)
{
    std::string text = "[";
    for (size_t i = 0; i < items; i++)
        text += i ? ",0" : "0";
    return text + "]";
}

// The text in a block of exactly its length, with no NUL after it: the
// sanitizer build faults a read past it.
inline std::unique_ptr<char[]> exact_copy(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size()]);
    memcpy(copy.get(), text.data(), text.size());
    return copy;
}

#endif
