// The serializer's texts: both forms byte for byte, numbers, escapes, exact
// sizes and failures.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"
#include "sweep.h"
#include "value.h"

#include <gtest/gtest.h>

#include <charconv>
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

namespace {

class SerializeTest : public HookedTest {};

ValuePtr worked_example()
{
    ValuePtr root(json_value_init_object());
    JSON_Object *object = json_object(root.get());
    JSON_Value *items = json_value_init_array();
    JSON_Value *entry = json_value_init_object();
    bool built = json_object_set_string(object, "name", "gw/1") == JSONSuccess &&
                 json_object_set_number(object, "port", 1700) == JSONSuccess &&
                 json_object_set_number(object, "gain", 2.5) == JSONSuccess &&
                 json_object_set_boolean(object, "on", 1) == JSONSuccess &&
                 json_object_set_number(json_object(entry), "id", 7) == JSONSuccess &&
                 json_object_set_null(json_object(entry), "tag") == JSONSuccess &&
                 json_array_append_value(json_array(items), entry) == JSONSuccess &&
                 json_array_append_boolean(json_array(items), 0) == JSONSuccess &&
                 json_object_set_value(object, "items", items) == JSONSuccess &&
                 json_object_set_value(object, "opts", json_value_init_object()) == JSONSuccess &&
                 json_object_set_value(object, "list", json_value_init_array()) == JSONSuccess;
    EXPECT_TRUE(built);
    return root;
}

const char WORKED_COMPACT[] = R"({"name":"gw\/1","port":1700,"gain":2.500000,"on":true,)"
                              R"("items":[{"id":7,"tag":null},false],"opts":{},"list":[]})";

const char WORKED_PRETTY[] =
    "{\n"
    "    \"name\": \"gw\\/1\",\n"
    "    \"port\": 1700,\n"
    "    \"gain\": 2.500000,\n"
    "    \"on\": true,\n"
    "    \"items\": [\n"
    "        {\n"
    "            \"id\": 7,\n"
    "            \"tag\": null\n"
    "        },\n"
    "        false\n"
    "    ],\n"
    "    \"opts\": {},\n"
    "    \"list\": []\n"
    "}";

TEST_F(SerializeTest, WorkedExampleInBothForms)
{
    ValuePtr root = worked_example();
    ASSERT_EQ(strlen(WORKED_COMPACT), 110u);
    ASSERT_EQ(strlen(WORKED_PRETTY), 213u);
    EXPECT_EQ(json_serialization_size(root.get()), 111u);
    EXPECT_EQ(json_serialization_size_pretty(root.get()), 214u);
    EXPECT_EQ(text_of(root.get(), false), WORKED_COMPACT);
    EXPECT_EQ(text_of(root.get(), true), WORKED_PRETTY);

    char buffer[214];
    ASSERT_EQ(json_serialize_to_buffer(root.get(), buffer, 111), JSONSuccess);
    EXPECT_STREQ(buffer, WORKED_COMPACT);
    ASSERT_EQ(json_serialize_to_buffer_pretty(root.get(), buffer, 214), JSONSuccess);
    EXPECT_STREQ(buffer, WORKED_PRETTY);
}

ValuePtr object_with(const char *name, JSON_Value *member)
{
    ValuePtr root(json_value_init_object());
    EXPECT_EQ(json_object_set_value(json_object(root.get()), name, member), JSONSuccess);
    return root;
}

ValuePtr array_of(std::initializer_list<JSON_Value *> items)
{
    ValuePtr root(json_value_init_array());
    for (JSON_Value *item : items)
        EXPECT_EQ(json_array_append_value(json_array(root.get()), item), JSONSuccess);
    return root;
}

TEST_F(SerializeTest, ScalarsAndEmptyContainers)
{
    struct Case {
        ValuePtr value;
        const char *compact;
        const char *pretty;
    };
    Case cases[] = {
        {ValuePtr(json_value_init_string("a/b")), R"("a\/b")", R"("a\/b")"},
        {ValuePtr(json_value_init_object()), "{}", "{}"},
        {ValuePtr(json_value_init_array()), "[]", "[]"},
        {ValuePtr(json_value_init_null()), "null", "null"},
        {ValuePtr(json_value_init_boolean(5)), "true", "true"},
        {ValuePtr(json_value_init_boolean(0)), "false", "false"},
        {object_with("a", json_value_init_number(1)), R"({"a":1})", "{\n    \"a\": 1\n}"},
        {array_of({json_value_init_object(), json_value_init_array()}), "[{},[]]",
         "[\n    {},\n    []\n]"},
        {object_with("a/\"b", json_value_init_string("")), R"({"a\/\"b":""})",
         "{\n    \"a\\/\\\"b\": \"\"\n}"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(text_of(c.value.get(), false), c.compact);
        EXPECT_EQ(text_of(c.value.get(), true), c.pretty);
        EXPECT_EQ(json_serialization_size(c.value.get()), strlen(c.compact) + 1) << c.compact;
        EXPECT_EQ(json_serialization_size_pretty(c.value.get()), strlen(c.pretty) + 1) << c.pretty;
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
        ValuePtr tree = object_with("a", json_value_init_number(number));
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
    for (int tested = 0; tested < cases;) {
        uint64_t bits = random();
        double number;
        memcpy(&number, &bits, sizeof number);
        if (!std::isfinite(number))
            continue;
        tested++;
        value->value.number = number;
        ASSERT_EQ(json_serialize_to_buffer(value.get(), text, sizeof text), JSONSuccess) << bits;
        ASSERT_TRUE(is_json_number(text)) << text;
        double read = strtod(text, nullptr);
        if (number == 0) {
            ASSERT_STREQ(text, "0");
        } else {
            ASSERT_EQ(memcmp(&read, &number, sizeof read), 0) << text << " from bits " << bits;
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
        [&] {  // any finite bit pattern
            for (;;) {
                uint64_t bits = random();
                double number;
                memcpy(&number, &bits, sizeof number);
                if (std::isfinite(number))
                    return number;
            }
        },
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

TEST_F(SerializeTest, StringEscapes)
{
    struct Case {
        const char *raw;
        const char *written;
    };
    const Case cases[] = {
        {"\"\\/", R"("\"\\\/")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {"\x01", R"("\u0001")"},
        {"a\x1f"
         "b",
         R"("a\u001fb")"},
        {"\x0b\x1b", R"("\u000b\u001b")"},
        {"\x7f", "\"\x7f\""},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {"plain text", R"("plain text")"},
    };
    for (const Case &c : cases) {
        ValuePtr value(json_value_init_string(c.raw));
        ASSERT_NE(value, nullptr) << c.written;
        EXPECT_EQ(text_of(value.get(), false), c.written);
        EXPECT_EQ(json_serialization_size(value.get()), strlen(c.written) + 1) << c.written;
    }
}

TEST_F(SerializeTest, BufferOfExactSizeAndOneByteLess)
{
    ValuePtr root = worked_example();
    struct Form {
        size_t (*size)(const JSON_Value *);
        JSON_Status (*write)(const JSON_Value *, char *, size_t);
        const char *text;
    };
    const Form forms[] = {
        {json_serialization_size, json_serialize_to_buffer, WORKED_COMPACT},
        {json_serialization_size_pretty, json_serialize_to_buffer_pretty, WORKED_PRETTY}};
    for (const Form &form : forms) {
        size_t size = form.size(root.get());
        std::string buffer(size + 8, '#');
        EXPECT_EQ(form.write(root.get(), buffer.data(), size - 1), JSONFailure);
        EXPECT_EQ(buffer, std::string(size + 8, '#'));
        ASSERT_EQ(form.write(root.get(), buffer.data(), size), JSONSuccess);
        EXPECT_EQ(buffer, std::string(form.text) + '\0' + std::string(8, '#'));
        EXPECT_EQ(form.write(root.get(), nullptr, size), JSONFailure);
    }
}

TEST_F(SerializeTest, NullRootAndBrokenTrees)
{
    ValuePtr with_null_item = array_of({json_value_init_null(), json_value_init_number(1)});
    ValuePtr with_bad_type = object_with("a", json_value_init_null());
    // Damage the trees through the records, and mend them before release.
    JSON_Value **item = &json_array(with_null_item.get())->items[0];
    JSON_Value *saved_item = *item;
    *item = nullptr;
    JSON_Value *member = json_object_get_value(json_object(with_bad_type.get()), "a");
    member->type = 0;

    const JSON_Value *trees[] = {nullptr, with_null_item.get(), with_bad_type.get()};
    for (const JSON_Value *tree : trees) {
        EXPECT_EQ(json_serialization_size(tree), 0u);
        EXPECT_EQ(json_serialization_size_pretty(tree), 0u);
        char buffer[32] = "untouched";
        EXPECT_EQ(json_serialize_to_buffer(tree, buffer, sizeof buffer), JSONFailure);
        EXPECT_EQ(json_serialize_to_buffer_pretty(tree, buffer, sizeof buffer), JSONFailure);
        EXPECT_STREQ(buffer, "untouched");
        EXPECT_EQ(json_serialize_to_string(tree), nullptr);
        EXPECT_EQ(json_serialize_to_string_pretty(tree), nullptr);
    }
    *item = saved_item;
    member->type = JSONNull;
}

TEST_F(SerializeTest, StringIsExactlyTheMeasuredSize)
{
    ValuePtr root = worked_example();
    recording_hooks::reset_records();
    char *compact = json_serialize_to_string(root.get());
    char *pretty = json_serialize_to_string_pretty(root.get());
    ASSERT_EQ(recording_hooks::allocation_sizes(), (std::vector<size_t>{111, 214}));
    json_free_serialized_string(compact);
    json_free_serialized_string(pretty);
    EXPECT_EQ(recording_hooks::releases(), (std::vector<void *>{compact, pretty}));
}

TEST_F(SerializeTest, StringWithoutMemoryIsNull)
{
    ValuePtr root = worked_example();
    recording_hooks::fail_all_allocations();
    EXPECT_EQ(json_serialize_to_string(root.get()), nullptr);
    EXPECT_EQ(json_serialize_to_string_pretty(root.get()), nullptr);
    EXPECT_TRUE(recording_hooks::failure_fired());
    recording_hooks::fail_allocation(0);
}

}  // namespace
