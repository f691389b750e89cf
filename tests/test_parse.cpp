// The parser: accepted and refused texts, decoded strings and numbers, the
// depth and capacity limits, allocation failures and file input.
#include "owners.h"
#include "process.h"
#include "recording_hooks.h"
#include "serialized.h"
#include "sweep.h"
#include "tool.h"
#include "value.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using ParseTest = HookedTest;

ValuePtr parse(const std::string &text)
{
    return ValuePtr(json_parse_string(text.c_str()));
}

// `containers` nested containers cycling through `kinds` from the outside in
// ('[' an array, '{' an object with the member "k"); the innermost holds
// `inner`, or nothing when `inner` is empty.
std::string nested(size_t containers, const std::string &kinds, const std::string &inner)
{
    std::string open, close;
    for (size_t i = 0; i < containers; i++) {
        bool array = kinds[i % kinds.size()] == '[';
        bool holds_value = i + 1 < containers || !inner.empty();
        open += array ? "[" : (holds_value ? "{\"k\":" : "{");
        // Not close.insert(0, ...): GCC 12 at -O3 warns falsely (-Wrestrict) on it.
        close = (array ? "]" : "}") + close;
    }
    return open + inner + close;
}

size_t container_depth(const JSON_Value *value)
{
    size_t depth = 0;
    for (; json_type(value) == JSONObject || json_type(value) == JSONArray; depth++) {
        value = json_type(value) == JSONObject ? json_object_get_value(json_object(value), "k")
                                               : json_array_get_value(json_array(value), 0);
    }
    return depth;
}

std::string object_text(size_t members)
{
    std::string text = "{";
    for (size_t i = 0; i < members; i++)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
    return text + "}";
}

std::string array_text(size_t items)
{
    std::string text = "[";
    for (size_t i = 0; i < items; i++)
        text += i ? ",0" : "0";
    return text + "]";
}

// The text in a block of exactly its length, with no NUL after it: the
// sanitizer build faults a read past it.
std::unique_ptr<char[]> exact_copy(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size()]);
    memcpy(copy.get(), text.data(), text.size());
    return copy;
}

TEST_F(ParseTest, RefusesInvalidTextsLeavingNothingAlive)
{
    EXPECT_EQ(json_parse_string(nullptr), nullptr);
    EXPECT_EQ(json_parse_buffer(nullptr, 3), nullptr);
    EXPECT_EQ(json_parse_buffer_with_comments(nullptr, 0), nullptr);
    // Packed as a list of inputs, not one to a line.
    // clang-format off
    const char *texts[] = {
        "", " \n ", "1", "\"text\"", "true", "null", "\xEF\xBB\xBF{}", "\xA0[]", "{", "[1",
        "[1,]", "[,1]", "{\"a\":1,}", "{,}", "{\"a\" 1}", "{\"a\":1 \"b\":2}", "[1 2]", "{\"a\":1]",
        "[1}", "{a\":1}", "{'a':1}", "{\"a\"}", "{\"a\":}", "{\"a\":1,\"a\":2}",
        "{\"a\":1,\"\\u0061\":2}", "{\"a\":[1,{\"b\":\"c\"}],\"a\":[2,{\"d\":\"e\"}]}",
        "{\"ab\":1,\"a\\u0062\":2}", "{\"a\":1,\"a\\u0000b\":2}",  // equal once decoded
        "[\"\\ud83d\"]", "[\"\\ude00\"]", "[\"\\ud83dx\"]", "[\"\\ud83d\\u0041\"]", "[\"\\u12\"]",
        "[\"\\u12g4\"]", "[\"a\\qb\"]", "[\"a\tb\"]", "[\"a\nb\"]", "[\"a\\\x01\"]", "[\"\\",
        "{\"a\x1f\":1}", "[\"abc", "[\"abc\\", "[\"ok\",\"x\\\"]", "[01]", "[00]", "[-01]",
        "[-00]", "[0x10]", "[-0x10]", "[-nan(x)]", "[inf]", "[nan]",
        "[+1]", "[.5]", "[-]", "[- 1]", "[1e]", "[True]", "[nul]", "[truex]", "[fals]",
        "[1,2,{\"a\":[\"x\",\"y\\u00\"]}]", "[tru", "[nul", "[f",
    };
    // clang-format on
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(json_parse_string(text), nullptr);
        EXPECT_EQ(recording_hooks::live_blocks(), 0u);
    }
    // In a large object most names skip the scan for an earlier equal one;
    // a repeated first, middle or last name is still found.
    for (const char *repeated : {"k0", "k150", "k299"}) {
        std::string text = object_text(300);
        text.insert(text.size() - 1, std::string(",\"") + repeated + "\":1");
        SCOPED_TRACE(repeated);
        EXPECT_EQ(json_parse_string(text.c_str()), nullptr);
    }
}

TEST_F(ParseTest, AcceptsRootContainersAndIgnoresWhatFollows)
{
    struct Case {
        const char *text;
        JSON_Value_Type type;
        size_t count;
    } cases[] = {
        {"{}", JSONObject, 0},
        {"[]", JSONArray, 0},
        {" \t\r\n\v\f{}", JSONObject, 0},
        {"{} trailing words", JSONObject, 0},
        {"[1] ]]{", JSONArray, 1},
        {"[1 , 2 ]", JSONArray, 2},
        {"{ \"a\" : 1 , \"b\" : [ ] }", JSONObject, 2},
        {"{\"a\":1,\"A\":2}", JSONObject, 2},
        {"[true,false,null]", JSONArray, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ValuePtr value = parse(c.text);
        ASSERT_EQ(json_type(value.get()), c.type);
        EXPECT_EQ(c.type == JSONObject ? json_object_get_count(json_object(value.get()))
                                       : json_array_get_count(json_array(value.get())),
                  c.count);
    }
}

TEST_F(ParseTest, KeepsTextOrderAndTrimsClosedContainers)
{
    ValuePtr value = parse("{\"z\":[true,false,null,\"s\"],\"a\":{},\"m\":[]}");
    JSON_Object *root = json_object(value.get());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(json_object_get_name(root, 0), "z");
    EXPECT_STREQ(json_object_get_name(root, 1), "a");
    EXPECT_STREQ(json_object_get_name(root, 2), "m");
    EXPECT_EQ(root->capacity, 3u);
    JSON_Array *items = json_object_get_array(root, "z");
    EXPECT_EQ(items->capacity, 4u);
    EXPECT_EQ(json_array_get_boolean(items, 0), 1);
    EXPECT_EQ(json_array_get_boolean(items, 1), 0);
    EXPECT_EQ(json_type(json_array_get_value(items, 2)), JSONNull);
    EXPECT_STREQ(json_array_get_string(items, 3), "s");
    JSON_Object *empty_object = json_object_get_object(root, "a");
    EXPECT_EQ(empty_object->capacity, 0u);
    EXPECT_EQ(empty_object->names, nullptr);
    EXPECT_EQ(json_object_get_array(root, "m")->items, nullptr);
}

TEST_F(ParseTest, DecodesStringsToExactBytes)
{
    struct Case {
        const char *text;
        std::string bytes;
    } cases[] = {
        {"[\"hello\"]", "hello"},
        {"[\"\"]", ""},
        {"[\"a\\u00e9\"]", "a\xC3\xA9"},
        {"[\"a\\u00E9\"]", "a\xC3\xA9"},
        {"[\"\\u0041\\u007f\"]", "A\x7F"},
        {"[\"\\u0080\\u07ff\"]", "\xC2\x80\xDF\xBF"},
        {"[\"\\u20ac\\uffff\"]", "\xE2\x82\xAC\xEF\xBF\xBF"},
        {"[\"\\ud83d\\ude00\"]", "\xF0\x9F\x98\x80"},
        {"[\"\\udbff\\udfff\"]", "\xF4\x8F\xBF\xBF"},
        {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", "\"\\/\b\f\n\r\t"},
        {"[\"\xFF\xFE\x7F\"]", "\xFF\xFE\x7F"},
        {"[\"ab\\u0000cd\"]", std::string("ab\0cd", 5)},
        {"[\"a\\\"b\"]", "a\"b"},
        {"[\"a\\\\\"]", "a\\"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ValuePtr value = parse(c.text);
        const char *text = json_array_get_string(json_array(value.get()), 0);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, json_array_get_string_len(json_array(value.get()), 0)),
                  c.bytes);
    }
    // The value's escapes are decoded after the name's: the name keeps its own.
    ValuePtr named = parse("{\"\\u00e9t\\u00e9\":\"\\u00e0\"}");
    EXPECT_STREQ(json_object_get_name(json_object(named.get()), 0), "\xC3\xA9t\xC3\xA9");
}

// Strings and white space are scanned eight bytes at a time; a stop byte or
// the end of the text may fall on any lane of a word or in the byte tail.
TEST_F(ParseTest, ScansFindTheFirstStopWhereverItFalls)
{
    // Each byte differs from a quotation mark, a backslash, a control byte
    // or a space only in a bit that a wrong lane mask would miss.
    const std::string near_misses = "\xA2\xDC\x9F\x80\xA0!#\x7F]\x21";
    for (size_t n = 0; n <= 17; n++) {
        std::string content;
        for (size_t i = 0; i < n; i++)
            content += near_misses[i % near_misses.size()];
        std::string spaces(n, ' ');
        struct Case {
            std::string text;
            const char *decoded;  // null: the text is refused
        } cases[] = {
            {"[\"" + content + "\"]", ""},
            {"[\"" + content + "\\n" + content + "\"]", "\n"},
            {"[\"" + content + "\"" + spaces + "\n" + spaces + "]", ""},
            {"[\n" + spaces + "\"" + content + "\"]", ""},
            {"[\"" + content + "\x01\"]", nullptr},
            {"[\"" + content + "\x1f\"]", nullptr},
            {"[\"" + content, nullptr},
            {"[\"" + content + "\\", nullptr},
            {"[\"" + content + "\"" + spaces, nullptr},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << n << ": " << c.text);
            ValuePtr value = parse(c.text);
            if (!c.decoded) {
                EXPECT_EQ(value, nullptr);
                continue;
            }
            const char *text = json_array_get_string(json_array(value.get()), 0);
            ASSERT_NE(text, nullptr);
            std::string expected = *c.decoded ? content + c.decoded + content : content;
            EXPECT_EQ(std::string(text), expected);
        }
    }
}

TEST_F(ParseTest, StringTextIsOneBlockOfItsFinalSize)
{
    auto sizes_of = [](const char *text) {
        recording_hooks::reset_records();
        ValuePtr value = parse(text);
        EXPECT_NE(value, nullptr);
        return recording_hooks::allocation_sizes();
    };
    std::vector<size_t> number = sizes_of("[1]");
    std::vector<size_t> plain = sizes_of("[\"hello\"]");
    std::vector<size_t> escaped = sizes_of("[\"h\\u00e9llo\"]");
    // Without escapes the text is copied once, straight into 6 bytes.
    ASSERT_EQ(plain.size(), number.size() + 1);
    EXPECT_EQ(std::count(plain.begin(), plain.end(), 6u), 1);
    // A short escaped text is decoded off the heap, then copied to 7 bytes.
    ASSERT_EQ(escaped.size(), number.size() + 1);
    EXPECT_EQ(std::count(escaped.begin(), escaped.end(), 7u), 1);
    // A long one is decoded in one working block of its raw length (2006),
    // which serves every later string of the parse: two texts of 2003 bytes,
    // one more string value than "[1]" has values, and the working block.
    std::string long_raw = std::string(2000, 'a') + "\\u00e9";
    std::vector<size_t> long_texts =
        sizes_of(("[\"" + long_raw + "\",\"" + long_raw + "\"]").c_str());
    ASSERT_EQ(long_texts.size(), number.size() + 4);
    EXPECT_EQ(std::count(long_texts.begin(), long_texts.end(), 2006u), 1);
    EXPECT_EQ(std::count(long_texts.begin(), long_texts.end(), 2003u), 2);
}

void collect_slot_arrays(const JSON_Value *value, std::vector<void *> *slots)
{
    if (const JSON_Object *object = json_object(value)) {
        slots->insert(slots->end(), {object->names, object->values});
        for (size_t i = 0; i < object->count; i++)
            collect_slot_arrays(object->values[i], slots);
    } else if (const JSON_Array *array = json_array(value)) {
        slots->push_back(array->items);
        for (size_t i = 0; i < array->count; i++)
            collect_slot_arrays(array->items[i], slots);
    }
}

// A parse obtains its blocks in the reverse of the order a release gives them
// back, so a program that parses again finds each block where the last tree
// had it. Slot arrays wait for their container to close, when their size is
// known, and a name with escapes is copied before its value; neither is here.
TEST_F(ParseTest, BlocksComeInTheReverseOfTheirRelease)
{
    JSON_Value *value =
        json_parse_string("{\"a\":[1,\"x\",{}],\"b\":{\"c\":\"\\u00e9\"},\"d\":[]}");
    ASSERT_NE(value, nullptr);
    std::vector<void *> slots;
    collect_slot_arrays(value, &slots);
    auto other_blocks = [&](std::vector<void *> blocks) {
        std::erase_if(blocks, [&](void *block) {
            return !block || std::find(slots.begin(), slots.end(), block) != slots.end();
        });
        return blocks;
    };
    std::vector<void *> obtained = other_blocks(recording_hooks::allocated_blocks());
    json_value_free(value);
    std::vector<void *> released = other_blocks(recording_hooks::releases());
    std::reverse(released.begin(), released.end());
    EXPECT_EQ(obtained, released);
}

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

TEST_F(ParseTest, NestingLimitHoldsForArraysObjectsAndMixtures)
{
    for (const std::string kinds : {"[", "{", "[{", "{["}) {
        SCOPED_TRACE(kinds);
        ValuePtr deepest_empty = parse(nested(20, kinds, ""));
        EXPECT_EQ(container_depth(deepest_empty.get()), 20u);
        EXPECT_EQ(parse(nested(21, kinds, "")), nullptr);
        ValuePtr deepest_scalar = parse(nested(19, kinds, "1"));
        EXPECT_EQ(container_depth(deepest_scalar.get()), 19u);
        EXPECT_EQ(parse(nested(20, kinds, "1")), nullptr);
    }
}

TEST_F(ParseTest, CapacityLimitsRefuseTheWholeText)
{
    ValuePtr object = parse(object_text(960));
    EXPECT_EQ(json_object_get_count(json_object(object.get())), 960u);
    EXPECT_EQ(parse(object_text(961)), nullptr);
    ValuePtr array = parse(array_text(122880));
    EXPECT_EQ(json_array_get_count(json_array(array.get())), 122880u);
    EXPECT_EQ(parse(array_text(122881)), nullptr);
}

// A closed container is trimmed to its count; one more entry is refused only
// when the container is at its capacity limit.
TEST_F(ParseTest, TrimmedContainersGrowToTheLimit)
{
    for (size_t members : {481u, 959u, 960u}) {
        SCOPED_TRACE(members);
        ValuePtr value = parse(object_text(members));
        JSON_Object *object = json_object(value.get());
        ASSERT_EQ(object->capacity, members);
        EXPECT_EQ(json_object_set_null(object, "extra"), members < 960 ? JSONSuccess : JSONFailure);
    }
    for (size_t items : {61441u, 122879u, 122880u}) {
        SCOPED_TRACE(items);
        ValuePtr value = parse(array_text(items));
        JSON_Array *array = json_array(value.get());
        ASSERT_EQ(array->capacity, items);
        EXPECT_EQ(json_array_append_null(array), items < 122880 ? JSONSuccess : JSONFailure);
    }
}

TEST_F(ParseTest, EveryAllocationFailureReleasesEverything)
{
    const std::string text =
        "{\"name\":\"gw\",\"radio\":{\"\\u0066req\":868.1,\"chans\":[1,2,{\"on\":true,"
        "\"id\":\"\\u00e9x\"}]},\"list\":[[],{},null,false,-0.5],\"big\":" +
        object_text(20) + ",\"long\":\"" + std::string(1500, 'x') + "\\n\"}";
    size_t failing =
        recording_hooks::sweep_failing_allocations([&] { return json_parse_string(text.c_str()); });
    EXPECT_GE(failing, 40u);
}

// ---- Located failures

struct MalformedText {
    std::string text;
    size_t offset, line, column;
    std::string reason;  // a part of the reason given
};

// Deep in a long file: a typo in the third server of the gateway.
MalformedText fault_deep_in_a_long_file()
{
    std::string text = "{\n";
    for (int i = 0; i < 900; i++)
        text += "  \"key_" + std::to_string(i) + "\": \"v\xC3\xA9\",\n";
    text += "  \"gateway_conf\": {\"servers\": [{}, {}, {\"port\": 17OO}]}\n}\n";
    return {text, text.find("OO}"), 902, 51, "after a member in gateway_conf.servers[2]"};
}

std::vector<MalformedText> malformed_texts()
{
    std::string too_many_members = object_text(961), too_many_items = array_text(122881);
    return {
        {"{\"a\":1 \"b\":2}", 7, 1, 8, "expected ',' or '}' after a member"},
        {"{\"a\":1,}", 7, 1, 8, "expected a member name after ','"},
        {"[1,2,]", 5, 1, 6, "expected a value in [2]"},
        {"{\"a\":1]", 6, 1, 7, "expected ',' or '}' after a member"},
        {"{'a':1}", 1, 1, 2, "expected a member name or '}'"},
        {"{\"a\" 1}", 5, 1, 6, "expected ':' after a member name in a"},
        {"{\"enable\":ture}", 10, 1, 11, "unknown word \"ture\" in enable"},
        {"{\"enable\":tru", 10, 1, 11, "unknown word \"tru\""},
        {"[True]", 1, 1, 2, "unknown word \"True\" in [0]"},
        {"[{\"a\":[1,{\"b\":nul}]}]", 14, 1, 15, "\"nul\" in [0].a[1].b"},
        {"{\"freq\":01700}", 8, 1, 9, "invalid number \"01700\" in freq"},
        {"{\"freq\":0x1F}", 8, 1, 9, "invalid number \"0x1F\""},
        {"{\"freq\":-}", 8, 1, 9, "invalid number \"-\""},
        {"{\"freq\":1700x}", 12, 1, 13, "expected ',' or '}' after a member"},
        {"[8.675e]", 6, 1, 7, "expected ',' or ']' after an item"},
        {"{\"name\":\"ab\nc\"}", 11, 1, 12, "line feed inside a string in name"},
        {"[\"a\t\"]", 3, 1, 4, "tab inside a string"},
        {"[\"\x01\"]", 2, 1, 3, "control byte 1 inside a string"},
        {"{\"path\":\"C:\\qrn\"}", 11, 1, 12, "invalid escape \"\\q\" in path"},
        {"[\"x\\\n\"]", 3, 1, 4, "invalid escape \"\\?\""},
        {"[\"\\ud83d\"]", 2, 1, 3, "unpaired surrogate \"\\ud83d\" in [0]"},
        {"[\"\\ud83d\\u0041\"]", 2, 1, 3, "unpaired surrogate \"\\ud83d\""},
        {"[\"\\ude00\"]", 2, 1, 3, "unpaired surrogate \"\\ude00\""},
        {"[\"x\\u12\"]", 3, 1, 4, "expected four hexadecimal digits"},
        {"[\"abc", 5, 1, 6, "unexpected end of text: expected '\"' closing the string in [0]"},
        {"[\"a\\", 4, 1, 5, "unexpected end of text"},
        {"{\"a\":1", 6, 1, 7, "unexpected end of text: expected ',' or '}'"},
        {"", 0, 1, 1, "no document"},
        {" \n\t ", 4, 2, 3, "no document"},
        {"1", 0, 1, 1, "expected '{' or '['"},
        {"  \"text\"", 2, 1, 3, "expected '{' or '['"},
        {"\xEF\xBB\xBF{}", 0, 1, 1, "expected '{' or '['"},
        {nested(21, "[", ""), 20, 1, 21, "deeper than 19 levels in [0][0][0]"},
        {nested(20, "{", "1"), 100, 1, 101, "deeper than 19 levels in k.k.k"},
        {"{\"on\":true,\"on\":false}", 11, 1, 12, "duplicate member name \"on\""},
        {"{\"r\":{\"f\":1,\"f\":2}}", 12, 1, 13, "duplicate member name \"f\" in r"},
        {too_many_members, too_many_members.rfind("\"k960\""), 1,
         too_many_members.rfind("\"k960\"") + 1, "more than 960 members in one object"},
        {too_many_items, too_many_items.size() - 2, 1, too_many_items.size() - 1,
         "more than 122880 items in one array"},
        fault_deep_in_a_long_file(),
        {"{\"name\":\"h\xC3\xA9llo\", \"x\" 1}", 22, 1, 22, "expected ':'"},
        {"{\"\xE5\x90\x8D\":\"\xE5\x80\xA4\" \"b\":1}", 13, 1, 10, "after a member"},
        {"{\n\t\"a\" 1}", 7, 2, 6, "expected ':'"},
        // With comments: places count in the text as given.
        {"// head\n{\"a\":1, /* \xC3\xA9 */ \"b\" 2}", 29, 2, 21, "expected ':' after"},
        {"/* a\nb\n*/ {\"a\" }", 15, 3, 9, "expected ':' after a member name in a"},
    };
}

bool holds_comments(const std::string &text)
{
    return text.find("//") != std::string::npos || text.find("/*") != std::string::npos;
}

TEST_F(ParseTest, FailuresNameTheirPlaceAndReason)
{
    TempDir dir;
    using Parse = JSON_Value *(*)(const std::string &, const std::string &, JSON_Error *);
    const Parse comment_free[] = {
        [](const std::string &text, const std::string &, JSON_Error *error) {
            return json_parse_string_report(text.c_str(), error);
        },
        [](const std::string &, const std::string &file, JSON_Error *error) {
            return json_parse_file_report(file.c_str(), error);
        },
        [](const std::string &text, const std::string &, JSON_Error *error) {
            return json_parse_buffer_report(exact_copy(text).get(), text.size(), error);
        }};
    const Parse with_comments[] = {
        [](const std::string &text, const std::string &, JSON_Error *error) {
            return json_parse_string_with_comments_report(text.c_str(), error);
        },
        [](const std::string &, const std::string &file, JSON_Error *error) {
            return json_parse_file_with_comments_report(file.c_str(), error);
        },
        [](const std::string &text, const std::string &, JSON_Error *error) {
            return json_parse_buffer_with_comments_report(exact_copy(text).get(), text.size(),
                                                          error);
        }};
    for (const MalformedText &row : malformed_texts()) {
        SCOPED_TRACE(row.text.substr(0, 60));
        std::string file = dir.write("malformed.json", row.text);
        std::vector<Parse> parsers(std::begin(with_comments), std::end(with_comments));
        if (!holds_comments(row.text))
            parsers.insert(parsers.end(), std::begin(comment_free), std::end(comment_free));
        for (Parse parse : parsers) {
            JSON_Error error;
            EXPECT_EQ(parse(row.text, file, &error), nullptr);
            EXPECT_EQ(error.offset, row.offset);
            EXPECT_EQ(error.line, row.line);
            EXPECT_EQ(error.column, row.column);
            EXPECT_NE(std::string(error.reason).find(row.reason), std::string::npos)
                << error.reason;
            EXPECT_EQ(parse(row.text, file, nullptr), nullptr);
        }
        // The tool, from one -v on, names the same place as compilers do.
        const std::string place = std::filesystem::canonical(file).string() + ":" +
                                  std::to_string(row.line) + ":" + std::to_string(row.column) +
                                  ": ";
        const std::string cause = run_tool({"-v", "-f", file, "a"}).err;
        EXPECT_EQ(cause.rfind("<0> Invalid json file\n<3> " + place, 0), 0u) << cause;
        EXPECT_NE(cause.find(row.reason), std::string::npos) << cause;
        EXPECT_EQ(recording_hooks::live_blocks(), 0u);
    }
}

TEST_F(ParseTest, FailuresWithoutAPlaceGiveTheirCause)
{
    TempDir dir;
    struct Case {
        JSON_Value *(*parse)(const char *, JSON_Error *);
        std::string input;  // "null" for a null pointer
        std::string reason;
    } cases[] = {
        {json_parse_string_report, "null", "no text"},
        {json_parse_string_with_comments_report, "null", "no text"},
        {json_parse_file_report, "null", "no file name"},
        {[](const char *text, JSON_Error *error) {
             return json_parse_buffer_report(text, 3, error);
         },
         "null", "no text"},
        {[](const char *text, JSON_Error *error) {
             return json_parse_buffer_with_comments_report(text, 0, error);
         },
         "null", "no text"},
        {json_parse_file_with_comments_report, dir.file("missing"), strerror(ENOENT)},
        {json_parse_file_report, dir.path(), strerror(EISDIR)},
        {json_parse_string_report, "[1]", ""},
        {json_parse_file_with_comments_report, dir.write("ok", "{} // c"), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        JSON_Error error = {9, 9, 9, "stale"};
        ValuePtr value(c.parse(c.input == "null" ? nullptr : c.input.c_str(), &error));
        EXPECT_EQ(value != nullptr, c.reason.empty());
        EXPECT_EQ(error.offset + error.line + error.column, 0u);
        EXPECT_EQ(error.reason, c.reason);
    }
    JSON_Error error;
    recording_hooks::fail_allocation(1);
    EXPECT_EQ(json_parse_string_report("{\"a\":[1]}", &error), nullptr);
    EXPECT_STREQ(error.reason, "out of memory");
    EXPECT_EQ(error.line, 0u);
}

TEST_F(ParseTest, BuffersEndAtTheirLengthAndRefuseANul)
{
    using namespace std::string_literals;
    const struct {
        std::string bytes;
        size_t length;
        bool comments;
        std::string outcome;  // in the document's compact text or the reason
        size_t offset;
    } cases[] = {
        {"[12345]", 3, false, "unexpected end of text", 3},
        {"[1] // c", 8, true, "[1]", 0},
        {"{\"a\":1}\0junk"s, 12, false, "NUL byte in the text", 7},
        {"[1,\0]"s, 5, true, "NUL byte in the text", 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, c.length));
        std::unique_ptr<char[]> block = exact_copy(c.bytes);
        JSON_Error error;
        ValuePtr value((c.comments ? json_parse_buffer_with_comments_report
                                   : json_parse_buffer_report)(block.get(), c.length, &error));
        EXPECT_NE((value ? text_of(value.get()) : error.reason).find(c.outcome), std::string::npos);
        EXPECT_EQ(error.offset, c.offset);
    }
}

// ---- Files

TEST_F(ParseTest, FilesThatHoldNoDocumentGiveNull)
{
    TempDir dir;
    EXPECT_EQ(json_parse_file(nullptr), nullptr);
    EXPECT_EQ(json_parse_file(dir.file("missing").c_str()), nullptr);
    EXPECT_EQ(json_parse_file(dir.path().c_str()), nullptr);
    EXPECT_EQ(json_parse_file(dir.write("empty", "").c_str()), nullptr);
    EXPECT_EQ(json_parse_file(dir.write("nul", std::string("{\0}", 3)).c_str()), nullptr);
    EXPECT_EQ(json_parse_file(dir.write("bad", "{\"a\":01}").c_str()), nullptr);
}

TEST_F(ParseTest, FileParsesAndReleasesItsBuffer)
{
    TempDir dir;
    std::string path = dir.write("doc.json", "\n{\"a\":[1,2]} trailing\n");
    ValuePtr value(json_parse_file(path.c_str()));
    EXPECT_EQ(json_array_get_count(json_object_get_array(json_object(value.get()), "a")), 2u);
    value.reset();
    recording_hooks::fail_allocation(1);
    EXPECT_EQ(json_parse_file(path.c_str()), nullptr);
    EXPECT_TRUE(recording_hooks::failure_fired());
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
        ValuePtr value(json_parse_string(("[" + std::string(tie) + "]").c_str()));
        double parsed = json_array_get_number(json_array(value.get()), 0);
        double expected = strtod(tie, nullptr);
        EXPECT_EQ(memcmp(&parsed, &expected, sizeof parsed), 0) << tie;
    }
}

// Hooks that rewrite the file being read, shorter, at the first allocation
// (the whole-file reader's buffer, after the file was measured) and fill every block with
// "]", so a text not cut at the bytes actually read would show stale bytes.
// Blocks still go through the recording hooks, whose leak check stays armed.
namespace shrinking {
std::string path;
std::string contents;
bool armed = false;

void *allocate(size_t size)
{
    if (armed) {
        armed = false;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    }
    void *block = recording_hooks::allocate(size);
    if (block)
        memset(block, ']', size);
    return block;
}
}  // namespace shrinking

TEST_F(ParseTest, FileThatShrinksBeforeTheReadEndsAtTheBytesRead)
{
    TempDir dir;
    struct Case {
        const char *shrunk;
        bool parses;
    } cases[] = {{"[1,2", false}, {"[7]", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shrunk);
        shrinking::path = dir.write("shrinks.json", "[1,2,3,4,5,6,7,8,9]");
        shrinking::contents = c.shrunk;
        shrinking::armed = true;
        json_set_allocation_functions(shrinking::allocate, recording_hooks::release);
        ValuePtr value(json_parse_file(shrinking::path.c_str()));
        EXPECT_FALSE(shrinking::armed);
        EXPECT_EQ(value != nullptr, c.parses);
        if (c.parses) {
            EXPECT_EQ(json_array_get_number(json_array(value.get()), 0), 7.0);
        }
    }
}

}  // namespace
