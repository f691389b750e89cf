// RFC 7386 merge patches: the RFC's own examples, what stays in place, and
// failures that change nothing.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <string>
#include <utility>

namespace {

using MergePatchTest = HookedTest;

TEST_F(MergePatchTest, RfcExamples)
{
    const char *const cases[][3] = {
        // target, patch, result: section 3, then appendix A.
        {R"({"title":"Goodbye!","author":{"givenName":"John","familyName":"Doe"},
            "tags":["example","sample"],"content":"This will be unchanged"})",
         R"({"title":"Hello!","phoneNumber":"+01-123-456-7890","author":{"familyName":null},
            "tags":["example"]})",
         R"({"title":"Hello!","author":{"givenName":"John"},"tags":["example"],)"
         R"("content":"This will be unchanged","phoneNumber":"+01-123-456-7890"})"},
        {R"({"a":"b"})", R"({"a":"c"})", R"({"a":"c"})"},
        {R"({"a":"b"})", R"({"b":"c"})", R"({"a":"b","b":"c"})"},
        {R"({"a":"b"})", R"({"a":null})", R"({})"},
        {R"({"a":"b","b":"c"})", R"({"a":null})", R"({"b":"c"})"},
        {R"({"a":["b"]})", R"({"a":"c"})", R"({"a":"c"})"},
        {R"({"a":"c"})", R"({"a":["b"]})", R"({"a":["b"]})"},
        {R"({"a":{"b":"c"}})", R"({"a":{"b":"d","c":null}})", R"({"a":{"b":"d"}})"},
        {R"({"a":[{"b":"c"}]})", R"({"a":[1]})", R"({"a":[1]})"},
        {R"(["a","b"])", R"(["c","d"])", R"(["c","d"])"},
        {R"({"a":"b"})", R"(["c"])", R"(["c"])"},
        {R"({"a":"foo"})", "null", "null"},
        {R"({"a":"foo"})", R"("bar")", R"("bar")"},
        {R"({"e":null})", R"({"a":1})", R"({"e":null,"a":1})"},
        {R"([1,2])", R"({"a":"b","c":null})", R"({"a":"b"})"},
        {R"({})", R"({"a":{"bb":{"ccc":null}}})", R"({"a":{"bb":{}}})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c[0]) + " <- " + c[1]);
        ValuePtr target = value_of(c[0]), patch = value_of(c[1]);
        ASSERT_EQ(json_value_merge_patch(target.get(), patch.get()), JSONSuccess);
        EXPECT_EQ(text_of(target.get()), c[2]);
    }
}

TEST_F(MergePatchTest, WhatThePatchLeavesAloneStaysInPlace)
{
    ValuePtr target = value_of(R"({"keep":[1],"merge":{"x":1},"drop":2})");
    ValuePtr patch = value_of(R"({"merge":{"z":2},"drop":null})");
    JSON_Object *root = json_object(target.get());
    const JSON_Value *kept = json_object_get_value(root, "keep");
    const JSON_Object *merged = json_object_get_object(root, "merge");
    ASSERT_EQ(json_value_merge_patch(target.get(), patch.get()), JSONSuccess);
    EXPECT_EQ(json_object(target.get()), root);
    EXPECT_EQ(json_object_get_value(root, "keep"), kept);
    EXPECT_EQ(json_object_get_object(root, "merge"), merged);
}

TEST_F(MergePatchTest, FailuresChangeNothing)
{
    std::string full = R"({"k0":0)";
    for (int i = 1; i < JSON_MAX_MEMBERS; i++)
        full += ",\"k" + std::to_string(i) + "\":0";
    const struct {
        std::string target, patch;
        JSON_Status status;
    } cases[] = {
        {full + "}", R"({"one":1,"k0":null,"two":2})", JSONFailure},
        {full + "}", R"({"one":1,"k0":null})", JSONSuccess},  // a removal makes room
        {R"({"a":{"b":{"x":1}}})", R"({"a":{"b":)" + full + "}}}", JSONFailure},
        {R"({"a":1})", "9007199254740993", JSONFailure},  // the target has no room for it
    };
    for (const auto &c : cases) {
        ValuePtr target = value_of(c.target), patch = value_of(c.patch);
        const std::string before = text_of(target.get());
        EXPECT_EQ(json_value_merge_patch(target.get(), patch.get()), c.status) << c.patch;
        EXPECT_EQ(text_of(target.get()) == before, c.status == JSONFailure) << c.patch;
    }
    ValuePtr tree = value_of(R"({"a":{"a":null}})");
    JSON_Value *inner = json_object_get_value(json_object(tree.get()), "a");
    using Arguments = std::pair<JSON_Value *, const JSON_Value *>;
    for (auto [target, patch] : {Arguments{tree.get(), inner}, Arguments{inner, tree.get()},
                                 Arguments{tree.get(), tree.get()}, Arguments{tree.get(), nullptr},
                                 Arguments{nullptr, inner}})
        EXPECT_EQ(json_value_merge_patch(target, patch), JSONFailure);
    EXPECT_EQ(text_of(tree.get()), R"({"a":{"a":null}})");
}

}  // namespace
