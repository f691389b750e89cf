// Shortest decimal digits of a double, by Grisu3 (Loitsch, "Printing
// floating-point numbers quickly and accurately with integers", PLDI 2010).
// Grisu3 proves its answer shortest and closest or declines, about once in
// two hundred numbers; the caller then falls back to the C library.
#include "internal.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// A floating-point number significand * 2^exponent with a 64-bit significand.
struct DiyFp {
    uint64_t significand;
    int exponent;
};

// The upper 64 bits of the 128-bit product, rounded.
DiyFp multiply(DiyFp a, DiyFp b)
{
    constexpr uint64_t LOW_32 = 0xFFFFFFFFu;
    uint64_t a_high = a.significand >> 32, a_low = a.significand & LOW_32;
    uint64_t b_high = b.significand >> 32, b_low = b.significand & LOW_32;
    uint64_t high_high = a_high * b_high, low_high = a_low * b_high;
    uint64_t high_low = a_high * b_low, low_low = a_low * b_low;
    uint64_t middle = (low_low >> 32) + (high_low & LOW_32) + (low_high & LOW_32);
    middle += 1u << 31;  // round
    return {high_high + (high_low >> 32) + (low_high >> 32) + (middle >> 32),
            a.exponent + b.exponent + 64};
}

DiyFp normalized(DiyFp value)
{
    while (!(value.significand & (uint64_t(1) << 63))) {
        value.significand <<= 1;
        value.exponent--;
    }
    return value;
}

constexpr int SIGNIFICAND_BITS = 52;
constexpr uint64_t HIDDEN_BIT = uint64_t(1) << SIGNIFICAND_BITS;
constexpr int EXPONENT_BIAS = 0x3FF + SIGNIFICAND_BITS;
constexpr int DENORMAL_EXPONENT = 1 - EXPONENT_BIAS;

// A positive finite double as significand * 2^exponent.
DiyFp decompose(double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    uint64_t fraction = bits & (HIDDEN_BIT - 1);
    int biased = int((bits >> SIGNIFICAND_BITS) & 0x7FF);
    if (biased == 0)
        return {fraction, DENORMAL_EXPONENT};
    return {fraction + HIDDEN_BIT, biased - EXPONENT_BIAS};
}

// The limits of the interval of reals that read back as `value`, with the
// upper one normalized and the lower one at the same exponent.
void boundaries(DiyFp value, DiyFp *lower, DiyFp *upper)
{
    *upper = normalized({(value.significand << 1) + 1, value.exponent - 1});
    // Just above a power of two the gap below is half the gap above.
    bool closer_below = value.significand == HIDDEN_BIT && value.exponent != DENORMAL_EXPONENT;
    *lower = closer_below ? DiyFp{(value.significand << 2) - 1, value.exponent - 2}
                          : DiyFp{(value.significand << 1) - 1, value.exponent - 1};
    lower->significand <<= lower->exponent - upper->exponent;
    lower->exponent = upper->exponent;
}

// 10^decimal_exponent as a normalized 64-bit significand, rounded to nearest,
// times 2^binary_exponent, for every eighth power from 10^-348 to 10^340.
// Computed exactly with rational arithmetic.
struct CachedPower {
    uint64_t significand;
    int16_t binary_exponent;
    int16_t decimal_exponent;
};

constexpr CachedPower CACHED_POWERS[] = {
    {0xFA8FD5A0081C0288ULL, -1220, -348},
    {0xBAAEE17FA23EBF76ULL, -1193, -340},
    {0x8B16FB203055AC76ULL, -1166, -332},
    {0xCF42894A5DCE35EAULL, -1140, -324},
    {0x9A6BB0AA55653B2DULL, -1113, -316},
    {0xE61ACF033D1A45DFULL, -1087, -308},
    {0xAB70FE17C79AC6CAULL, -1060, -300},
    {0xFF77B1FCBEBCDC4FULL, -1034, -292},
    {0xBE5691EF416BD60CULL, -1007, -284},
    {0x8DD01FAD907FFC3CULL, -980, -276},
    {0xD3515C2831559A83ULL, -954, -268},
    {0x9D71AC8FADA6C9B5ULL, -927, -260},
    {0xEA9C227723EE8BCBULL, -901, -252},
    {0xAECC49914078536DULL, -874, -244},
    {0x823C12795DB6CE57ULL, -847, -236},
    {0xC21094364DFB5637ULL, -821, -228},
    {0x9096EA6F3848984FULL, -794, -220},
    {0xD77485CB25823AC7ULL, -768, -212},
    {0xA086CFCD97BF97F4ULL, -741, -204},
    {0xEF340A98172AACE5ULL, -715, -196},
    {0xB23867FB2A35B28EULL, -688, -188},
    {0x84C8D4DFD2C63F3BULL, -661, -180},
    {0xC5DD44271AD3CDBAULL, -635, -172},
    {0x936B9FCEBB25C996ULL, -608, -164},
    {0xDBAC6C247D62A584ULL, -582, -156},
    {0xA3AB66580D5FDAF6ULL, -555, -148},
    {0xF3E2F893DEC3F126ULL, -529, -140},
    {0xB5B5ADA8AAFF80B8ULL, -502, -132},
    {0x87625F056C7C4A8BULL, -475, -124},
    {0xC9BCFF6034C13053ULL, -449, -116},
    {0x964E858C91BA2655ULL, -422, -108},
    {0xDFF9772470297EBDULL, -396, -100},
    {0xA6DFBD9FB8E5B88FULL, -369, -92},
    {0xF8A95FCF88747D94ULL, -343, -84},
    {0xB94470938FA89BCFULL, -316, -76},
    {0x8A08F0F8BF0F156BULL, -289, -68},
    {0xCDB02555653131B6ULL, -263, -60},
    {0x993FE2C6D07B7FACULL, -236, -52},
    {0xE45C10C42A2B3B06ULL, -210, -44},
    {0xAA242499697392D3ULL, -183, -36},
    {0xFD87B5F28300CA0EULL, -157, -28},
    {0xBCE5086492111AEBULL, -130, -20},
    {0x8CBCCC096F5088CCULL, -103, -12},
    {0xD1B71758E219652CULL, -77, -4},
    {0x9C40000000000000ULL, -50, 4},
    {0xE8D4A51000000000ULL, -24, 12},
    {0xAD78EBC5AC620000ULL, 3, 20},
    {0x813F3978F8940984ULL, 30, 28},
    {0xC097CE7BC90715B3ULL, 56, 36},
    {0x8F7E32CE7BEA5C70ULL, 83, 44},
    {0xD5D238A4ABE98068ULL, 109, 52},
    {0x9F4F2726179A2245ULL, 136, 60},
    {0xED63A231D4C4FB27ULL, 162, 68},
    {0xB0DE65388CC8ADA8ULL, 189, 76},
    {0x83C7088E1AAB65DBULL, 216, 84},
    {0xC45D1DF942711D9AULL, 242, 92},
    {0x924D692CA61BE758ULL, 269, 100},
    {0xDA01EE641A708DEAULL, 295, 108},
    {0xA26DA3999AEF774AULL, 322, 116},
    {0xF209787BB47D6B85ULL, 348, 124},
    {0xB454E4A179DD1877ULL, 375, 132},
    {0x865B86925B9BC5C2ULL, 402, 140},
    {0xC83553C5C8965D3DULL, 428, 148},
    {0x952AB45CFA97A0B3ULL, 455, 156},
    {0xDE469FBD99A05FE3ULL, 481, 164},
    {0xA59BC234DB398C25ULL, 508, 172},
    {0xF6C69A72A3989F5CULL, 534, 180},
    {0xB7DCBF5354E9BECEULL, 561, 188},
    {0x88FCF317F22241E2ULL, 588, 196},
    {0xCC20CE9BD35C78A5ULL, 614, 204},
    {0x98165AF37B2153DFULL, 641, 212},
    {0xE2A0B5DC971F303AULL, 667, 220},
    {0xA8D9D1535CE3B396ULL, 694, 228},
    {0xFB9B7CD9A4A7443CULL, 720, 236},
    {0xBB764C4CA7A44410ULL, 747, 244},
    {0x8BAB8EEFB6409C1AULL, 774, 252},
    {0xD01FEF10A657842CULL, 800, 260},
    {0x9B10A4E5E9913129ULL, 827, 268},
    {0xE7109BFBA19C0C9DULL, 853, 276},
    {0xAC2820D9623BF429ULL, 880, 284},
    {0x80444B5E7AA7CF85ULL, 907, 292},
    {0xBF21E44003ACDD2DULL, 933, 300},
    {0x8E679C2F5E44FF8FULL, 960, 308},
    {0xD433179D9C8CB841ULL, 986, 316},
    {0x9E19DB92B4E31BA9ULL, 1013, 324},
    {0xEB96BF6EBADF77D9ULL, 1039, 332},
    {0xAF87023B9BF0EE6BULL, 1066, 340},};
constexpr int FIRST_CACHED_DECIMAL_EXPONENT = -348;
constexpr int CACHED_DECIMAL_STEP = 8;

// Scaled values keep their binary exponent in this range, so the integral
// part fits 32 bits and the fraction keeps at least 32.
constexpr int MIN_TARGET_EXPONENT = -60;

// A cached power c with the exponent of value * c in the target range.
CachedPower cached_power_for(int binary_exponent)
{
    constexpr double LOG10_2 = 0.30102999566398114;
    int min_exponent = MIN_TARGET_EXPONENT - (binary_exponent + 64);
    int k = int(std::ceil((min_exponent + 63) * LOG10_2));
    int index = (k - FIRST_CACHED_DECIMAL_EXPONENT - 1) / CACHED_DECIMAL_STEP + 1;
    return CACHED_POWERS[index];
}

// Moves the last digit down while that brings the digits closer to the
// exact value and keeps them inside the safe interval; then tells whether
// the result is provably the closest shortest one.
bool round_weed(char *digits, int length, uint64_t distance_too_high_w, uint64_t unsafe_interval,
                uint64_t rest, uint64_t ten_kappa, uint64_t unit)
{
    uint64_t small_distance = distance_too_high_w - unit;
    uint64_t big_distance = distance_too_high_w + unit;
    while (rest < small_distance && unsafe_interval - rest >= ten_kappa &&
           (rest + ten_kappa < small_distance ||
            small_distance - rest >= rest + ten_kappa - small_distance)) {
        digits[length - 1]--;
        rest += ten_kappa;
    }
    if (rest < big_distance && unsafe_interval - rest >= ten_kappa &&
        (rest + ten_kappa < big_distance ||
         big_distance - rest > rest + ten_kappa - big_distance))
        return false;
    return 2 * unit <= rest && rest <= unsafe_interval - 4 * unit;
}

// Generates digits of `high` until they fall inside (low, high), all three
// scaled to the same exponent in the target range. `*kappa` receives the
// power of ten of the last digit.
bool generate_digits(DiyFp low, DiyFp w, DiyFp high, char *digits, int *length, int *kappa)
{
    uint64_t unit = 1;
    DiyFp too_low = {low.significand - unit, low.exponent};
    DiyFp too_high = {high.significand + unit, high.exponent};
    uint64_t unsafe_interval = too_high.significand - too_low.significand;
    const int shift = -w.exponent;
    const uint64_t one = uint64_t(1) << shift;
    uint32_t integrals = uint32_t(too_high.significand >> shift);
    uint64_t fractionals = too_high.significand & (one - 1);

    uint32_t divisor = 1;
    *kappa = 1;
    while (*kappa < 10 && integrals / divisor >= 10) {
        divisor *= 10;
        ++*kappa;
    }
    *length = 0;
    while (*kappa > 0) {
        digits[(*length)++] = char('0' + integrals / divisor);
        integrals %= divisor;
        --*kappa;
        uint64_t rest = (uint64_t(integrals) << shift) + fractionals;
        if (rest < unsafe_interval)
            return round_weed(digits, *length, too_high.significand - w.significand,
                              unsafe_interval, rest, uint64_t(divisor) << shift, unit);
        divisor /= 10;
    }
    for (;;) {
        fractionals *= 10;
        unit *= 10;
        unsafe_interval *= 10;
        digits[(*length)++] = char('0' + (fractionals >> shift));
        fractionals &= one - 1;
        --*kappa;
        if (fractionals < unsafe_interval)
            return round_weed(digits, *length, (too_high.significand - w.significand) * unit,
                              unsafe_interval, fractionals, one, unit);
    }
}

}  // namespace

bool shortest_digits(double value, char *digits, int *length, int *exponent)
{
    if (!(value > 0) || !std::isfinite(value))
        return false;
    DiyFp exact = decompose(value);
    DiyFp lower, upper;
    boundaries(exact, &lower, &upper);
    DiyFp w = normalized(exact);
    CachedPower power = cached_power_for(w.exponent);
    DiyFp scale = {power.significand, power.binary_exponent};
    int kappa = 0;
    if (!generate_digits(multiply(lower, scale), multiply(w, scale), multiply(upper, scale),
                         digits, length, &kappa))
        return false;
    *exponent = kappa - power.decimal_exponent;
    while (*length > 1 && digits[*length - 1] == '0') {
        --*length;
        ++*exponent;
    }
    return true;
}
