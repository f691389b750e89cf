// The serializer's texts: both forms byte for byte, escapes, exact sizes and
// failures. Number texts: test_number_write.cpp.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"
#include "value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

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
