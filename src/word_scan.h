// Scanning text eight bytes at a time, for the parser's hot loops.
#ifndef JSONTREE_WORD_SCAN_H
#define JSONTREE_WORD_SCAN_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jsontree::detail {

inline unsigned char byte_at(const char *position)
{
    return static_cast<unsigned char>(*position);
}

// ---- Word-at-a-time scanning

// Eight bytes per step wherever the whole word lies inside the text (loaded
// with memcpy: no alignment or aliasing assumption); the last few bytes go
// one at a time and stop at the text's NUL. A lane is one byte of a word; on
// a little-endian machine the lowest lane comes first in the text, elsewhere
// only the byte loops run.
constexpr bool WORD_SCAN = std::endian::native == std::endian::little;
constexpr uint64_t LOW_BITS = 0x0101010101010101ULL;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ULL;

inline uint64_t load_word(const char *position)
{
    uint64_t word;
    memcpy(&word, position, sizeof word);
    return word;
}

// The high bit of each lane below `bound` (at most 0x80). A borrow may mark
// lanes after the first marked one wrongly, never the first itself.
constexpr uint64_t lanes_below(uint64_t word, unsigned char bound)
{
    return (word - LOW_BITS * bound) & ~word & HIGH_BITS;
}

constexpr uint64_t lanes_equal(uint64_t word, unsigned char byte)
{
    return lanes_below(word ^ (LOW_BITS * byte), 1);
}

// Offset of the first lane set in a non-zero word.
inline size_t first_lane(uint64_t lanes)
{
    return size_t(std::countr_zero(lanes)) / 8;
}

}  // namespace jsontree::detail

#endif
