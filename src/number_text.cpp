// Number texts, both ways, exactly as the C library reads them and as
// shortly as they can be written: reading takes shortcuts around strtod
// that give its very double, writing finds the shortest digits that read
// back.
#include "internal.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <array>
#include <cstring>
#include <iterator>

namespace {

// ---- Reading

// A plain decimal number as written: sign, significant digits and the power
// of ten that scales them.
struct DecimalText {
    bool negative = false;
    uint64_t significand = 0;
    int digits = 0;    // significant digits, leading zeros aside
    int exponent = 0;  // value = significand * 10^exponent
    const char *end = nullptr;
};

constexpr int MAX_SIGNIFICAND_DIGITS = 19;  // below 2^64
constexpr int MAX_WRITTEN_EXPONENT = 9999;
constexpr size_t MAX_SCANNED_DIGITS = 9999;  // zeros included; more go to strtod

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at `cursor` into the significand, each one lowering
// the exponent by `scale_per_digit` (1 in a fraction); false past 19
// significant digits.
bool scan_digits(const char **cursor, DecimalText *number, int scale_per_digit)
{
    const char *digit = *cursor;
    if (number->digits == 0) {  // leading zeros are not significant
        while (*digit == '0')
            digit++;
    }
    uint64_t significand = number->significand;
    const char *first = digit;
    for (; is_digit(*digit); digit++)
        significand = significand * 10 + uint64_t(*digit - '0');
    size_t added = size_t(digit - first);
    size_t scanned = size_t(digit - *cursor);
    if (added > size_t(MAX_SIGNIFICAND_DIGITS - number->digits) || scanned > MAX_SCANNED_DIGITS)
        return false;
    number->digits += int(added);
    number->significand = significand;
    number->exponent -= scale_per_digit * int(scanned);
    *cursor = digit;
    return true;
}

// Scans sign, digits, fraction and exponent exactly as far as strtod reads
// them. Forms strtod reads differently or that need more than 19 digits
// (hexadecimal, inf and nan, a leading ".") are left to strtod: false.
bool scan_decimal(const char *text, DecimalText *number)
{
    const char *cursor = text;
    number->negative = *cursor == '-';
    if (number->negative)
        cursor++;
    if (!is_digit(*cursor) || !scan_digits(&cursor, number, 0))
        return false;
    if (*cursor == 'x' || *cursor == 'X')
        return false;
    if (*cursor == '.') {
        cursor++;
        if (!scan_digits(&cursor, number, 1))
            return false;
    }
    if (*cursor == 'e' || *cursor == 'E') {
        // strtod takes the exponent only when a digit follows its sign.
        const char *exponent_text = cursor + 1;
        bool exponent_negative = *exponent_text == '-';
        if (*exponent_text == '-' || *exponent_text == '+')
            exponent_text++;
        if (is_digit(*exponent_text)) {
            int written = 0;
            for (; is_digit(*exponent_text); exponent_text++) {
                if (written > MAX_WRITTEN_EXPONENT)
                    return false;
                written = written * 10 + (*exponent_text - '0');
            }
            number->exponent += exponent_negative ? -written : written;
            cursor = exponent_text;
        }
    }
    number->end = cursor;
    return true;
}

// Clinger's fast path: at most 15 digits (below 2^53) scaled by an exact
// power of ten up to 10^22 take one correctly rounded operation.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool exact_by_one_operation(const DecimalText &number, double *magnitude)
{
    if (number.digits > 15 || number.exponent < -22 || number.exponent > 22)
        return false;
    double significand = double(number.significand);
    *magnitude = number.exponent < 0 ? significand / EXACT_POWERS_OF_TEN[-number.exponent]
                                     : significand * EXACT_POWERS_OF_TEN[number.exponent];
    return true;
}

// 5^q for q from -64 to 64 as a 128-bit significand (floor, top bit set)
// times 2^binary_exponent. Computed exactly with rational arithmetic.
struct PowerOfFive {
    uint64_t high;
    uint64_t low;
    int binary_exponent;
};

constexpr int FIRST_POWER_OF_FIVE = -64;
constexpr PowerOfFive POWERS_OF_FIVE[] = {
    {0xA87FEA27A539E9A5ULL, 0x3F2398D747B36224ULL, -276},  // 5^-64
    {0xD29FE4B18E88640EULL, 0x8EEC7F0D19A03AADULL, -274},  // 5^-63
    {0x83A3EEEEF9153E89ULL, 0x1953CF68300424ACULL, -271},  // 5^-62
    {0xA48CEAAAB75A8E2BULL, 0x5FA8C3423C052DD7ULL, -269},  // 5^-61
    {0xCDB02555653131B6ULL, 0x3792F412CB06794DULL, -267},  // 5^-60
    {0x808E17555F3EBF11ULL, 0xE2BBD88BBEE40BD0ULL, -264},  // 5^-59
    {0xA0B19D2AB70E6ED6ULL, 0x5B6ACEAEAE9D0EC4ULL, -262},  // 5^-58
    {0xC8DE047564D20A8BULL, 0xF245825A5A445275ULL, -260},  // 5^-57
    {0xFB158592BE068D2EULL, 0xEED6E2F0F0D56712ULL, -258},  // 5^-56
    {0x9CED737BB6C4183DULL, 0x55464DD69685606BULL, -255},  // 5^-55
    {0xC428D05AA4751E4CULL, 0xAA97E14C3C26B886ULL, -253},  // 5^-54
    {0xF53304714D9265DFULL, 0xD53DD99F4B3066A8ULL, -251},  // 5^-53
    {0x993FE2C6D07B7FABULL, 0xE546A8038EFE4029ULL, -248},  // 5^-52
    {0xBF8FDB78849A5F96ULL, 0xDE98520472BDD033ULL, -246},  // 5^-51
    {0xEF73D256A5C0F77CULL, 0x963E66858F6D4440ULL, -244},  // 5^-50
    {0x95A8637627989AADULL, 0xDDE7001379A44AA8ULL, -241},  // 5^-49
    {0xBB127C53B17EC159ULL, 0x5560C018580D5D52ULL, -239},  // 5^-48
    {0xE9D71B689DDE71AFULL, 0xAAB8F01E6E10B4A6ULL, -237},  // 5^-47
    {0x9226712162AB070DULL, 0xCAB3961304CA70E8ULL, -234},  // 5^-46
    {0xB6B00D69BB55C8D1ULL, 0x3D607B97C5FD0D22ULL, -232},  // 5^-45
    {0xE45C10C42A2B3B05ULL, 0x8CB89A7DB77C506AULL, -230},  // 5^-44
    {0x8EB98A7A9A5B04E3ULL, 0x77F3608E92ADB242ULL, -227},  // 5^-43
    {0xB267ED1940F1C61CULL, 0x55F038B237591ED3ULL, -225},  // 5^-42
    {0xDF01E85F912E37A3ULL, 0x6B6C46DEC52F6688ULL, -223},  // 5^-41
    {0x8B61313BBABCE2C6ULL, 0x2323AC4B3B3DA015ULL, -220},  // 5^-40
    {0xAE397D8AA96C1B77ULL, 0xABEC975E0A0D081AULL, -218},  // 5^-39
    {0xD9C7DCED53C72255ULL, 0x96E7BD358C904A21ULL, -216},  // 5^-38
    {0x881CEA14545C7575ULL, 0x7E50D64177DA2E54ULL, -213},  // 5^-37
    {0xAA242499697392D2ULL, 0xDDE50BD1D5D0B9E9ULL, -211},  // 5^-36
    {0xD4AD2DBFC3D07787ULL, 0x955E4EC64B44E864ULL, -209},  // 5^-35
    {0x84EC3C97DA624AB4ULL, 0xBD5AF13BEF0B113EULL, -206},  // 5^-34
    {0xA6274BBDD0FADD61ULL, 0xECB1AD8AEACDD58EULL, -204},  // 5^-33
    {0xCFB11EAD453994BAULL, 0x67DE18EDA5814AF2ULL, -202},  // 5^-32
    {0x81CEB32C4B43FCF4ULL, 0x80EACF948770CED7ULL, -199},  // 5^-31
    {0xA2425FF75E14FC31ULL, 0xA1258379A94D028DULL, -197},  // 5^-30
    {0xCAD2F7F5359A3B3EULL, 0x096EE45813A04330ULL, -195},  // 5^-29
    {0xFD87B5F28300CA0DULL, 0x8BCA9D6E188853FCULL, -193},  // 5^-28
    {0x9E74D1B791E07E48ULL, 0x775EA264CF55347DULL, -190},  // 5^-27
    {0xC612062576589DDAULL, 0x95364AFE032A819DULL, -188},  // 5^-26
    {0xF79687AED3EEC551ULL, 0x3A83DDBD83F52204ULL, -186},  // 5^-25
    {0x9ABE14CD44753B52ULL, 0xC4926A9672793542ULL, -183},  // 5^-24
    {0xC16D9A0095928A27ULL, 0x75B7053C0F178293ULL, -181},  // 5^-23
    {0xF1C90080BAF72CB1ULL, 0x5324C68B12DD6338ULL, -179},  // 5^-22
    {0x971DA05074DA7BEEULL, 0xD3F6FC16EBCA5E03ULL, -176},  // 5^-21
    {0xBCE5086492111AEAULL, 0x88F4BB1CA6BCF584ULL, -174},  // 5^-20
    {0xEC1E4A7DB69561A5ULL, 0x2B31E9E3D06C32E5ULL, -172},  // 5^-19
    {0x9392EE8E921D5D07ULL, 0x3AFF322E62439FCFULL, -169},  // 5^-18
    {0xB877AA3236A4B449ULL, 0x09BEFEB9FAD487C2ULL, -167},  // 5^-17
    {0xE69594BEC44DE15BULL, 0x4C2EBE687989A9B3ULL, -165},  // 5^-16
    {0x901D7CF73AB0ACD9ULL, 0x0F9D37014BF60A10ULL, -162},  // 5^-15
    {0xB424DC35095CD80FULL, 0x538484C19EF38C94ULL, -160},  // 5^-14
    {0xE12E13424BB40E13ULL, 0x2865A5F206B06FB9ULL, -158},  // 5^-13
    {0x8CBCCC096F5088CBULL, 0xF93F87B7442E45D3ULL, -155},  // 5^-12
    {0xAFEBFF0BCB24AAFEULL, 0xF78F69A51539D748ULL, -153},  // 5^-11
    {0xDBE6FECEBDEDD5BEULL, 0xB573440E5A884D1BULL, -151},  // 5^-10
    {0x89705F4136B4A597ULL, 0x31680A88F8953030ULL, -148},  // 5^-9
    {0xABCC77118461CEFCULL, 0xFDC20D2B36BA7C3DULL, -146},  // 5^-8
    {0xD6BF94D5E57A42BCULL, 0x3D32907604691B4CULL, -144},  // 5^-7
    {0x8637BD05AF6C69B5ULL, 0xA63F9A49C2C1B10FULL, -141},  // 5^-6
    {0xA7C5AC471B478423ULL, 0x0FCF80DC33721D53ULL, -139},  // 5^-5
    {0xD1B71758E219652BULL, 0xD3C36113404EA4A8ULL, -137},  // 5^-4
    {0x83126E978D4FDF3BULL, 0x645A1CAC083126E9ULL, -134},  // 5^-3
    {0xA3D70A3D70A3D70AULL, 0x3D70A3D70A3D70A3ULL, -132},  // 5^-2
    {0xCCCCCCCCCCCCCCCCULL, 0xCCCCCCCCCCCCCCCCULL, -130},  // 5^-1
    {0x8000000000000000ULL, 0x0000000000000000ULL, -127},  // 5^0
    {0xA000000000000000ULL, 0x0000000000000000ULL, -125},  // 5^1
    {0xC800000000000000ULL, 0x0000000000000000ULL, -123},  // 5^2
    {0xFA00000000000000ULL, 0x0000000000000000ULL, -121},  // 5^3
    {0x9C40000000000000ULL, 0x0000000000000000ULL, -118},  // 5^4
    {0xC350000000000000ULL, 0x0000000000000000ULL, -116},  // 5^5
    {0xF424000000000000ULL, 0x0000000000000000ULL, -114},  // 5^6
    {0x9896800000000000ULL, 0x0000000000000000ULL, -111},  // 5^7
    {0xBEBC200000000000ULL, 0x0000000000000000ULL, -109},  // 5^8
    {0xEE6B280000000000ULL, 0x0000000000000000ULL, -107},  // 5^9
    {0x9502F90000000000ULL, 0x0000000000000000ULL, -104},  // 5^10
    {0xBA43B74000000000ULL, 0x0000000000000000ULL, -102},  // 5^11
    {0xE8D4A51000000000ULL, 0x0000000000000000ULL, -100},  // 5^12
    {0x9184E72A00000000ULL, 0x0000000000000000ULL, -97},  // 5^13
    {0xB5E620F480000000ULL, 0x0000000000000000ULL, -95},  // 5^14
    {0xE35FA931A0000000ULL, 0x0000000000000000ULL, -93},  // 5^15
    {0x8E1BC9BF04000000ULL, 0x0000000000000000ULL, -90},  // 5^16
    {0xB1A2BC2EC5000000ULL, 0x0000000000000000ULL, -88},  // 5^17
    {0xDE0B6B3A76400000ULL, 0x0000000000000000ULL, -86},  // 5^18
    {0x8AC7230489E80000ULL, 0x0000000000000000ULL, -83},  // 5^19
    {0xAD78EBC5AC620000ULL, 0x0000000000000000ULL, -81},  // 5^20
    {0xD8D726B7177A8000ULL, 0x0000000000000000ULL, -79},  // 5^21
    {0x878678326EAC9000ULL, 0x0000000000000000ULL, -76},  // 5^22
    {0xA968163F0A57B400ULL, 0x0000000000000000ULL, -74},  // 5^23
    {0xD3C21BCECCEDA100ULL, 0x0000000000000000ULL, -72},  // 5^24
    {0x84595161401484A0ULL, 0x0000000000000000ULL, -69},  // 5^25
    {0xA56FA5B99019A5C8ULL, 0x0000000000000000ULL, -67},  // 5^26
    {0xCECB8F27F4200F3AULL, 0x0000000000000000ULL, -65},  // 5^27
    {0x813F3978F8940984ULL, 0x4000000000000000ULL, -62},  // 5^28
    {0xA18F07D736B90BE5ULL, 0x5000000000000000ULL, -60},  // 5^29
    {0xC9F2C9CD04674EDEULL, 0xA400000000000000ULL, -58},  // 5^30
    {0xFC6F7C4045812296ULL, 0x4D00000000000000ULL, -56},  // 5^31
    {0x9DC5ADA82B70B59DULL, 0xF020000000000000ULL, -53},  // 5^32
    {0xC5371912364CE305ULL, 0x6C28000000000000ULL, -51},  // 5^33
    {0xF684DF56C3E01BC6ULL, 0xC732000000000000ULL, -49},  // 5^34
    {0x9A130B963A6C115CULL, 0x3C7F400000000000ULL, -46},  // 5^35
    {0xC097CE7BC90715B3ULL, 0x4B9F100000000000ULL, -44},  // 5^36
    {0xF0BDC21ABB48DB20ULL, 0x1E86D40000000000ULL, -42},  // 5^37
    {0x96769950B50D88F4ULL, 0x1314448000000000ULL, -39},  // 5^38
    {0xBC143FA4E250EB31ULL, 0x17D955A000000000ULL, -37},  // 5^39
    {0xEB194F8E1AE525FDULL, 0x5DCFAB0800000000ULL, -35},  // 5^40
    {0x92EFD1B8D0CF37BEULL, 0x5AA1CAE500000000ULL, -32},  // 5^41
    {0xB7ABC627050305ADULL, 0xF14A3D9E40000000ULL, -30},  // 5^42
    {0xE596B7B0C643C719ULL, 0x6D9CCD05D0000000ULL, -28},  // 5^43
    {0x8F7E32CE7BEA5C6FULL, 0xE4820023A2000000ULL, -25},  // 5^44
    {0xB35DBF821AE4F38BULL, 0xDDA2802C8A800000ULL, -23},  // 5^45
    {0xE0352F62A19E306EULL, 0xD50B2037AD200000ULL, -21},  // 5^46
    {0x8C213D9DA502DE45ULL, 0x4526F422CC340000ULL, -18},  // 5^47
    {0xAF298D050E4395D6ULL, 0x9670B12B7F410000ULL, -16},  // 5^48
    {0xDAF3F04651D47B4CULL, 0x3C0CDD765F114000ULL, -14},  // 5^49
    {0x88D8762BF324CD0FULL, 0xA5880A69FB6AC800ULL, -11},  // 5^50
    {0xAB0E93B6EFEE0053ULL, 0x8EEA0D047A457A00ULL, -9},  // 5^51
    {0xD5D238A4ABE98068ULL, 0x72A4904598D6D880ULL, -7},  // 5^52
    {0x85A36366EB71F041ULL, 0x47A6DA2B7F864750ULL, -4},  // 5^53
    {0xA70C3C40A64E6C51ULL, 0x999090B65F67D924ULL, -2},  // 5^54
    {0xD0CF4B50CFE20765ULL, 0xFFF4B4E3F741CF6DULL, 0},  // 5^55
    {0x82818F1281ED449FULL, 0xBFF8F10E7A8921A4ULL, 3},  // 5^56
    {0xA321F2D7226895C7ULL, 0xAFF72D52192B6A0DULL, 5},  // 5^57
    {0xCBEA6F8CEB02BB39ULL, 0x9BF4F8A69F764490ULL, 7},  // 5^58
    {0xFEE50B7025C36A08ULL, 0x02F236D04753D5B4ULL, 9},  // 5^59
    {0x9F4F2726179A2245ULL, 0x01D762422C946590ULL, 12},  // 5^60
    {0xC722F0EF9D80AAD6ULL, 0x424D3AD2B7B97EF5ULL, 14},  // 5^61
    {0xF8EBAD2B84E0D58BULL, 0xD2E0898765A7DEB2ULL, 16},  // 5^62
    {0x9B934C3B330C8577ULL, 0x63CC55F49F88EB2FULL, 19},  // 5^63
    {0xC2781F49FFCFA6D5ULL, 0x3CBF6B71C76B25FBULL, 21},  // 5^64
};
constexpr int LAST_POWER_OF_FIVE = FIRST_POWER_OF_FIVE + int(std::size(POWERS_OF_FIVE)) - 1;

// The 128-bit product of two 64-bit numbers.
void multiply_64(uint64_t a, uint64_t b, uint64_t *high, uint64_t *low)
{
#ifdef __SIZEOF_INT128__
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    *high = uint64_t(product >> 64);
    *low = uint64_t(product);
#else
    constexpr uint64_t LOW_32 = 0xFFFFFFFFu;
    uint64_t a_high = a >> 32, a_low = a & LOW_32, b_high = b >> 32, b_low = b & LOW_32;
    uint64_t low_low = a_low * b_low, low_high = a_low * b_high;
    uint64_t high_low = a_high * b_low, high_high = a_high * b_high;
    uint64_t middle = (low_low >> 32) + (low_high & LOW_32) + (high_low & LOW_32);
    *low = (middle << 32) | (low_low & LOW_32);
    *high = high_high + (low_high >> 32) + (high_low >> 32) + (middle >> 32);
#endif
}

// The Eisel-Lemire method (Lemire, "Number parsing at a gigabyte per
// second", 2021): the significand times a 128-bit power of five gives the
// double's 53 bits and the bits below them to within two units of the
// 128th bit. When those bits lie that close to halfway, the rounding is
// left to strtod: false. Subnormal and overflowing results likewise.
bool exact_by_wide_product(const DecimalText &number, double *magnitude)
{
    if (number.exponent < FIRST_POWER_OF_FIVE || number.exponent > LAST_POWER_OF_FIVE)
        return false;
    const PowerOfFive &power = POWERS_OF_FIVE[number.exponent - FIRST_POWER_OF_FIVE];
    int leading_zeros = __builtin_clzll(number.significand);
    uint64_t significand = number.significand << leading_zeros;

    // The top 128 bits of the 192-bit product significand * power.
    uint64_t high, middle, low_high, low_low;
    multiply_64(significand, power.high, &high, &middle);
    multiply_64(significand, power.low, &low_high, &low_low);
    middle += low_high;
    high += middle < low_high;

    int shift = high >> 63 ? 11 : 10;  // keeps 53 bits
    uint64_t mantissa = high >> shift;
    uint64_t rest = high & ((uint64_t(1) << shift) - 1);
    uint64_t half = uint64_t(1) << (shift - 1);
    if ((rest == half && middle == 0) || (rest == half - 1 && middle == ~uint64_t(0)))
        return false;
    if (rest >= half)
        mantissa++;
    int binary_exponent = shift + 128 + power.binary_exponent + number.exponent - leading_zeros;
    if (mantissa == uint64_t(1) << 53) {
        mantissa >>= 1;
        binary_exponent++;
    }
    int biased = binary_exponent + 52 + 1023;
    if (biased <= 0 || biased >= 0x7FF)
        return false;
    uint64_t bits = (uint64_t(biased) << 52) | (mantissa & ((uint64_t(1) << 52) - 1));
    memcpy(magnitude, &bits, sizeof bits);
    return true;
}

// ---- Writing: Grisu3 (Loitsch, "Printing floating-point numbers quickly and
// accurately with integers", PLDI 2010). It proves its answer shortest and
// closest or declines, about once in two hundred numbers; the caller then
// falls back to the C library.

// A floating-point number significand * 2^exponent with a 64-bit significand.
struct DiyFp {
    uint64_t significand;
    int exponent;
};

// The upper 64 bits of the 128-bit product, rounded.
DiyFp multiply(DiyFp a, DiyFp b)
{
    uint64_t high, low;
    multiply_64(a.significand, b.significand, &high, &low);
    return {high + (low >> 63), a.exponent + b.exponent + 64};
}

// `value.significand` is never 0 here: every caller passes a positive number.
DiyFp normalized(DiyFp value)
{
    int shift = __builtin_clzll(value.significand);
    return {value.significand << shift, value.exponent - shift};
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

// The leading digit of `*number` (below 10 * DIVISOR), removed from it. A
// constant divisor lets the compiler multiply instead of dividing.
template <uint32_t DIVISOR>
uint32_t take_digit(uint32_t *number)
{
    uint32_t digit = *number / DIVISOR;
    *number %= DIVISOR;
    return digit;
}

// The digit of `*number` at `power` (1 for the units, up to 10), removed.
uint32_t take_digit_at(uint32_t *number, int power)
{
    switch (power) {
    case 10: return take_digit<1000000000>(number);
    case 9: return take_digit<100000000>(number);
    case 8: return take_digit<10000000>(number);
    case 7: return take_digit<1000000>(number);
    case 6: return take_digit<100000>(number);
    case 5: return take_digit<10000>(number);
    case 4: return take_digit<1000>(number);
    case 3: return take_digit<100>(number);
    case 2: return take_digit<10>(number);
    default: return take_digit<1>(number);
    }
}

// "00" to "99": two digits per step where no digit can end the search.
constexpr std::array<char, 200> DIGIT_PAIRS = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; i++) {
        pairs[2 * i] = char('0' + i / 10);
        pairs[2 * i + 1] = char('0' + i % 10);
    }
    return pairs;
}();

// The `count` decimal digits of `number` (below 10^count), leading zeros
// included.
void write_digits(uint32_t number, int count, char *out)
{
    char *cursor = out + count;
    while (cursor - out >= 2) {
        cursor -= 2;
        memcpy(cursor, &DIGIT_PAIRS[2 * (number % 100)], 2);
        number /= 100;
    }
    if (cursor > out)
        *--cursor = char('0' + number);
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

    // Powers of ten below 2^32; the digit count of `integrals` picks the divisor.
    static constexpr uint32_t POWERS_OF_TEN[] = {1,      10,      100,      1000,      10000,
                                                 100000, 1000000, 10000000, 100000000, 1000000000};
    // Locals, not the out-parameters: stores through `digits` could alias them.
    int power = 1;
    while (power < 10 && integrals >= POWERS_OF_TEN[power])
        ++power;
    int count = 0;
    bool closest = false;
    // The rest after an integral digit is at least the fractional bits; when
    // they alone leave it outside the unsafe interval, no integral digit ends
    // the search, and all of them are written at once.
    if (fractionals >= unsafe_interval) {
        write_digits(integrals, power, digits);
        count = power;
        power = 0;
    }
    for (;;) {
        if (power > 0) {
            uint32_t divisor = POWERS_OF_TEN[power - 1];
            digits[count++] = char('0' + take_digit_at(&integrals, power));
            --power;
            uint64_t rest = (uint64_t(integrals) << shift) + fractionals;
            if (rest >= unsafe_interval)
                continue;
            closest = round_weed(digits, count, too_high.significand - w.significand,
                                 unsafe_interval, rest, uint64_t(divisor) << shift, unit);
            break;
        }
        fractionals *= 10;
        unit *= 10;
        unsafe_interval *= 10;
        digits[count++] = char('0' + (fractionals >> shift));
        fractionals &= one - 1;
        --power;
        if (fractionals < unsafe_interval) {
            closest = round_weed(digits, count, (too_high.significand - w.significand) * unit,
                                 unsafe_interval, fractionals, one, unit);
            break;
        }
    }
    *length = count;
    *kappa = power;
    return closest;
}

}  // namespace

// The double strtod would give for the number at `text`, without calling
// it when an exact shortcut applies; `*end` is where strtod would stop.
double read_number(const char *text, const char **end)
{
    DecimalText number;
    if (scan_decimal(text, &number)) {
        double magnitude = 0;
        if (number.significand == 0 || exact_by_one_operation(number, &magnitude) ||
            exact_by_wide_product(number, &magnitude)) {
            *end = number.end;
            return number.negative ? -magnitude : magnitude;
        }
    }
    char *strtod_end = nullptr;
    double value = strtod(text, &strtod_end);
    *end = strtod_end;
    return value;
}


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
