// Quoted strings of the text: found, checked and decoded.
#ifndef JSONTREE_PARSE_STRING_H
#define JSONTREE_PARSE_STRING_H

#include "parse_fault.h"
#include "value.h"

#include <string_view>

namespace jsontree::detail {

// Where escaped strings are decoded before they move to blocks of their
// exact size. Strings up to the inline size never touch the heap; a longer
// one makes one block that serves the rest of the parse.
class DecodeBuffer {
public:
    DecodeBuffer() = default;
    ~DecodeBuffer()
    {
        if (data_ != inline_data_)
            jsontree_free(data_);
    }
    DecodeBuffer(const DecodeBuffer &) = delete;
    DecodeBuffer &operator=(const DecodeBuffer &) = delete;

    // Room for `size` bytes; null when memory runs out.
    char *reserve(size_t size)
    {
        if (size <= capacity_)
            return data_;
        char *data = static_cast<char *>(jsontree_malloc(size));
        if (!data)
            return nullptr;
        if (data_ != inline_data_)
            jsontree_free(data_);
        data_ = data;
        capacity_ = size;
        return data_;
    }

    // Whether `content` was decoded here rather than left in the text.
    bool holds(std::string_view content) const { return content.data() == data_; }

private:
    static constexpr size_t INLINE_SIZE = 1024;
    char inline_data_[INLINE_SIZE];
    char *data_ = inline_data_;
    size_t capacity_ = INLINE_SIZE;
};

// The decoded content of the quoted string at the cursor, which moves past
// it; `end` is where the text's NUL stands. The content is a span of the text
// itself when it holds no escape, else of `decoded`, valid until its next
// use; a "\u0000" in it ends the text that every later reader sees. A span
// without data (even an empty content has some) for content JSON does not
// allow, described in `fault`.
std::string_view get_quoted_string(const char **string, const char *end, DecodeBuffer &decoded,
                                   ParseFault &fault);

}  // namespace jsontree::detail

#endif
