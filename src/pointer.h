// Pointer texts read as reference tokens, and the steps a change by pointer
// takes at the token that ends it, for every module that addresses values by
// pointer.
#ifndef JSONTREE_POINTER_H
#define JSONTREE_POINTER_H

#include "value.h"

#include <string_view>

namespace jsontree::detail {

// The bytes of `text` from `start` to `end`, within it: substr would check
// that, and its throw would bring in the C++ run-time library.
constexpr std::string_view span(std::string_view text, size_t start, size_t end)
{
    return {text.data() + start, end - start};
}

// Whether `text` is a pointer: empty (the root itself), or tokens each
// opened by a slash, in which every "~" is followed by "0" (standing for
// "~") or "1" (standing for "/"). Callers check the whole text first, so that
// no walk starts on a text it cannot finish reading.
bool is_pointer(std::string_view text);

// The tokens of a pointer is_pointer accepted, in order, escapes kept.
class ReferenceTokens {
public:
    explicit ReferenceTokens(std::string_view pointer) : pointer_(pointer) {}

    class iterator {
    public:
        explicit iterator(std::string_view rest) : rest_(rest) {}
        std::string_view operator*() const;
        iterator &operator++();
        bool operator!=(const iterator &other) const { return rest_.data() != other.rest_.data(); }

    private:
        std::string_view rest_;  // from the slash that opens the current token
    };

    iterator begin() const { return iterator(pointer_); }
    iterator end() const { return iterator(span(pointer_, pointer_.size(), pointer_.size())); }

private:
    std::string_view pointer_;
};

// Splits a pointer is_pointer accepted into the pointer to the container
// and the last token; false for the root, which has neither.
bool split_last_token(std::string_view pointer, std::string_view &parent, std::string_view &last);

// The token decoded ("~1" to "/", "~0" to "~"), NUL-ended, in a block from
// the hooks; null when memory runs out.
char *decode_token(std::string_view token);

// The index an array token names: "0", or digits without a leading zero.
// False for anything else, "-" included.
bool token_index(std::string_view token, size_t &index);

// The member or item of `container` that `token` names; null when there is
// none, "-" included, or `container` holds neither.
JSON_Value *child_at(const JSON_Value *container, std::string_view token);

// The value a pointer is_pointer accepted leads to from `root`, or null.
JSON_Value *resolve_pointer(const JSON_Value *root, std::string_view pointer);

// Stores `value` at `token` of `container`: an object's member of that name
// takes it (added last when missing), an array takes it in at the index
// (up to the count; "-" appends), moving the items from there up by one.
// On success the value is the container's; on failure (no such place, a
// full container, a cycle, memory) it stays the caller's.
bool add_at(JSON_Value *container, std::string_view token, JSON_Value *value);

// Takes the member or item `token` names out of `container`, the others
// keeping their order, and hands it to the caller; null when there is none.
JSON_Value *detach_at(JSON_Value *container, std::string_view token);

}  // namespace jsontree::detail

#endif
