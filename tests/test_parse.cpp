// The parser: accepted and refused texts, decoded strings, the nesting
// limit, the order of its blocks, allocation failures and file input.
#include "parse_texts.h"
#include "process.h"
#include "recording_hooks.h"
#include "value.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using ParseTest = HookedTest;

size_t container_depth(const JSON_Value *value)
{
    size_t depth = 0;
    for (; json_type(value) == JSONObject || json_type(value) == JSONArray; depth++) {
        value = json_type(value) == JSONObject ? json_object_get_value(json_object(value), "k")
                                               : json_array_get_value(json_array(value), 0);
    }
    return depth;
}

TEST_F(ParseTest, RefusesInvalidTextsLeavingNothingAlive)
{
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

// ---- Files

TEST_F(ParseTest, FilesThatHoldNoDocumentGiveNull)
{
    TempDir dir;
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
