// Numbers as the parser reads them: the double strtod gives, bit for bit,
// and the literal kept where no double stands for it.
#include "parse_texts.h"
#include "recording_hooks.h"
#include "sweep.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using ParseTest = HookedTest;

TEST_F(ParseTest, ReadsNumbersExactlyAsStrtod)
{
    const double inf = std::numeric_limits<double>::infinity();
    // Numbers the double does not stand for keep the literal they were read from.
    struct Case {
        const char *text;
        double number;
        const char *kept = nullptr;
    } cases[] = {
        {"[0]", 0.0},
        {"[-0]", -0.0},
        {"[-0.0]", -0.0},
        {"[0.5]", 0.5},
        {"[0e0]", 0.0},
        {"[0E1]", 0.0},
        {"[0e-1]", 0.0},
        {"[-0E+2]", -0.0},
        {"[-0.5]", -0.5},
        {"[12]", 12.0},
        {"[1.5e3]", 1500.0},
        {"[2E-2]", 0.02},
        {"[1.]", 1.0},
        {"[1.e3]", 1000.0},
        {"[-.5]", -0.5},
        {"[0.1]", 0.1},
        {"[1e400]", inf, "1e400"},
        {"[-1e400]", -inf, "-1e400"},
        {"[2e308]", inf, "2e308"},
        {"[-inf]", -inf},
        {"[-Infinity]", -inf},
        {"[1e-400]", 0.0, "1e-400"},
        {"[-0.0e-400]", -0.0},
        {"[4.9e-324]", 4.9e-324},
        {"[2.2250738585072011e-308]", 2.2250738585072011e-308},
        {"[123456789012345678901234567890]", 123456789012345678901234567890.0,
         "123456789012345678901234567890"},
        {"[123456789012345678901234567890.0]", 123456789012345678901234567890.0},
        {"[9007199254740993]", 9007199254740992.0, "9007199254740993"},
        {"[-9007199254740993]", -9007199254740992.0, "-9007199254740993"},
        {"[9007199254740992]", 9007199254740992.0},
        {"[12345678901234567890]", 12345678901234567890.0, "12345678901234567890"},
        {"[18446744073709551616]", 0x1p64},
        {"[1180591620717411303424]", 0x1p70},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ValuePtr value = parse(c.text);
        JSON_Value *number = json_array_get_value(json_array(value.get()), 0);
        ASSERT_EQ(json_type(number), JSONNumber);
        EXPECT_EQ(json_number(number), c.number);
        EXPECT_EQ(std::signbit(json_number(number)), std::signbit(c.number));
        EXPECT_STREQ(json_value_get_number_text(number), c.kept);
    }
    for (const char *text : {"[-nan]", "[-nan(1)]"}) {
        SCOPED_TRACE(text);
        ValuePtr value = parse(text);
        EXPECT_TRUE(std::isnan(json_array_get_number(json_array(value.get()), 0)));
    }
}

// Numbers of up to 19 significant digits take exact shortcuts around strtod
// (one operation up to 15 digits and 10^22, a 128-bit product up to 10^64);
// those and everything beyond must come out bit for bit as strtod reads them.
TEST(ParseNumbers, MatchStrtodBitForBit)
{
    std::mt19937_64 random(99);
    auto digits = [&](int count) {
        std::string text;
        for (int i = 0; i < count; i++)
            text += char('0' + random() % 10);
        return text;
    };
    const int cases = sweep_cases(400000);
    for (int i = 0; i < cases; i++) {
        int count = 1 + int(random() % 22);
        std::string significand = digits(count);
        if (significand[0] == '0')
            significand[0] = '7';
        size_t point = random() % (significand.size() + 1);
        std::string number = random() % 4 == 0 ? "-" : "";
        if (point == 0)
            number += "0." + significand;  // "0" must be followed by a fraction
        else if (point < significand.size())
            number += significand.substr(0, point) + "." + significand.substr(point);
        else
            number += significand;
        if (random() % 2) {
            number += random() % 2 ? "e" : "E";
            int sign = int(random() % 3);
            number += sign == 0 ? "" : sign == 1 ? "+" : "-";
            number += std::to_string(random() % 90);
        }
        ValuePtr value(json_parse_string(("[" + number + "]").c_str()));
        ASSERT_NE(value, nullptr) << number;
        double parsed = json_array_get_number(json_array(value.get()), 0);
        double expected = strtod(number.c_str(), nullptr);
        ASSERT_EQ(memcmp(&parsed, &expected, sizeof parsed), 0) << number;
    }
    // Exact ties between two doubles, where the rounding rule decides.
    for (const char *tie : {"9007199254740993", "9007199254740995", "4503599627370496.5",
                            "1.00000000000000011102230246251565404236316680908203125"}) {
        // Appended: GCC 12 at -O3 for 32-bit ARM warns falsely
        // (-Wstringop-overflow) on "[" + std::string.
        ValuePtr value(json_parse_string(std::string("[").append(tie).append("]").c_str()));
        double parsed = json_array_get_number(json_array(value.get()), 0);
        double expected = strtod(tie, nullptr);
        EXPECT_EQ(memcmp(&parsed, &expected, sizeof parsed), 0) << tie;
    }
}

}  // namespace
