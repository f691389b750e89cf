// The capacity limits, 960 members and 122,880 items: one entry more is
// refused however the container was filled and however the entry comes, and
// the refusal changes nothing.
#include "parse_texts.h"
#include "recording_hooks.h"
#include "value.h"

#include <string>

namespace rh = recording_hooks;

namespace {

using LimitTest = HookedTest;

// Containers of a given count, filled by stores or parsed from text; the
// parser trims what it closes to its count.
JSON_Value *object_by_stores(size_t count)
{
    JSON_Value *root = json_value_init_object();
    for (size_t i = 0; i < count; i++)
        json_object_set_null(json_object(root), member_name(i).c_str());
    return root;
}

JSON_Value *array_by_appends(size_t count)
{
    JSON_Value *root = json_value_init_array();
    for (size_t i = 0; i < count; i++)
        json_array_append_null(json_array(root));
    return root;
}

JSON_Value *parsed_object(size_t count)
{
    JSON_Value *root = json_parse_string(object_text(count).c_str());
    if (root) {
        EXPECT_EQ(json_object(root)->capacity, count);
    }
    return root;
}

JSON_Value *parsed_array(size_t count)
{
    JSON_Value *root = json_parse_string(array_text(count).c_str());
    if (root) {
        EXPECT_EQ(json_array(root)->capacity, count);
    }
    return root;
}

size_t entry_count(const JSON_Value *container)
{
    return json_object_get_count(json_object(container)) +
           json_array_get_count(json_array(container));
}

// One entry more, by each kind of store.
JSON_Status store_value(JSON_Value *container)
{
    JSON_Value *extra = json_value_init_null();
    JSON_Status status = json_object(container)
                             ? json_object_set_value(json_object(container), "extra", extra)
                             : json_array_append_value(json_array(container), extra);
    if (status != JSONSuccess) {
        EXPECT_EQ(json_type(extra), JSONNull) << "the refused value is still the caller's";
        json_value_free(extra);
    }
    return status;
}

JSON_Status store_typed(JSON_Value *container)
{
    return json_object(container) ? json_object_set_boolean(json_object(container), "extra", 1)
                                  : json_array_append_number(json_array(container), 1);
}

JSON_Status dotted_store(JSON_Value *container)
{
    return json_object_dotset_number(json_object(container), "extra", 1);
}

JSON_Status dotted_store_on_the_way(JSON_Value *container)
{
    return json_object_dotset_number(json_object(container), "extra.inner", 1);
}

JSON_Status dotted_replacement(JSON_Value *container)
{
    return json_object_dotset_number(json_object(container), "m0", 1);
}

TEST_F(LimitTest, CapacityLimitsRefuseOneEntryMoreHoweverItComes)
{
    const struct {
        JSON_Value *(*make)(size_t);
        size_t count;
        JSON_Status (*store)(JSON_Value *);  // null: the text is refused whole
        JSON_Status stored;
        size_t count_after;
    } cases[] = {
        {object_by_stores, 960, store_value, JSONFailure, 960},
        {object_by_stores, 960, store_typed, JSONFailure, 960},
        {object_by_stores, 960, dotted_store, JSONFailure, 960},
        {object_by_stores, 960, dotted_store_on_the_way, JSONFailure, 960},
        {object_by_stores, 960, dotted_replacement, JSONSuccess, 960},
        // Trimmed when parsed, a container below the limit grows again.
        {parsed_object, 481, store_typed, JSONSuccess, 482},
        {parsed_object, 959, store_typed, JSONSuccess, 960},
        {parsed_object, 960, store_typed, JSONFailure, 960},
        {parsed_object, 961, nullptr, JSONFailure, 0},
        {array_by_appends, 122880, store_value, JSONFailure, 122880},
        {array_by_appends, 122880, store_typed, JSONFailure, 122880},
        {parsed_array, 61441, store_typed, JSONSuccess, 61442},
        {parsed_array, 122879, store_typed, JSONSuccess, 122880},
        {parsed_array, 122880, store_typed, JSONFailure, 122880},
        {parsed_array, 122881, nullptr, JSONFailure, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        JSON_Value *container = c.make(c.count);
        if (!c.store) {
            EXPECT_EQ(container, nullptr);
            continue;
        }
        ASSERT_EQ(entry_count(container), c.count);
        size_t live_before = rh::live_blocks();
        EXPECT_EQ(c.store(container), c.stored);
        EXPECT_EQ(entry_count(container), c.count_after);
        if (c.stored == JSONFailure) {
            EXPECT_EQ(rh::live_blocks(), live_before) << "a refused store releases what it made";
        }
        json_value_free(container);
    }
}

}  // namespace
