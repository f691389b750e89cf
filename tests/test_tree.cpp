// Deep copy, equality and schema validation.
#include "owners.h"
#include "recording_hooks.h"

#include "jsontree.h"

#include <pthread.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace rh = recording_hooks;

namespace {

ValuePtr parse(const char *text)
{
    ValuePtr value(json_parse_string(text));
    EXPECT_NE(value, nullptr) << text;
    return value;
}

using TreeTest = HookedTest;

const char *const DOCUMENT = R"({"name":"gw\/1","port":1700,"gain":2.5,"on":true,
    "items":[{"id":7,"tag":null},false,"x\u0000y"],"opts":{},"list":[],"deep":{"a":{"b":[1,[2,{"c":"d"}]]}},"id":9007199254740993})";

TEST_F(TreeTest, DeepCopySerializesLikeItsSourceAndOutlivesIt)
{
    ValuePtr source = parse(DOCUMENT);
    ValuePtr copy(json_value_deep_copy(source.get()));
    ASSERT_NE(copy, nullptr);
    char *source_text = json_serialize_to_string_pretty(source.get());
    char *copy_text = json_serialize_to_string_pretty(copy.get());
    ASSERT_NE(source_text, nullptr);
    ASSERT_NE(copy_text, nullptr);
    EXPECT_STREQ(source_text, copy_text);
    EXPECT_NE(strstr(copy_text, R"("x\u0000y")"), nullptr) << "a string is copied whole";
    EXPECT_EQ(json_value_equals(source.get(), copy.get()), 1);
    json_free_serialized_string(source_text);
    source.reset();  // the copy shares nothing, as the sanitizer build checks
    EXPECT_EQ(json_object_dotget_number(json_object(copy.get()), "port"), 1700.0);
    EXPECT_STREQ(json_object_dotget_string(json_object(copy.get()), "name"), "gw/1");
    char *again = json_serialize_to_string_pretty(copy.get());
    EXPECT_STREQ(again, copy_text);
    json_free_serialized_string(again);
    json_free_serialized_string(copy_text);
}

// Runs `work` on a thread with a 256 KB stack: an operation that recurses
// once per level overflows it long before 100,000 levels.
void run_on_small_stack(const std::function<void()> &work)
{
    pthread_attr_t attributes;
    pthread_t thread;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    auto body = [](void *argument) -> void * {
        (*static_cast<std::function<void()> *>(argument))();
        return nullptr;
    };
    ASSERT_EQ(
        pthread_create(&thread, &attributes, body, const_cast<std::function<void()> *>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST_F(TreeTest, TreesOfAnyDepthAreWalkedWithinASmallStack)
{
    for (size_t depth : {size_t(JSON_MAX_DEPTH), size_t(JSON_MAX_DEPTH) + 1, size_t(100000)}) {
        SCOPED_TRACE(depth);
        const bool walkable = depth <= JSON_MAX_DEPTH;
        std::string path = "s";
        for (size_t level = 1; level < depth; level++)
            path += ".s";
        JSON_Value *tree = json_value_init_object();
        ASSERT_EQ(json_object_dotset_number(json_object(tree), path.c_str(), 1), JSONSuccess);
        run_on_small_stack([&] {
            EXPECT_EQ(json_serialization_size(tree) == depth * 6 + 2, walkable);
            char *text = json_serialize_to_string_pretty(tree);
            EXPECT_EQ(text != nullptr, walkable);
            json_free_serialized_string(text);
            ValuePtr copy(json_value_deep_copy(tree));
            EXPECT_EQ(copy != nullptr, walkable);
            EXPECT_EQ(json_value_equals(tree, tree), walkable ? 1 : 0);
            EXPECT_EQ(json_validate(tree, tree), walkable ? JSONSuccess : JSONFailure);
            copy.reset();
            json_value_free(tree);
        });
    }
}

TEST_F(TreeTest, DeepCopyKeepsNumbersBitForBit)
{
    for (double number : {-0.0, double(INFINITY), -double(INFINITY), double(NAN), 5e-324}) {
        ValuePtr source(json_value_init_number(number));
        ValuePtr copy(json_value_deep_copy(source.get()));
        ASSERT_NE(copy, nullptr);
        double copied = json_number(copy.get());
        EXPECT_EQ(std::memcmp(&copied, &number, sizeof number), 0) << number;
    }
    ValuePtr nan(json_value_init_number(NAN));
    ValuePtr nan_copy(json_value_deep_copy(nan.get()));
    EXPECT_EQ(json_value_equals(nan.get(), nan_copy.get()), 0) << "NaN equals nothing";
    EXPECT_EQ(json_value_deep_copy(nullptr), nullptr);
}

TEST_F(TreeTest, DeepCopyFailsCleanlyAtEveryAllocation)
{
    ValuePtr source = parse(DOCUMENT);
    size_t failures = 0;
    for (size_t k = 1;; k++) {
        rh::fail_allocation(k);
        size_t live_before = rh::live_blocks();
        ValuePtr copy(json_value_deep_copy(source.get()));
        bool fired = rh::failure_fired();
        rh::fail_allocation(0);
        if (copy) {
            EXPECT_FALSE(fired);
            EXPECT_EQ(json_value_equals(source.get(), copy.get()), 1);
            break;
        }
        ASSERT_TRUE(fired) << "null without a failed allocation at k=" << k;
        EXPECT_EQ(rh::live_blocks(), live_before) << "partial copy left at k=" << k;
        failures++;
    }
    EXPECT_GT(failures, 30u);
}

struct EqualityCase {
    const char *a;
    const char *b;
    int equal;
};

TEST_F(TreeTest, EqualityCompares)
{
    const EqualityCase cases[] = {
        {"[0]", "[0.0000009]", 1},
        {"[0]", "[0.000001]", 0},  // the tolerance is strict
        {"[1]", "[1.0000005]", 1},
        {"[1]", "[1.00001]", 0},
        {"[1]", "[\"1\"]", 0},
        {R"({"a":1,"b":2})", R"({"b":2,"a":1})", 1},
        {R"({"a":1})", R"({"a":1,"b":2})", 0},
        {R"({"a":1,"c":2})", R"({"a":1,"b":2})", 0},
        {"[1,2]", "[2,1]", 0},
        {"[\"abc\"]", "[\"ABC\"]", 0},
        {"[\"a\\u0000b\"]", "[\"a\\u0000c\"]", 0},
        {"[\"a\\u0000b\"]", "[\"a\"]", 0},
        {"[null]", "[null]", 1},
        {"[true]", "[false]", 0},
        {"{}", "{}", 1},
        {"[]", "[]", 1},
        {"{}", "[]", 0},
        // A literal the double does not hold equals only itself.
        {"[1e400]", "[1e400]", 1},
        {"[1e400]", "[2e400]", 0},
        {"[9007199254740993]", "[9007199254740993]", 1},
        {"[9007199254740993]", "[9007199254740992]", 0},
        {"[1e-400]", "[0]", 1},
    };
    for (const auto &c : cases) {
        ValuePtr a = parse(c.a);
        ValuePtr b = parse(c.b);
        EXPECT_EQ(json_value_equals(a.get(), b.get()), c.equal) << c.a << " vs " << c.b;
        EXPECT_EQ(json_value_equals(b.get(), a.get()), c.equal) << c.b << " vs " << c.a;
    }
    ValuePtr null_value(json_value_init_null());
    EXPECT_EQ(json_value_equals(nullptr, nullptr), 1);
    EXPECT_EQ(json_value_equals(nullptr, null_value.get()), 0);
}

struct ValidationCase {
    const char *schema;
    const char *value;
    JSON_Status expected;
};

TEST_F(TreeTest, ValidationChecksTypesOnly)
{
    const ValidationCase cases[] = {
        {R"(["x"])", R"(["anything"])", JSONSuccess},
        {"[5]", R"(["5"])", JSONFailure},
        {"[true]", "[false]", JSONSuccess},
        {"[null]", R"([{"any":"thing"}])", JSONSuccess},
        {R"({"name":"","port":0})", R"({"name":"gw","port":1700,"extra":true})", JSONSuccess},
        {R"({"name":"","port":0})", R"({"name":"gw"})", JSONFailure},
        {R"({"name":"","port":0})", R"({"name":"gw","port":"1700"})", JSONFailure},
        {R"({"name":"","port":0})", R"({"name":"gw","other":1})", JSONFailure},
        {"{}", R"({"a":[1]})", JSONSuccess},
        {"{}", "[]", JSONFailure},
        {"[]", "[1,\"x\",{}]", JSONSuccess},
        {"[]", "{}", JSONFailure},
        {"[0]", "[1,2,3]", JSONSuccess},
        {"[0]", "[1,\"x\"]", JSONFailure},
        {"[0]", "[]", JSONSuccess},
        {R"(["",0])", R"(["a","b"])", JSONSuccess},
        {R"(["",0])", R"(["a",1])", JSONFailure},
        {R"([{"id":0}])", R"([{"id":1},{"id":2,"x":null}])", JSONSuccess},
        {R"([{"id":0}])", R"([{"id":1},{}])", JSONFailure},
    };
    for (const auto &c : cases) {
        ValuePtr schema = parse(c.schema);
        ValuePtr value = parse(c.value);
        EXPECT_EQ(json_validate(schema.get(), value.get()), c.expected)
            << c.schema << " / " << c.value;
    }
}

TEST_F(TreeTest, TheNullSchemaMatchesAnyValue)
{
    ValuePtr null_schema(json_value_init_null());
    for (JSON_Value *any :
         {json_value_init_number(1), json_value_init_string("s"), json_value_init_boolean(0),
          json_value_init_object(), json_value_init_array(), json_value_init_null()}) {
        EXPECT_EQ(json_validate(null_schema.get(), any), JSONSuccess) << json_type(any);
        json_value_free(any);
    }
}

}  // namespace
