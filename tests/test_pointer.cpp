// JSON Pointers: the RFC's examples, adds and removals, and what they refuse.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <string>

namespace {

using PointerTest = HookedTest;

TEST_F(PointerTest, LookupsFollowTheRfcExamples)
{
    ValuePtr document = value_of(R"({"foo":["bar","baz"],"":0,"a/b":1,"c%d":2,"e^f":3,"g|h":4,)"
                                 R"("i\\j":5,"k\"l":6," ":7,"m~n":8})");
    const char *const cases[][2] = {
        {"", R"({"foo":["bar","baz"],"":0,"a\/b":1,"c%d":2,"e^f":3,"g|h":4,)"
             R"("i\\j":5,"k\"l":6," ":7,"m~n":8})"},
        {"/foo", R"(["bar","baz"])"},
        {"/foo/0", R"("bar")"},
        {"/", "0"},
        {"/a~1b", "1"},
        {"/c%d", "2"},
        {"/e^f", "3"},
        {"/g|h", "4"},
        {"/i\\j", "5"},
        {"/k\"l", "6"},
        {"/ ", "7"},
        {"/m~0n", "8"},
        // Leading nowhere, or no pointer at all.
        {"/foo/2", "<null>"},
        {"/foo/-", "<null>"},
        {"/foo/01", "<null>"},
        {"/foo/0/bar", "<null>"},
        {"/a/b", "<null>"},
        {"/m~2n", "<null>"},
        {"/m~", "<null>"},
        {"foo", "<null>"},
    };
    for (const auto &c : cases) {
        recording_hooks::reset_records();
        const JSON_Value *found = json_pointer_get(document.get(), c[0]);
        EXPECT_EQ(recording_hooks::allocation_count(), 0u) << "lookups allocate nothing";
        EXPECT_EQ(text_of(found), c[1]) << c[0];
    }
}

TEST_F(PointerTest, AddsAndRemovalsChangeOnlyWhatTheyName)
{
    const char *const document = R"({"a":{"b":1,"c":2,"d":3},"x":[1,2,3]})";
    const struct {
        const char *pointer;
        const char *added;   // null: a removal
        const char *result;  // null: refused, the document unchanged
    } cases[] = {
        {"/a/e", "4", R"({"a":{"b":1,"c":2,"d":3,"e":4},"x":[1,2,3]})"},
        {"/a/c", "[]", R"({"a":{"b":1,"c":[],"d":3},"x":[1,2,3]})"},
        {"/a/~1~0", "0", R"({"a":{"b":1,"c":2,"d":3,"\/~":0},"x":[1,2,3]})"},
        {"/a/~01", "0", R"({"a":{"b":1,"c":2,"d":3,"~1":0},"x":[1,2,3]})"},
        {"/x/0", "0", R"({"a":{"b":1,"c":2,"d":3},"x":[0,1,2,3]})"},
        {"/x/2", "9", R"({"a":{"b":1,"c":2,"d":3},"x":[1,2,9,3]})"},
        {"/x/3", "4", R"({"a":{"b":1,"c":2,"d":3},"x":[1,2,3,4]})"},
        {"/x/-", "4", R"({"a":{"b":1,"c":2,"d":3},"x":[1,2,3,4]})"},
        {"/x/4", "4", nullptr},
        {"/y/z", "4", nullptr},
        {"/a/b/c", "4", nullptr},
        {"", "4", nullptr},
        {"/a/b", nullptr, R"({"a":{"c":2,"d":3},"x":[1,2,3]})"},
        {"/x/0", nullptr, R"({"a":{"b":1,"c":2,"d":3},"x":[2,3]})"},
        {"/x/3", nullptr, nullptr},
        {"/a/e", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.pointer) + (c.added ? " add " : " remove"));
        ValuePtr root = value_of(document);
        ValuePtr added = c.added ? value_of(c.added) : nullptr;
        JSON_Status status = c.added ? json_pointer_add(root.get(), c.pointer, added.get())
                                     : json_pointer_remove(root.get(), c.pointer);
        EXPECT_EQ(status, c.result ? JSONSuccess : JSONFailure);
        if (status == JSONSuccess)
            added.release();  // the tree's now
        EXPECT_EQ(text_of(root.get()), c.result ? c.result : document);
    }
}

TEST_F(PointerTest, AValueThatHoldsItsContainerIsRefused)
{
    ValuePtr root = value_of(R"({"list":[{"inner":[]}]})");
    JSON_Value *list = json_pointer_get(root.get(), "/list");
    EXPECT_EQ(json_pointer_add(root.get(), "/list/0/inner/-", list), JSONFailure);
    EXPECT_EQ(json_pointer_add(root.get(), "/self", root.get()), JSONFailure);
    EXPECT_EQ(text_of(root.get()), R"({"list":[{"inner":[]}]})");
}

}  // namespace
