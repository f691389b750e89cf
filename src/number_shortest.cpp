// The shortest digits of a double: Schubfach (R. Giulietti, "The Schubfach
// way to render doubles", 2020). Three products with a 126-bit power of ten
// place the value and the ends of its reading-back interval on the scale of
// its last digit; a few comparisons then pick the shortest decimal inside and
// the closest of those. No digit loop, and no case that needs another method.
#include "number_shortest.h"

#include "wide_multiply.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr int SIGNIFICAND_BITS = 52;
constexpr uint64_t HIDDEN_BIT = uint64_t(1) << SIGNIFICAND_BITS;
constexpr int EXPONENT_BIAS = 1023 + SIGNIFICAND_BITS;  // value = c * 2^(biased - bias)
constexpr int MIN_BINARY_EXPONENT = 1 - EXPONENT_BIAS;  // of the subnormals

// g = high * 2^63 + low = floor(10^-k * 2^(125 - floor(-k log2 10))) + 1: a
// power of ten a little above its true value, in [2^125, 2^126), at
// POWERS_OF_TEN[k - MIN_DECIMAL_EXPONENT].
struct PowerOfTen {
    uint64_t high;
    uint64_t low;
};

// The powers of ten, computed exactly by the generator, and the scales of the
// floors of logarithms below, which it proves exact for every exponent a
// double brings here.
#include "number_shortest_table.inc"

// Floors of logarithms as a product and a shift.
int floor_log10_pow2(int e)
{
    return (e * LOG10_2_SCALED) >> LOG_SHIFT;
}

int floor_log10_three_quarters_pow2(int e)
{
    return (e * LOG10_2_SCALED + LOG10_3_4_SCALED) >> LOG_SHIFT;
}

int floor_log2_pow10(int e)
{
    return (e * LOG2_10_SCALED) >> LOG_SHIFT;
}

// g * scaled / 2^127, rounded to odd: the upper bits, with the lowest one set
// when anything below was lost. That keeps every comparison below exact.
uint64_t scale_rounded_to_odd(const PowerOfTen &g, uint64_t scaled)
{
    constexpr uint64_t LOW_63 = (uint64_t(1) << 63) - 1;
    uint64_t low_part = multiply_64(g.low, scaled).high;
    Product128 high_part = multiply_64(g.high, scaled);
    uint64_t middle = (high_part.low >> 1) + low_part;
    uint64_t result = high_part.high + (middle >> 63);
    return result | (((middle & LOW_63) + LOW_63) >> 63);
}

// value = significand * 10^exponent.
struct Decimal {
    uint64_t significand;
    int exponent;
};

// The shortest decimal that reads back as c * 2^q, and of those the closest
// (the even one on a tie).
Decimal shortest_decimal(uint64_t c, int q)
{
    // An odd significand reads back only from inside its interval, an even one
    // from its ends too (ties round to even).
    uint64_t excluded = c & 1;
    // Four times the value and the interval's ends: v - 2^(q-1), v + 2^(q-1),
    // or v - 2^(q-2) below a power of two, where the gap below is half.
    uint64_t value4 = c << 2;
    uint64_t upper4 = value4 + 2;
    uint64_t lower4;
    int k;
    if (c != HIDDEN_BIT || q == MIN_BINARY_EXPONENT) {
        lower4 = value4 - 2;
        k = floor_log10_pow2(q);
    } else {
        lower4 = value4 - 1;
        k = floor_log10_three_quarters_pow2(q);
    }
    // On the scale of 10^k the interval is at most ten units wide and at
    // least one.
    int shift = q + floor_log2_pow10(-k) + 2;
    const PowerOfTen &g = POWERS_OF_TEN[k - MIN_DECIMAL_EXPONENT];
    uint64_t value = scale_rounded_to_odd(g, value4 << shift);
    uint64_t lower = scale_rounded_to_odd(g, lower4 << shift);
    uint64_t upper = scale_rounded_to_odd(g, upper4 << shift);

    // One digit fewer: at most one multiple of ten units fits the interval.
    uint64_t below = value >> 2;
    uint64_t tens_below = below / 10 * 10;
    uint64_t tens_above = tens_below + 10;
    bool tens_below_inside = lower + excluded <= tens_below << 2;
    bool tens_above_inside = (tens_above << 2) + excluded <= upper;
    if (tens_below_inside != tens_above_inside)
        return {tens_below_inside ? tens_below : tens_above, k};
    uint64_t above = below + 1;
    bool below_inside = lower + excluded <= below << 2;
    bool above_inside = (above << 2) + excluded <= upper;
    if (below_inside != above_inside)
        return {below_inside ? below : above, k};
    // Both inside: the closer one, the even one when the value lies midway.
    int64_t from_midpoint = int64_t(value - ((below + above) << 1));
    bool take_below = from_midpoint < 0 || (from_midpoint == 0 && (below & 1) == 0);
    return {take_below ? below : above, k};
}

// The eight decimal digits of `number` (below 10^8), leading zeros
// included: halves, then quarters, then single digits, split in all lanes of
// one word at once by multiplying with scaled reciprocals.
void write_eight_digits(uint32_t number, char *out)
{
    uint64_t halves = number / 10000 | uint64_t(number % 10000) << 32;
    uint64_t hundreds = (halves * 10486 >> 20) & 0x0000007F0000007FULL;  // x / 100 below 10^4
    uint64_t quarters = hundreds | (halves - hundreds * 100) << 16;
    uint64_t tens = (quarters * 103 >> 10) & 0x000F000F000F000FULL;  // x / 10 below 100
    uint64_t digits = (tens | (quarters - tens * 10) << 8) + 0x3030303030303030ULL;
    // The first digit is in the lowest byte.
    if constexpr (std::endian::native == std::endian::big)
        digits = __builtin_bswap64(digits);
    memcpy(out, &digits, sizeof digits);
}

// 10^0 to 10^19.
constexpr std::array<uint64_t, 20> WHOLE_POWERS_OF_TEN = [] {
    std::array<uint64_t, 20> powers{};
    uint64_t power = 1;
    for (uint64_t &entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

}  // namespace

// From the bit length b: (b * 1233) >> 12 is floor(b log10 2) for every b
// up to 64, so the guess is the count or one less. Setting the lowest bit
// changes no count and gives 0 the one digit it is written with.
int jsontree::detail::digit_count(uint64_t number)
{
    uint64_t odd = number | 1;
    int guess = ((64 - __builtin_clzll(odd)) * 1233) >> 12;
    return guess + 1 - (odd < WHOLE_POWERS_OF_TEN[guess]);
}

Digits jsontree::detail::shortest_digits(double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    uint64_t c = bits & (HIDDEN_BIT - 1);
    int biased = int(bits >> SIGNIFICAND_BITS) & 0x7FF;
    Decimal decimal = biased == 0 ? shortest_decimal(c, MIN_BINARY_EXPONENT)
                                  : shortest_decimal(c | HIDDEN_BIT, biased - EXPONENT_BIAS);
    while (decimal.significand % 10 == 0) {
        decimal.significand /= 10;
        decimal.exponent++;
    }
    Digits digits;
    digits.length = digit_count(decimal.significand);
    digits.exponent = decimal.exponent;
    // Below 10^17, ten times a 53-bit significand: one digit and two eights.
    constexpr uint32_t EIGHT_DIGITS = 100000000;
    uint64_t upper = decimal.significand / EIGHT_DIGITS;
    write_eight_digits(uint32_t(decimal.significand % EIGHT_DIGITS), digits.buffer + 16);
    write_eight_digits(uint32_t(upper % EIGHT_DIGITS), digits.buffer + 8);
    digits.buffer[7] = char('0' + upper / EIGHT_DIGITS);
    return digits;
}
