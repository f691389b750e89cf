// The 128-bit product of two 64-bit numbers, which reading and writing
// numbers both build on.
#ifndef JSONTREE_WIDE_MULTIPLY_H
#define JSONTREE_WIDE_MULTIPLY_H

#include <cstdint>

namespace jsontree::detail {

struct Product128 {
    uint64_t high;
    uint64_t low;
};

// Where the compiler has no 128-bit type (32-bit ARM), four 32-bit products.
constexpr Product128 multiply_64(uint64_t a, uint64_t b)
{
#ifdef __SIZEOF_INT128__
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return {uint64_t(product >> 64), uint64_t(product)};
#else
    constexpr uint64_t LOW_32 = 0xFFFFFFFFu;
    uint64_t a_high = a >> 32, a_low = a & LOW_32, b_high = b >> 32, b_low = b & LOW_32;
    uint64_t low_low = a_low * b_low, low_high = a_low * b_high;
    uint64_t high_low = a_high * b_low, high_high = a_high * b_high;
    uint64_t middle = (low_low >> 32) + (low_high & LOW_32) + (high_low & LOW_32);
    return {high_high + (low_high >> 32) + (high_low >> 32) + (middle >> 32),
            (middle << 32) | (low_low & LOW_32)};
#endif
}

}  // namespace jsontree::detail

#endif
