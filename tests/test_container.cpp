// Objects and arrays: growth, ownership on failure, removal, clearing.
#include "container.h"
#include "parse_texts.h"
#include "recording_hooks.h"

#include <algorithm>
#include <string>
#include <vector>

using jsontree::detail::add_member;
using jsontree::detail::find_member;
using jsontree::detail::resize_members;

namespace rh = recording_hooks;

namespace {

using ContainerTest = HookedTest;

// Slot arrays are the only blocks of at least 15 pointers that these tests
// allocate, so their sizes reveal every capacity the container grew to.
std::vector<size_t> slot_capacities()
{
    std::vector<size_t> capacities;
    for (size_t size : rh::allocation_sizes()) {
        if (size >= 15 * sizeof(void *) && size % sizeof(void *) == 0)
            capacities.push_back(size / sizeof(void *));
    }
    return capacities;
}

TEST_F(ContainerTest, ObjectGrowsFrom15ByDoublingTo960Members)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    for (size_t i = 0; i < 960; i++)
        ASSERT_EQ(json_object_set_number(object, member_name(i).c_str(), double(i)), JSONSuccess);
    const std::vector<size_t> expected = {15,  15,  30,  30,  60,  60,  120,
                                          120, 240, 240, 480, 480, 960, 960};
    EXPECT_EQ(slot_capacities(), expected) << "names and values grow together";
    json_value_free(root);
}

TEST_F(ContainerTest, ArrayGrowsFrom15ByDoublingTo122880Items)
{
    JSON_Value *root = json_value_init_array();
    JSON_Array *array = json_array(root);
    for (size_t i = 0; i < 122880; i++)
        ASSERT_EQ(json_array_append_null(array), JSONSuccess);
    const std::vector<size_t> expected = {15,   30,   60,   120,   240,   480,   960,
                                          1920, 3840, 7680, 15360, 30720, 61440, 122880};
    EXPECT_EQ(slot_capacities(), expected);
    json_value_free(root);
}

TEST_F(ContainerTest, ReleasingAnObjectGoesFromTheLastMemberToTheFirst)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    const char *names[] = {"first", "second", "third"};
    JSON_Value *values[3];
    for (int i = 0; i < 3; i++) {
        values[i] = json_value_init_boolean(i);
        ASSERT_EQ(json_object_set_value(object, names[i], values[i]), JSONSuccess);
    }
    std::vector<void *> expected;
    for (int i = 2; i >= 0; i--) {
        expected.push_back(const_cast<char *>(json_object_get_name(object, size_t(i))));
        expected.push_back(values[i]);
    }
    expected.push_back(object->names);
    expected.push_back(object->values);
    expected.push_back(object);
    expected.push_back(root);

    rh::reset_records();
    json_value_free(root);
    EXPECT_EQ(rh::releases(), expected);
}

TEST_F(ContainerTest, SettingAnExistingMemberReplacesItInPlace)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    json_object_set_number(object, "a", 1);
    json_object_set_number(object, "b", 2);
    JSON_Value *old_b = json_object_get_value(object, "b");

    rh::reset_records();
    EXPECT_EQ(json_object_set_string(object, "b", "two"), JSONSuccess);
    EXPECT_EQ(json_object_get_count(object), 2u);
    EXPECT_STREQ(json_object_get_name(object, 1), "b");
    EXPECT_STREQ(json_object_get_string(object, "b"), "two");
    ASSERT_FALSE(rh::releases().empty());
    EXPECT_EQ(rh::releases().front(), old_b) << "the old value is released";

    JSON_Value *other = json_value_init_null();
    EXPECT_FALSE(add_member(object, "a", other)) << "add refuses duplicates";
    EXPECT_EQ(json_object_get_number(object, "a"), 1.0);
    json_value_free(other);
    json_value_free(root);
}

TEST_F(ContainerTest, ValuesByIndexPairWithNames)
{
    ValuePtr root(json_parse_string(R"({"a":1,"b":[2],"c":null})"));
    const JSON_Object *object = json_object(root.get());
    for (size_t i = 0; i < json_object_get_count(object); i++) {
        EXPECT_EQ(json_object_get_value_at(object, i),
                  json_object_get_value(object, json_object_get_name(object, i)))
            << i;
    }
    EXPECT_EQ(json_object_get_value_at(object, 3), nullptr);
}

TEST_F(ContainerTest, RemovalMovesTheLastEntryIntoTheGap)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    for (const char *name : {"p0", "p1", "p2", "p3"})
        json_object_set_null(object, name);
    EXPECT_EQ(json_object_remove(object, "p1"), JSONSuccess);
    ASSERT_EQ(json_object_get_count(object), 3u);
    EXPECT_STREQ(json_object_get_name(object, 0), "p0");
    EXPECT_STREQ(json_object_get_name(object, 1), "p3");
    EXPECT_STREQ(json_object_get_name(object, 2), "p2");
    EXPECT_EQ(json_object_remove(object, "p2"), JSONSuccess) << "removing the last moves nothing";
    EXPECT_STREQ(json_object_get_name(object, 1), "p3");
    EXPECT_EQ(json_object_remove(object, "missing"), JSONFailure);
    EXPECT_EQ(json_object_remove(object, nullptr), JSONFailure);
    EXPECT_EQ(json_object_remove(nullptr, "p0"), JSONFailure);
    EXPECT_EQ(json_object_get_count(object), 2u);
    json_value_free(root);

    JSON_Value *list = json_value_init_array();
    JSON_Array *array = json_array(list);
    for (const char *item : {"A", "B", "C", "D"})
        json_array_append_string(array, item);
    EXPECT_EQ(json_array_remove(array, 1), JSONSuccess);
    std::vector<std::string> left;
    for (size_t i = 0; i < json_array_get_count(array); i++)
        left.emplace_back(json_array_get_string(array, i));
    EXPECT_EQ(left, (std::vector<std::string>{"A", "D", "C"}));
    EXPECT_EQ(json_array_remove(array, 3), JSONFailure);
    json_value_free(list);
}

TEST_F(ContainerTest, ClearingKeepsCapacitySoRefillingAllocatesNoSlots)
{
    JSON_Value *list = json_value_init_array();
    JSON_Array *array = json_array(list);
    for (int i = 0; i < 20; i++)
        json_array_append_number(array, i);
    EXPECT_EQ(json_array_clear(array), JSONSuccess);
    EXPECT_EQ(json_array_get_count(array), 0u);
    rh::reset_records();
    for (int i = 0; i < 30; i++)
        ASSERT_EQ(json_array_append_number(array, i), JSONSuccess);
    EXPECT_TRUE(slot_capacities().empty()) << "capacity 30 was kept";
    EXPECT_EQ(rh::allocation_count(), 30u) << "one block per number, none for slots";
    json_value_free(list);

    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    json_object_set_null(object, "x");
    EXPECT_EQ(json_object_clear(object), JSONSuccess);
    EXPECT_EQ(json_object_get_count(object), 0u);
    EXPECT_EQ(json_object_clear(nullptr), JSONFailure);
    EXPECT_EQ(json_array_clear(nullptr), JSONFailure);
    json_value_free(root);
}

TEST_F(ContainerTest, LookupByLengthMatchesWholeNamesOnly)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    json_object_set_number(object, "a", 1);
    json_object_set_number(object, "a.b", 2);
    EXPECT_EQ(json_number(find_member(object, "a.b", 1)), 1.0);
    EXPECT_EQ(json_number(find_member(object, "a.b", 3)), 2.0);
    EXPECT_EQ(find_member(object, "a.b", 2), nullptr);
    EXPECT_EQ(find_member(nullptr, "a", 1), nullptr);
    EXPECT_EQ(json_object_get_value(object, "A"), nullptr) << "names are case-sensitive";
    json_value_free(root);
}

TEST_F(ContainerTest, GettersGiveNeutralResultsForMissingOrMistypedEntries)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    json_object_set_string(object, "text", "t");
    JSON_Value *list = json_value_init_array();
    json_array_append_string(json_array(list), "t");
    const JSON_Array *array = json_array(list);

    for (const char *name : {"text", "missing", static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(json_object_get_number(object, name), 0.0);
        EXPECT_EQ(json_object_get_boolean(object, name), -1);
        EXPECT_EQ(json_object_get_object(object, name), nullptr);
        EXPECT_EQ(json_object_get_array(object, name), nullptr);
    }
    json_object_set_number(object, "zero", 0);
    const struct {
        const JSON_Object *object;
        const char *name;
        int has, has_number;
    } presence[] = {{object, "zero", 1, 1},
                    {object, "text", 1, 0},
                    {object, "missing", 0, 0},
                    {object, nullptr, 0, 0},
                    {nullptr, "zero", 0, 0}};
    for (const auto &c : presence) {
        EXPECT_EQ(json_object_has_value(c.object, c.name), c.has) << c.name;
        EXPECT_EQ(json_object_has_value_of_type(c.object, c.name, JSONNumber), c.has_number);
        EXPECT_EQ(json_object_has_value_of_type(c.object, c.name, JSONError), 0);
        EXPECT_EQ(json_object_get_string_len(c.object, c.name), c.has - c.has_number);
    }
    EXPECT_EQ(json_array_get_string_len(array, 0), 1u);
    EXPECT_EQ(json_array_get_string_len(array, 1), 0u);
    for (size_t index : {size_t(0), size_t(1)}) {
        EXPECT_EQ(json_array_get_number(array, index), 0.0);
        EXPECT_EQ(json_array_get_boolean(array, index), -1);
        EXPECT_EQ(json_array_get_object(array, index), nullptr);
        EXPECT_EQ(json_array_get_array(array, index), nullptr);
    }
    EXPECT_EQ(json_array_get_string(array, 1), nullptr) << "index equal to the count";
    EXPECT_EQ(json_array_get_value(nullptr, 0), nullptr);
    EXPECT_EQ(json_object_get_count(nullptr), 0u);
    EXPECT_EQ(json_array_get_count(nullptr), 0u);
    EXPECT_EQ(json_object_get_name(nullptr, 0), nullptr);
    EXPECT_EQ(json_object_get_name(object, 2), nullptr);
    json_value_free(list);
    json_value_free(root);
}

TEST_F(ContainerTest, ReplacingItems)
{
    JSON_Value *list = json_value_init_array();
    JSON_Array *array = json_array(list);
    json_array_append_string(array, "old");
    EXPECT_EQ(json_array_replace_string(array, 0, "\xC0\x80"), JSONFailure);
    EXPECT_STREQ(json_array_get_string(array, 0), "old") << "invalid UTF-8 keeps the old item";
    EXPECT_EQ(json_array_replace_number(array, 0, 7), JSONSuccess);
    EXPECT_EQ(json_array_get_number(array, 0), 7.0);
    EXPECT_EQ(json_array_replace_boolean(array, 0, 3), JSONSuccess);
    EXPECT_EQ(json_array_get_boolean(array, 0), 1);
    EXPECT_EQ(json_array_replace_null(array, 0), JSONSuccess);
    EXPECT_EQ(json_type(json_array_get_value(array, 0)), JSONNull);

    size_t live_before = rh::live_blocks();
    EXPECT_EQ(json_array_replace_null(array, 1), JSONFailure) << "index equal to the count";
    EXPECT_EQ(json_array_replace_number(nullptr, 0, 1), JSONFailure);
    EXPECT_EQ(rh::live_blocks(), live_before);
    JSON_Value *kept = json_value_init_null();
    EXPECT_EQ(json_array_replace_value(array, 5, kept), JSONFailure);
    EXPECT_EQ(json_array_replace_value(array, 0, nullptr), JSONFailure);
    json_value_free(kept);
    json_value_free(list);
}

TEST_F(ContainerTest, StoringWhereTheValueAlreadyLiesReleasesNothing)
{
    const char *document = R"({"a":{"b":{"c":1}},"list":[[3],4]})";
    const struct {
        const char *store_at;  // "list" stands for its item 0
        const char *value_at;  // "list" for its item 0, "list.0" for that item's item 0,
                               // "" for the root
        JSON_Status expected;
    } cases[] = {
        {"a", "a", JSONSuccess},
        {"a", "a.b.c", JSONFailure},
        {"a.b", "a.b", JSONSuccess},
        {"a.b", "a.b.c", JSONFailure},
        {"list", "list", JSONSuccess},
        {"list", "list.0", JSONFailure},
        // The container stored into lies inside the value: a cycle.
        {"a.b", "a", JSONFailure},
        {"list", "", JSONFailure},
        {"a.x", "", JSONFailure},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.store_at) + " <- " + c.value_at);
        JSON_Value *root = json_parse_string(document);
        JSON_Object *object = json_object(root);
        JSON_Array *list = json_object_get_array(object, "list");
        JSON_Value *value = json_object_dotget_value(object, c.value_at);
        if (strcmp(c.value_at, "list") == 0)
            value = json_array_get_value(list, 0);
        if (strcmp(c.value_at, "list.0") == 0)
            value = json_array_get_value(json_array_get_array(list, 0), 0);
        if (*c.value_at == '\0')
            value = root;
        bool in_list = strcmp(c.store_at, "list") == 0;
        rh::reset_records();
        size_t live_before = rh::live_blocks();
        EXPECT_EQ(in_list ? json_array_replace_value(list, 0, value)
                          : json_object_dotset_value(object, c.store_at, value),
                  c.expected);
        const auto &released = rh::releases();
        ASSERT_EQ(std::find(released.begin(), released.end(), value), released.end());
        EXPECT_EQ(rh::live_blocks(), live_before);
        char *text = json_serialize_to_string(root);
        EXPECT_STREQ(text, document);
        json_free_serialized_string(text);
        json_value_free(root);
    }
}

TEST_F(ContainerTest, NullArgumentsFailAndReleaseWhatTheSettersMade)
{
    EXPECT_EQ(json_object_set_string(nullptr, "a", "text"), JSONFailure);
    EXPECT_EQ(json_object_set_number(nullptr, "a", 1), JSONFailure);
    EXPECT_EQ(json_object_set_null(nullptr, "a"), JSONFailure);
    EXPECT_EQ(json_array_append_boolean(nullptr, 1), JSONFailure);
    EXPECT_EQ(rh::allocation_count(), 5u)
        << "each made and released its value (a string is two blocks)";
    EXPECT_EQ(rh::live_blocks(), 0u);
}

TEST_F(ContainerTest, FailedAllocationsLeaveTheContainerAsItWas)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    JSON_Value *value = json_value_init_null();
    // First member: names slots, values slots, name copy; each may fail.
    for (size_t k = 1; k <= 3; k++) {
        rh::fail_allocation(k);
        EXPECT_EQ(json_object_set_value(object, "key", value), JSONFailure) << k;
        EXPECT_EQ(json_object_get_count(object), 0u);
    }
    rh::fail_allocation(0);
    EXPECT_EQ(json_object_set_value(object, "key", value), JSONSuccess);

    JSON_Value *list = json_value_init_array();
    rh::fail_allocation(1);
    EXPECT_EQ(json_array_append_null(json_array(list)), JSONFailure);
    rh::fail_allocation(2);
    EXPECT_EQ(json_array_append_null(json_array(list)), JSONFailure);
    rh::fail_allocation(0);
    EXPECT_EQ(json_array_get_count(json_array(list)), 0u);
    json_value_free(list);
    json_value_free(root);
}

// The parser leaves a container at a capacity equal to its count; growth from
// there stops at the limit rather than doubling past it.
TEST_F(ContainerTest, TrimmedContainersGrowByTheSameRule)
{
    JSON_Value *root = json_value_init_object();
    JSON_Object *object = json_object(root);
    for (size_t i = 0; i < 3; i++)
        json_object_set_null(object, member_name(i).c_str());
    ASSERT_TRUE(resize_members(object, 3));
    rh::reset_records();
    json_object_set_null(object, "fourth");
    EXPECT_EQ(object->capacity, 15u);

    for (size_t i = 4; i < 500; i++)
        json_object_set_null(object, member_name(i).c_str());
    ASSERT_TRUE(resize_members(object, json_object_get_count(object)));
    EXPECT_EQ(json_object_set_null(object, "one-more"), JSONSuccess);
    EXPECT_EQ(object->capacity, 960u) << "1000 would pass the limit";
    json_value_free(root);
}

}  // namespace
