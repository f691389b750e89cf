// Strict reading: a document only when it holds all of its text, and the
// place of each fault where a person would mend it.
#include "owners.h"
#include "process.h"
#include "recording_hooks.h"

#include <string>

namespace {

using StrictReadTest = HookedTest;

std::string place_of(const JSON_Error &error)
{
    return std::to_string(error.line) + ":" + std::to_string(error.column) + ": " + error.reason;
}

TEST_F(StrictReadTest, FaultsArePlacedWhereTheyAreMended)
{
    const struct {
        std::string text;
        const char *place;  // null: read whole
    } cases[] = {
        {"/* gateway */\n{\"radio\": {\"on\": true}, // end\n\"x\": [1]}\n// bye\n", nullptr},
        {"{\"url\": \"http://x/*\", \"b\": 1}", nullptr},
        {"{\"a\": 1,\n\"b\": 2}\n}\n", "3:1: text after the end of the document"},
        {"{\"radio_0\": {\"on\": true}},\n\"radio_1\": {}}",
         "1:26: text after the end of the document"},
        {"{\"a\": 1, // see /etc/lora/*.json\n\"radios\": [],\n\"b\": 2 /* c */\n}",
         "1:10: a comment that opens here hides text from the document"},
        {"{\"a\": // 1}", "1:7: the document reads as text a comment that opens here"},
        {"{\"a\": 1,\n/* off\n\"b\": 2,\n\"c\": }",
         "2:1: a comment that opens here is never closed"},
        {"{\"a\": 1,\n\"b\" 2}", "2:5: expected ':' after a member name in b"},
        {"{\"a\": \"x\\u0000y\"}", "1:9: an escaped NUL cuts the string short here"},
        {"{ // set\r\"a\": 1\n}", "1:10: a line comment hides this text past a carriage return"},
        {std::string("{\"a\": 1}\0{\"b\": 2}", 16), "1:9: NUL byte in the text"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        // A success reports no place.
        const std::string expected = c.place ? c.place : "read whole, 0:0: ";
        JSON_Error error = {9, 9, 9, "stale"};
        ValuePtr document(json_parse_buffer_strict_report(c.text.data(), c.text.size(), &error));
        EXPECT_EQ((document ? "read whole, " : "") + place_of(error), expected);
        JSON_Error lost = {9, 9, 9, "stale"};
        bool whole = json_verify_lossless_with_comments_report(c.text.c_str(), c.text.size(),
                                                               &lost) == JSONSuccess;
        EXPECT_EQ((whole ? "read whole, " : "") + place_of(lost), expected)
            << "the lossless report";
    }
}

TEST_F(StrictReadTest, FilesAreReadWholeAndChecked)
{
    TempDir dir;
    JSON_Error error;
    ValuePtr document(json_parse_file_strict_report(
        dir.write("held.json", "{\"a\": 1} // end\n").c_str(), &error));
    EXPECT_EQ(json_object_get_number(json_object(document.get()), "a"), 1.0);
    EXPECT_EQ(
        json_parse_file_strict_report(dir.write("cut.json", "{\"a\": 1}\n}\n").c_str(), &error),
        nullptr);
    EXPECT_EQ(place_of(error), "2:1: text after the end of the document");
    EXPECT_EQ(json_parse_file_strict_report(dir.file("missing.json").c_str(), &error), nullptr);
    EXPECT_EQ(place_of(error), "0:0: No such file or directory");
}

TEST_F(StrictReadTest, EveryAllocationFailureReleasesEverything)
{
    const std::string text = "// c\n{\"a\": [1, {\"b\": \"x\"}]} /* end */";
    size_t failing = recording_hooks::sweep_failing_allocations(
        [&] { return json_parse_buffer_strict_report(text.data(), text.size(), nullptr); });
    EXPECT_GE(failing, 10u);
}

}  // namespace
