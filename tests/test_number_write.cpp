// Number texts: the C library's forms where they read back, else the
// shortest digits that do, and no text for the non-finite.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"
#include "sweep.h"
#include "value.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>

namespace {

class SerializeTest : public HookedTest {};

// Any finite double, each bit pattern alike.
double any_finite_double(std::mt19937_64 &random)
{
    for (;;) {
        uint64_t bits = random();
        double number;
        memcpy(&number, &bits, sizeof number);
        if (std::isfinite(number))
            return number;
    }
}

TEST_F(SerializeTest, Numbers)
{
    struct Case {
        double number;
        const char *text;
    };
    const Case cases[] = {
        {1700, "1700"},
        {-5.0, "-5"},
        {-0.0, "0"},
        {2147483647, "2147483647"},
        {-2147483648.0, "-2147483648"},
        {2147483648.0, "2147483648"},
        {-2147483649.0, "-2147483649"},
        {2425000000.0, "2425000000"},
        {9007199254740991.0, "9007199254740991"},  // the largest below 2^53
        {-9007199254740991.0, "-9007199254740991"},
        {9007199254740992.0, "9007199254740992.000000"},
        {-9007199254740992.0, "-9007199254740992.000000"},
        {0.5, "0.500000"},
        {0.1, "0.100000"},
        {2.5, "2.500000"},
        {1.23456789, "1.23456789"},
        {0.0000001, "1e-07"},
        {1e10, "10000000000"},
        {0.1 + 0.2, "0.30000000000000004"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {2 * std::numeric_limits<double>::denorm_min(), "1e-323"},
        {20 * std::numeric_limits<double>::denorm_min(), "1e-322"},  // one digit fewer
        {2.2250738585072009e-308, "2.225073858507201e-308"},         // largest subnormal
        // Just above a power of two the interval that reads back is narrower
        // below: 16 digits would fall outside it.
        {0x1p-1019, "1.7800590868057611e-307"},
        // Digits that a 64-bit scaling of the value cannot settle.
        {4.6748272773403566e-65, "4.6748272773403566e-65"},
        {4.7357799453633425e-110, "4.7357799453633425e-110"},
        // Six decimals found by scaling: leading zeros of the fraction, the
        // smallest step, the edge of the range where only one reads back.
        {-65.000001, "-65.000001"},
        {0.000001, "0.000001"},
        {4294967295.25, "4294967295.250000"},
        {4294967296.5, "4294967296.500000"},
        {-9.2233720368547758e18, "-9223372036854775808.000000"},
        {1e19, "10000000000000000000.000000"},
        {-65.61361699999998, "-65.61361699999998"},  // shortest digits past six decimals
        // The first digit's power at -4 is the last written without an exponent.
        {0.0001234567, "0.0001234567"},
        {0.00001234567, "1.234567e-05"},
        // Exactly midway between two shortest candidates: the even one.
        {5079.0 / 524288, "0.009687423706054688"},
        {16385.0 / 262144, "0.06250381469726562"},
    };
    for (const Case &c : cases) {
        ValuePtr value(json_value_init_number(c.number));
        EXPECT_EQ(text_of(value.get(), false), c.text);
        EXPECT_EQ(text_of(value.get(), true), c.text);
    }
    // The longest text of any number, 317 characters: the whole of "%f".
    double lowest = std::numeric_limits<double>::lowest();
    char longest[400];
    snprintf(longest, sizeof longest, "%f", lowest);
    ValuePtr value(json_value_init_number(lowest));
    EXPECT_EQ(text_of(value.get(), false), longest);
}

TEST_F(SerializeTest, NonFiniteNumbersHaveNoText)
{
    const double numbers[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
    for (double number : numbers) {
        ValuePtr tree(json_value_init_object());
        ASSERT_EQ(json_object_set_number(json_object(tree.get()), "a", number), JSONSuccess);
        EXPECT_EQ(json_serialization_size(tree.get()), 0u);
        EXPECT_EQ(json_serialization_size_pretty(tree.get()), 0u);
        char buffer[64];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(json_serialize_to_buffer(tree.get(), buffer, sizeof buffer), JSONFailure);
        EXPECT_EQ(json_serialize_to_buffer_pretty(tree.get(), buffer, sizeof buffer), JSONFailure);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
        EXPECT_EQ(json_serialize_to_string(tree.get()), nullptr);
        EXPECT_EQ(json_serialize_to_string_pretty(tree.get()), nullptr);
    }
}

// The JSON grammar of a number.
bool is_json_number(const char *text)
{
    auto digits = [&] {
        const char *start = text;
        while (*text >= '0' && *text <= '9')
            text++;
        return text > start;
    };
    if (*text == '-')
        text++;
    if (*text == '0')
        text++;
    else if (!digits())
        return false;
    if (*text == '.') {
        text++;
        if (!digits())
            return false;
    }
    if (*text == 'e' || *text == 'E') {
        text++;
        if (*text == '+' || *text == '-')
            text++;
        if (!digits())
            return false;
    }
    return *text == '\0';
}

TEST(SerializeNumbers, RandomDoublesReadBackExactly)
{
    std::mt19937_64 random(20240611);
    ValuePtr value(json_value_init_number(0));
    char text[400];
    const int cases = sweep_cases(1000000);
    for (int tested = 0; tested < cases; tested++) {
        double number = any_finite_double(random);
        value->value.number = number;
        ASSERT_EQ(json_serialize_to_buffer(value.get(), text, sizeof text), JSONSuccess)
            << std::hexfloat << number;
        ASSERT_TRUE(is_json_number(text)) << text;
        double read = strtod(text, nullptr);
        if (number == 0) {
            ASSERT_STREQ(text, "0");
        } else {
            ASSERT_EQ(memcmp(&read, &number, sizeof read), 0)
                << text << " from " << std::hexfloat << number;
        }
    }
}

// The number rule spelled with the C library alone: the slow but plain
// statement of what the fast writer must produce.
std::string reference_text(double number)
{
    char text[400];
    if (std::fabs(number) < 0x1p53 && std::trunc(number) == number) {
        snprintf(text, sizeof text, "%.0f", number == 0 ? 0.0 : number);
        return text;
    }
    snprintf(text, sizeof text, "%f", number);
    if (strtod(text, nullptr) == number)
        return text;
    for (int precision = 1; precision <= 17; precision++) {
        snprintf(text, sizeof text, "%.*g", precision, number);
        if (strtod(text, nullptr) == number)
            break;
    }
    return text;
}

// Significant digits and the power of ten of the first, from a text in
// exponent or positional form.
std::pair<std::string, int> digits_of(const std::string &text)
{
    std::string digits;
    int first_power = 0;
    bool seen_point = false;
    size_t exponent_at = text.find_first_of("eE");
    std::string mantissa = text.substr(0, exponent_at);
    int leading_zeros_after_point = 0;
    int integral_digits = 0;
    for (char c : mantissa) {
        if (c == '.') {
            seen_point = true;
        } else if (c >= '0' && c <= '9') {
            if (digits.empty() && c == '0') {
                if (seen_point)
                    leading_zeros_after_point++;
                continue;
            }
            digits += c;
            if (!seen_point)
                integral_digits++;
        }
    }
    first_power = integral_digits > 0 ? integral_digits - 1 : -(leading_zeros_after_point + 1);
    if (exponent_at != std::string::npos)
        first_power += atoi(text.c_str() + exponent_at + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    return {digits, first_power};
}

// Whole numbers and six-decimal texts are byte for byte those of the C
// library; every other number is written with exactly the shortest digits
// that read back (std::to_chars gives them), laid out as "%g" would.
TEST(SerializeNumbers, TextsMatchTheCLibraryAndTheShortestDigits)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> degrees(-180.0, 180.0);
    const std::function<double()> sources[] = {
        [&] { return any_finite_double(random); },
        [&] { return unit(random); },
        [&] { return std::round(degrees(random) * 1e6) / 1e6; },  // six-decimal coordinates
        [&] { return double(int64_t(random() >> (random() % 64))) * (random() % 2 ? 1 : -1); },
        [&] { return double(random() % 100000) / 1000.0; },
        [&] { return ldexp(double(random() >> 12), -1074); },  // subnormals and their neighbours
    };
    ValuePtr value(json_value_init_number(0));
    char text[400];
    const int per_source = sweep_cases(300000 * int(std::size(sources))) / int(std::size(sources));
    for (const auto &source : sources) {
        for (int i = 0; i < per_source; i++) {
            double number = source();
            value->value.number = number;
            ASSERT_EQ(json_serialize_to_buffer(value.get(), text, sizeof text), JSONSuccess);
            std::string expected = reference_text(number);
            bool c_library_form = expected.find('e') == std::string::npos &&
                                  (expected.find('.') == std::string::npos ||
                                   expected.size() - expected.find('.') == 7);
            if (c_library_form && strtod(expected.c_str(), nullptr) == number) {
                ASSERT_EQ(std::string(text), expected) << "%.17g: " << number;
                continue;
            }
            char shortest[64];
            *std::to_chars(shortest, shortest + sizeof shortest - 1, std::fabs(number),
                           std::chars_format::scientific)
                 .ptr = '\0';
            ASSERT_EQ(digits_of(text), digits_of(shortest)) << text << " vs " << shortest;
            ASSERT_EQ(strtod(text, nullptr), number) << text;
        }
    }
}

// A program that sets a locale with a decimal comma still reads and writes
// "." in every thread: texts that reach the C library's conversions, in the
// fixed form ("%f") and as strtod reads them (subnormal, 21 digits).
TEST(SerializeNumbers, DecimalPointWhateverTheCallersLocale)
{
    const char *text = "[5000000000.5,4.9e-324,1.00000000000000000001]";
    const std::string expected = "[5000000000.500000,5e-324,1]";
    ASSERT_EQ(text_of(ValuePtr(json_parse_string(text)).get()), expected);
    if (!setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 not installed (localedef -i de_DE -f UTF-8)";
    auto round_trip = [&] { return text_of(ValuePtr(json_parse_string(text)).get()); };
    std::string in_thread;
    std::thread([&] { in_thread = round_trip(); }).join();
    std::string in_main = round_trip();
    setlocale(LC_ALL, "C");
    EXPECT_EQ(in_main, expected);
    EXPECT_EQ(in_thread, expected);
}

}  // namespace
