// Parse failures located and explained: the place and reason every parser
// (and the tool) reports for a malformed text, the causes of failures with no
// place, and texts given as a pointer and a length.
#include "parse_texts.h"
#include "process.h"
#include "recording_hooks.h"
#include "serialized.h"
#include "tool.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using ParseTest = HookedTest;

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
        {"[\"\xC3\xA9\\q\"]", 4, 1, 4, "invalid escape \"\\q\""},  // one column for the é
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
        // Log lines show a backslash doubled.
        std::string shown_reason;
        for (char c : std::string(row.reason))
            shown_reason += c == '\\' ? std::string(2, c) : std::string(1, c);
        EXPECT_NE(cause.find(shown_reason), std::string::npos) << cause;
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

}  // namespace
