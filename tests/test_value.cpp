// Value model: constructors, accessors, release order and the hooks.
#include "recording_hooks.h"
#include "value.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using jsontree::detail::copy_text;
using jsontree::detail::jsontree_free;
using jsontree::detail::num_bytes_in_utf8_sequence;

namespace rh = recording_hooks;

namespace {

using ValueTest = HookedTest;

struct Utf8Case {
    const char *label;
    std::string bytes;
    bool valid;
};

TEST_F(ValueTest, StringConstructorValidatesUtf8)
{
    const Utf8Case cases[] = {
        {"empty", "", true},
        {"ascii", "gateway", true},
        {"U+0080", "\xC2\x80", true},
        {"U+FFFF", "\xEF\xBF\xBF", true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"mixed", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"overlong NUL", "\xC0\x80", false},
        {"lone continuation", "\x80", false},
        {"0xFF", "\xFF", false},
        {"U+D7FF", "\xED\x9F\xBF", true},
        {"surrogate D800", "\xED\xA0\x80", false},
        {"surrogate DFFF", "\xED\xBF\xBF", false},
        {"U+E000", "\xEE\x80\x80", true},
        {"overlong 3-byte 0x7FF", "\xE0\x9F\xBF", false},
        {"overlong 4-byte", "\xF0\x8F\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut short at the end", "abc\xE2\x82", false},
        {"lead followed by ASCII",
         "\xC3"
         "a",
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        JSON_Value *value = json_value_init_string(c.bytes.c_str());
        if (c.valid) {
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(json_value_get_type(value), JSONString);
            EXPECT_EQ(std::string(json_value_get_string(value)), c.bytes);
            EXPECT_NE(json_value_get_string(value), c.bytes.c_str()) << "text must be copied";
        } else {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(rh::allocation_count(), 0u) << "refused text allocates nothing";
        }
        json_value_free(value);
        rh::reset_records();
    }
}

TEST_F(ValueTest, Utf8LeadByteClasses)
{
    const struct {
        unsigned char byte;
        int length;
    } cases[] = {{0x00, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0}, {0xC2, 2},
                 {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xF5, 0}, {0xFF, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(num_bytes_in_utf8_sequence(c.byte), c.length) << std::hex << int(c.byte);
}

TEST_F(ValueTest, NullTextGivesNull)
{
    EXPECT_EQ(json_value_init_string(nullptr), nullptr);
    EXPECT_EQ(rh::allocation_count(), 0u);
}

TEST_F(ValueTest, ScalarConstructorsStoreTheirPayload)
{
    JSON_Value *five = json_value_init_boolean(5);
    JSON_Value *minus_one = json_value_init_boolean(-1);
    JSON_Value *zero = json_value_init_boolean(0);
    JSON_Value *nan = json_value_init_number(NAN);
    JSON_Value *number = json_value_init_number(-2.5);
    JSON_Value *null = json_value_init_null();

    EXPECT_EQ(json_value_get_boolean(five), 1);
    EXPECT_EQ(json_boolean(minus_one), 1);
    EXPECT_EQ(json_value_get_boolean(zero), 0);
    EXPECT_EQ(json_type(nan), JSONNumber);
    EXPECT_TRUE(std::isnan(json_value_get_number(nan)));
    EXPECT_EQ(json_number(number), -2.5);
    EXPECT_EQ(json_type(null), JSONNull);
    EXPECT_EQ(rh::allocation_count(), 6u) << "a scalar costs exactly one block";

    for (JSON_Value *value : {five, minus_one, zero, nan, number, null})
        json_value_free(value);
}

TEST_F(ValueTest, AccessorsGiveNeutralResultsForOtherTypes)
{
    JSON_Value *text = json_value_init_string("1");
    JSON_Value *number = json_value_init_number(1);
    EXPECT_EQ(json_value_get_number(text), 0.0);
    EXPECT_EQ(json_number(text), 0.0);
    EXPECT_EQ(json_value_get_boolean(text), -1);
    EXPECT_EQ(json_boolean(text), -1);
    EXPECT_EQ(json_value_get_object(text), nullptr);
    EXPECT_EQ(json_object(text), nullptr);
    EXPECT_EQ(json_value_get_array(text), nullptr);
    EXPECT_EQ(json_array(text), nullptr);
    EXPECT_EQ(json_value_get_number_text(text), nullptr);
    EXPECT_EQ(json_value_get_number_text(number), nullptr);
    EXPECT_EQ(json_value_get_string(number), nullptr);
    EXPECT_EQ(json_value_get_string_len(number), 0u);
    EXPECT_EQ(json_value_get_string_len(text), 1u);
    json_value_free(text);
    json_value_free(number);
}

TEST_F(ValueTest, FreeingNullCallsTheReleaseHookOnceWithNull)
{
    json_value_free(nullptr);
    ASSERT_EQ(rh::releases().size(), 1u);
    EXPECT_EQ(rh::releases()[0], nullptr);
}

TEST_F(ValueTest, EmptyContainersReleaseAbsentSlotArraysAsNull)
{
    JSON_Value *object = json_value_init_object();
    JSON_Object *record = json_object(object);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(json_object_get_count(record), 0u);
    json_value_free(object);
    const std::vector<void *> expected = {nullptr, nullptr, record, object};
    EXPECT_EQ(rh::releases(), expected);

    rh::reset_records();
    JSON_Value *array = json_value_init_array();
    JSON_Array *array_record = json_array(array);
    json_value_free(array);
    const std::vector<void *> expected_array = {nullptr, array_record, array};
    EXPECT_EQ(rh::releases(), expected_array);
}

TEST_F(ValueTest, ContainerConstructorsReleaseTheValueWhenTheRecordFails)
{
    for (auto init : {json_value_init_object, json_value_init_array}) {
        rh::fail_allocation(2);
        EXPECT_EQ(init(), nullptr);
        EXPECT_TRUE(rh::failure_fired());
        EXPECT_EQ(rh::live_blocks(), 0u);
        ASSERT_EQ(rh::releases().size(), 1u) << "the value record goes back";
        rh::reset_records();
    }
}

TEST_F(ValueTest, StringConstructorReleasesItsCopyWhenTheRecordFails)
{
    rh::fail_allocation(2);
    EXPECT_EQ(json_value_init_string("text"), nullptr);
    EXPECT_TRUE(rh::failure_fired());
    EXPECT_EQ(rh::live_blocks(), 0u);
}

TEST_F(ValueTest, EveryConstructorFailsCleanlyWithoutMemory)
{
    rh::fail_all_allocations();
    EXPECT_EQ(json_value_init_object(), nullptr);
    EXPECT_EQ(json_value_init_array(), nullptr);
    EXPECT_EQ(json_value_init_string("x"), nullptr);
    EXPECT_EQ(json_value_init_number(1), nullptr);
    EXPECT_EQ(json_value_init_boolean(1), nullptr);
    EXPECT_EQ(json_value_init_null(), nullptr);
    rh::fail_allocation(0);
}

TEST_F(ValueTest, CopyTextCopiesItsBytesNulsIncludedIntoABlockOfOneMore)
{
    char *copy = copy_text({"a\0c", 3});
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(memcmp(copy, "a\0c", 4), 0);
    EXPECT_EQ(rh::allocation_sizes().back(), 4u);
    jsontree_free(copy);
    copy = copy_text({"abcdef", 2});
    EXPECT_STREQ(copy, "ab");
    jsontree_free(copy);
}

// Hooks set to null fall back to the C library's functions instead of
// leaving the library with a hook it would call through.
TEST(AllocationHooks, NullHooksFallBackToTheCLibrary)
{
    json_set_allocation_functions(nullptr, nullptr);
    JSON_Value *value = json_value_init_string("still works");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(json_string(value), "still works");
    json_value_free(value);
    json_set_allocation_functions(malloc, free);
}

}  // namespace
