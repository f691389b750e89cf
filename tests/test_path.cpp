// Dotted paths: walking, creating objects on the way, ownership on failure.
#include "owners.h"
#include "recording_hooks.h"

#include <algorithm>
#include <string>

namespace rh = recording_hooks;

namespace {

class PathTest : public HookedTest {
protected:
    void SetUp() override
    {
        HookedTest::SetUp();
        root_ = json_value_init_object();
        object_ = json_object(root_);
    }
    void TearDown() override
    {
        json_value_free(root_);
        HookedTest::TearDown();
    }

    JSON_Object *child(JSON_Object *parent, const char *name)
    {
        JSON_Value *value = json_value_init_object();
        json_object_set_value(parent, name, value);
        return json_object(value);
    }

    JSON_Value *root_ = nullptr;
    JSON_Object *object_ = nullptr;
};

TEST_F(PathTest, LookupsFollowSegmentsIncludingEmptyOnes)
{
    JSON_Object *outer = child(object_, "outer");
    json_object_set_number(outer, "inner", 1);
    json_object_set_number(object_, "outer.inner", 2);
    json_object_set_number(object_, "", 3);
    JSON_Object *unnamed = child(outer, "");
    json_object_set_number(unnamed, "inner", 4);
    json_object_set_number(unnamed, "", 5);

    const struct {
        const char *path;
        double expected;
    } cases[] = {
        {"outer.inner", 1},   // not the member whose own name holds the dot
        {"", 3},              // the member named by the empty string
        {"outer..inner", 4},  // through outer's member with the empty name
        {"outer..", 5},
    };
    rh::reset_records();
    for (const auto &c : cases)
        EXPECT_EQ(json_object_dotget_number(object_, c.path), c.expected) << c.path;
    EXPECT_EQ(json_object_dotget_object(object_, "outer."), unnamed);
    EXPECT_EQ(rh::allocation_count(), 0u) << "lookups allocate nothing";
}

TEST_F(PathTest, ArraysAreNeverSteppedInto)
{
    JSON_Value *items = json_value_init_array();
    json_array_append_number(json_array(items), 7);
    json_object_set_value(object_, "items", items);
    EXPECT_EQ(json_object_dotget_value(object_, "items.0"), nullptr);
    EXPECT_EQ(json_object_dotget_array(object_, "items"), json_array(items));
    EXPECT_EQ(json_object_dotset_number(object_, "items.0", 1), JSONFailure);
    EXPECT_EQ(json_array_get_count(json_array(items)), 1u);
}

TEST_F(PathTest, TypedLookupsGiveNeutralResults)
{
    json_object_dotset_boolean(object_, "a.flag", 0);
    json_object_dotset_string(object_, "a.name", "gw");
    EXPECT_EQ(json_object_dotget_boolean(object_, "a.flag"), 0);
    EXPECT_EQ(json_object_dotget_boolean(object_, "a.missing"), -1);
    EXPECT_EQ(json_object_dotget_number(object_, "a.missing"), 0.0);
    EXPECT_STREQ(json_object_dotget_string(object_, "a.name"), "gw");
    EXPECT_EQ(json_object_dotget_string(object_, "a.flag"), nullptr);
    EXPECT_EQ(json_object_dotget_object(object_, "a.name"), nullptr);
    EXPECT_EQ(json_object_dotget_value(object_, "a.name.deeper"), nullptr);
    const struct {
        const JSON_Object *object;
        const char *path;
        int has, has_boolean;
    } presence[] = {{object_, "a.flag", 1, 1},    {object_, "a.name", 1, 0},
                    {object_, "a.missing", 0, 0}, {object_, "a.name.deeper", 0, 0},
                    {object_, nullptr, 0, 0},     {nullptr, "a.flag", 0, 0}};
    for (const auto &c : presence) {
        EXPECT_EQ(json_object_dothas_value(c.object, c.path), c.has) << c.path;
        EXPECT_EQ(json_object_dothas_value_of_type(c.object, c.path, JSONBoolean), c.has_boolean);
        EXPECT_EQ(json_object_dothas_value_of_type(c.object, c.path, JSONError), 0);
        EXPECT_EQ(json_object_dotget_string_len(c.object, c.path), (c.has - c.has_boolean) * 2u);
    }
}

TEST_F(PathTest, StoringCreatesMissingObjectsAndKeepsPositions)
{
    ASSERT_EQ(json_object_dotset_number(object_, "outer.inner.leaf", 1), JSONSuccess);
    EXPECT_EQ(json_object_get_count(object_), 1u);
    EXPECT_EQ(json_object_dotget_number(object_, "outer.inner.leaf"), 1.0);
    json_object_set_null(object_, "later");

    JSON_Value *old_outer = json_object_get_value(object_, "outer");
    rh::reset_records();
    ASSERT_EQ(json_object_dotset_string(object_, "outer", "flat"), JSONSuccess);
    EXPECT_STREQ(json_object_get_name(object_, 0), "outer") << "replaced in place";
    EXPECT_STREQ(json_object_dotget_string(object_, "outer"), "flat");
    EXPECT_NE(std::find(rh::releases().begin(), rh::releases().end(), old_outer),
              rh::releases().end())
        << "the replaced value is released";

    ASSERT_EQ(json_object_dotset_null(object_, "added"), JSONSuccess);
    EXPECT_STREQ(json_object_get_name(object_, 2), "added") << "new members come last";
}

TEST_F(PathTest, StoringThroughAScalarFailsAndKeepsItsValue)
{
    json_object_set_number(object_, "outer", 5);
    JSON_Value *value = json_value_init_boolean(1);
    EXPECT_EQ(json_object_dotset_value(object_, "outer.inner", value), JSONFailure);
    EXPECT_EQ(json_object_get_number(object_, "outer"), 5.0);
    EXPECT_EQ(json_boolean(value), 1) << "a failed dotset leaves the value with the caller";
    json_value_free(value);

    size_t live_before = rh::live_blocks();
    EXPECT_EQ(json_object_dotset_number(object_, "outer.inner", 1), JSONFailure);
    EXPECT_EQ(json_object_dotset_string(object_, "x.y", "\xFF"), JSONFailure);
    EXPECT_EQ(json_object_dotset_null(object_, "x.\xFF\xFE"), JSONFailure);
    EXPECT_EQ(json_object_set_boolean(object_, "caf\xC3", 1), JSONFailure);
    EXPECT_EQ(rh::live_blocks(), live_before) << "typed stores release their value";
    EXPECT_EQ(json_object_get_count(object_), 1u) << "invalid text or names change nothing";
}

TEST_F(PathTest, AFailedStoreKeepsTheObjectsItCreatedAndTheCallersValue)
{
    bool kept_a_created_object = false;
    for (size_t k = 1;; k++) {
        JSON_Value *fresh = json_value_init_object();
        JSON_Value *value = json_value_init_boolean(1);
        rh::fail_allocation(k);
        JSON_Status status = json_object_dotset_value(json_object(fresh), "a.b.leaf", value);
        bool fired = rh::failure_fired();
        rh::fail_allocation(0);
        if (status == JSONSuccess) {
            EXPECT_FALSE(fired);
            EXPECT_EQ(json_object_dotget_boolean(json_object(fresh), "a.b.leaf"), 1);
            json_value_free(fresh);
            break;
        }
        ASSERT_TRUE(fired) << k;
        EXPECT_EQ(json_boolean(value), 1) << "still the caller's after failure " << k;
        EXPECT_EQ(json_object_dotget_value(json_object(fresh), "a.b.leaf"), nullptr);
        if (json_object_get_value(json_object(fresh), "a")) {
            EXPECT_NE(json_object_dotget_object(json_object(fresh), "a"), nullptr);
            kept_a_created_object = true;
        }
        json_value_free(value);
        json_value_free(fresh);
    }
    EXPECT_TRUE(kept_a_created_object) << "objects made before a failure are not rolled back";
}

TEST_F(PathTest, RemovalLeavesTheObjectsOnTheWay)
{
    json_object_dotset_number(object_, "outer.inner", 1);
    EXPECT_EQ(json_object_dotremove(object_, "outer.inner"), JSONSuccess);
    ASSERT_NE(json_object_dotget_object(object_, "outer"), nullptr);
    EXPECT_EQ(json_object_get_count(json_object_dotget_object(object_, "outer")), 0u);
    EXPECT_EQ(json_object_dotremove(object_, "outer.inner"), JSONFailure);
    EXPECT_EQ(json_object_dotremove(object_, "missing.inner"), JSONFailure);
    EXPECT_EQ(json_object_dotremove(object_, "outer"), JSONSuccess);
    EXPECT_EQ(json_object_get_count(object_), 0u);
}

}  // namespace
