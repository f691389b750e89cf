// Comment-tolerant parsing: what the two blanking passes leave, their quirks,
// the caller's text, allocation failures and files.
#include "owners.h"
#include "process.h"
#include "recording_hooks.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

using CommentsTest = HookedTest;

TEST_F(CommentsTest, CommentsBecomeWhiteSpace)
{
    struct Case {
        const char *commented;
        const char *plain;  // the same document without comments
    } cases[] = {
        {"{\"a\":1 /* note */}", "{\"a\":1}"},
        {"{\"a\":1, // note\n\"b\":2}", "{\"a\":1,\"b\":2}"},
        {"{\"a\":1, // note\r\n\"b\":2}", "{\"a\":1,\"b\":2}"},
        {"/* header */ {\"a\":1}", "{\"a\":1}"},
        {"// header\n{\"a\":1}", "{\"a\":1}"},
        {"{\"a\"/*x*/:/*y*/1}", "{\"a\":1}"},
        {"[1 /* a // b */, 2]", "[1,2]"},
        {"{\"path\":\"a//b/*c*/\"}", "{\"path\":\"a//b/*c*/\"}"},
        {"{\"a\":\"q\\\"//\"}", "{\"a\":\"q\\\"//\"}"},
        {"{\"a\":\"x\\\\\" // c\n}", "{\"a\":\"x\\\\\"}"},
        {"{\"a\":1 /* \"*/ }", "{\"a\":1}"},
        // Unterminated comments lose only their start token.
        {"{\"a\":1} // end", "{\"a\":1}"},
        {"{\"a\": // 1}", "{\"a\":1}"},
        {"{\"a\": /* 1}", "{\"a\":1}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.commented);
        const std::string text = c.commented;
        ValuePtr parsed(json_parse_string_with_comments(text.c_str()));
        ValuePtr expected(json_parse_string(c.plain));
        ASSERT_NE(parsed, nullptr);
        EXPECT_EQ(json_value_equals(parsed.get(), expected.get()), 1);
        EXPECT_EQ(text, c.commented) << "the caller's text changed";
    }
}

TEST_F(CommentsTest, RefusesWhatIsNoDocumentOnceBlanked)
{
    EXPECT_EQ(json_parse_string_with_comments(nullptr), nullptr);
    const char *texts[] = {
        "",
        "/* only */",
        "// only",
        "[1/**/2]",  // a comment separates tokens
        // The "/*" inside the line comment swallows the line feed and "b".
        "{\"a\":1, // x /* y\n\"b\":2} */",
        // The quotation mark inside the line comment hides the block comment.
        "{\"a\":1, // it\"s\n\"b\": /* c */ 2}",
        "{\"a\":[1,2,{\"b\":\"c\"}] /* c */ ,\"a\":2}",
    };
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(json_parse_string_with_comments(text), nullptr);
        EXPECT_EQ(recording_hooks::live_blocks(), 0u);
    }
}

TEST_F(CommentsTest, LosslessOnlyWhenTheDocumentHoldsAllTheText)
{
    const struct {
        const char *text;
        JSON_Status expected;
        size_t lost_at = 0;  // where the first text left out begins
    } cases[] = {
        {"{\"a\":1}", JSONSuccess},
        {"{\"a\":1} // end", JSONSuccess},
        {"{\"a\":1}\n/* trailer */\n// last\n", JSONSuccess},
        {"/* head */ {\"a\":1, // note\n\"b\":[2] /* c */}", JSONSuccess},
        {"{\"glob\":\"/etc/*\", \"url\":\"http://x\"} // \"quoted\"", JSONSuccess},
        {"{\"a\":\"x\\\\u0000\"}", JSONSuccess},  // an escaped backslash, then "u0000"
        {"{\"a\": /* 1}", JSONSuccess},           // the unclosed opening is all that goes
        {"{\"a\":1} /* {\"b\":2} */", JSONSuccess},
        // Text after the root.
        {"{\"a\":1}\n{\"b\":2}", JSONFailure, 8},
        {"{\"a\":{\"b\":1}},\"c\":2}", JSONFailure, 13},
        {"{\"a\":1} /* {\"b\":2}", JSONFailure, 11},
        // Strings cut at NUL.
        {"{\"a\":\"x\\u0000y\"}", JSONFailure, 7},
        {"{\"x\\u0000y\":1}", JSONFailure, 3},
        // Members hidden by the two-pass blanking.
        {"{\"a\":1, // see /etc/*\n\"b\":2, /* c */\n\"d\":3}", JSONFailure, 8},
        {"{\"a\":1, // it\"s\n\"p\":\"/*\", \"b\":2, \"q\":\"*/\"}", JSONFailure, 21},
        {"{\"a\": // 1}", JSONFailure, 6},
        // A line comment runs on past a carriage return an editor ends the line at.
        {"{ // settings\r\"a\": 1,\r\"b\": 2\r\n}", JSONFailure, 14},
        // No document: the failure began at the hidden line.
        {"{\"a\":1, // note\r\n\"b\":2, // old\r\"c\":3\n}", JSONFailure, 31},
        {"{\"a\":1, // note\r\n\"b\":2 // last\r\n}\r\n", JSONSuccess},
        // No document at all.
        {"", JSONFailure},
    };
    EXPECT_EQ(json_verify_lossless_with_comments(nullptr), JSONFailure);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(json_verify_lossless_with_comments(c.text), c.expected);
        JSON_Error lost;
        EXPECT_EQ(json_verify_lossless_with_comments_report(c.text, strlen(c.text), &lost),
                  c.expected);
        EXPECT_EQ(lost.offset, c.expected == JSONSuccess ? 0 : c.lost_at);
    }
}

TEST_F(CommentsTest, EveryAllocationFailureReleasesEverything)
{
    const char *text =
        "// config\n{\"a\":[1,\"x\\u00e9\",{\"b\":null}], /* c */ \"d\":{\"e\":true}}";
    size_t failing = recording_hooks::sweep_failing_allocations(
        [&] { return json_parse_string_with_comments(text); });
    EXPECT_GE(failing, 15u);
}

// A check that runs out of memory cannot tell a place: naming one would send
// an operator to mend a file that is fine.
TEST_F(CommentsTest, LosslessCheckOutOfMemoryNamesNoPlace)
{
    const char *text = "{\"a\":[1,{\"b\":null}], /* c */ \"d\":true}";
    for (size_t failing = 1;; failing++) {
        SCOPED_TRACE(failing);
        recording_hooks::fail_allocation(failing);
        JSON_Error lost;
        JSON_Status status = json_verify_lossless_with_comments_report(text, strlen(text), &lost);
        if (!recording_hooks::failure_fired()) {
            EXPECT_EQ(status, JSONSuccess);
            break;
        }
        EXPECT_EQ(status, JSONFailure);
        EXPECT_EQ(lost.line, 0u);
        EXPECT_STREQ(lost.reason, "out of memory");
    }
}

TEST_F(CommentsTest, FileIsBlankedInItsOwnBuffer)
{
    TempDir dir;
    const std::string text = "/* " + std::string(4000, '*') + " */\n{\"a\":1} // end\n";
    std::string path = dir.write("conf.json", text);
    ValuePtr value(json_parse_file_with_comments(path.c_str()));
    EXPECT_EQ(json_object_get_number(json_object(value.get()), "a"), 1.0);
    // Only the buffer read from the file is large enough to hold the text.
    const auto &sizes = recording_hooks::allocation_sizes();
    EXPECT_EQ(std::count_if(sizes.begin(), sizes.end(), [&](size_t size) { return size > 4000; }),
              1);

    EXPECT_EQ(json_parse_file_with_comments(nullptr), nullptr);
    EXPECT_EQ(json_parse_file_with_comments(dir.file("missing").c_str()), nullptr);
    EXPECT_EQ(json_parse_file_with_comments(dir.write("only", "// nothing\n").c_str()), nullptr);
}

}  // namespace
