// Writing requests of configure_qrn, run on the real binary: how VALUE is
// typed, the exact text of a rewritten file, and that every refused request
// leaves the file exactly as it was.
#include "tool.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// The rewritten form of {"keep": 1} after a store of member "v".
std::string with_member_v(const std::string &value_text)
{
    return "{\n    \"keep\": 1,\n    \"v\": " + value_text + "\n}";
}

std::string dotted_path(size_t segments)
{
    std::string path = "s1";
    for (size_t i = 2; i <= segments; i++)
        path += ".s" + std::to_string(i);
    return path;
}

std::string nested_arrays(size_t levels)
{
    return std::string(levels, '[') + "1" + std::string(levels, ']');
}

struct TypingCase {
    std::string value;    // the VALUE argument
    std::string stored;   // its text in the rewritten file
    std::string printed;  // what a read of it prints afterwards
};

struct RefusedStore {
    std::string document;
    std::string path;
    std::string value;
    std::string err;
    std::string cause = "";  // the line -v adds after `err`; FILE is the file's name
};

void expect_refused(const std::vector<RefusedStore> &cases)
{
    for (const auto &c : cases) {
        SCOPED_TRACE(c.document + " <- " + c.path + " = " + c.value);
        ConfFile conf(c.document);
        expect_result(conf.store(c.path, c.value), {"", c.err, 1});
        if (!c.cause.empty()) {
            std::string cause =
                c.cause.starts_with("FILE:") ? conf.path + c.cause.substr(4) : c.cause;
            expect_result(run_tool({"-v", "-f", conf.path, "--", c.path, c.value}),
                          {"", c.err + "<3> " + cause + "\n", 1});
        }
        conf.expect_alone_with(c.document);
    }
}

TEST(ToolWrite, ValueIsTypedByItsShape)
{
    const std::vector<TypingCase> cases = {
        {"42", "42", "42\n"},
        {"1e3", "1000", "1000\n"},
        {"0x1A", "26", "26\n"},
        {"0x1p-1", "0.500000", "0.5\n"},
        {"+7", "7", "7\n"},
        {"-5", "-5", "-5\n"},
        {"-0", "0", "0\n"},
        {"0e-400", "0", "0\n"},
        {"5e-324", "5e-324", "4.9406564584124654e-324\n"},  // strtod's ERANGE, but not 0
        {" \t\n\v\f\r42", "42", "42\n"},
        {"42 ", "\"42 \"", "42 \n"},
        {"12abc", "\"12abc\"", "12abc\n"},
        {"0x", "\"0x\"", "0x\n"},
        {"1e", "\"1e\"", "1e\n"},
        {"0.5", "0.500000", "0.5\n"},
        {"0.1", "0.100000", "0.10000000000000001\n"},
        {"1.23456789", "1.23456789", "1.2345678899999999\n"},
        {"1e-7", "1e-07", "9.9999999999999995e-08\n"},
        {"2147483647", "2147483647", "2147483647\n"},
        {"2147483648", "2147483648", "2147483648\n"},
        {"-2147483648", "-2147483648", "-2147483648\n"},
        {"-2147483649", "-2147483649", "-2147483649\n"},
        {"true", "true", "true\n"},
        {"false", "false", "false\n"},
        {"null", "null", ""},
        {"  true", "true", "true\n"},
        {"true ", "\"true \"", "true \n"},
        {"True", "\"True\"", "True\n"},
        {"TRUE", "\"TRUE\"", "TRUE\n"},
        {"Null", "\"Null\"", "Null\n"},
        {"\"42\"", "\"42\"", "42\n"},
        {"\"true\"", "\"true\"", "true\n"},
        {"\"open", "\"open\"", "open\n"},
        {"\"word\" more text", "\"word\"", "word\n"},
        {"\"a\\\"b\"", "\"a\\\\\"", "a\\\n"},
        {"  \"spaced\"", "\"spaced\"", "spaced\n"},
        {"\"\"", "\"\"", "\n"},
        {"", "\"\"", "\n"},
        {" \t ", "\"\"", "\n"},
        {"a/b", "\"a\\/b\"", "a/b\n"},
        {"tab\there", "\"tab\\there\"", "tab\there\n"},
        {"line\nnext", "\"line\\nnext\"", "line\nnext\n"},
        {"x\x01y", "\"x\\u0001y\"", "x\x01y\n"},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\"", "caf\xc3\xa9\n"},
        {"[1, 2, 3]", "[\n        1,\n        2,\n        3\n    ]", "[1,2,3]\n"},
        {" \n[true]", "[\n        true\n    ]", "[true]\n"},
        {"{\"k\": \"v\", \"n\": {\"m\": []}}",
         "{\n        \"k\": \"v\",\n        \"n\": {\n            \"m\": []\n        }\n    }",
         "{\"k\":\"v\",\"n\":{\"m\":[]}}\n"},
        {"[1] trailing text", "[\n        1\n    ]", "[1]\n"},
        {"{} {", "{}", "{}\n"},
        {"[]", "[]", "[]\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("VALUE '" + c.value + "'");
        ConfFile conf("{\"keep\": 1}");
        expect_result(conf.store("v", c.value), {"", "", 0});
        conf.expect_alone_with(with_member_v(c.stored));
        expect_result(conf.read("v"), {c.printed, "", 0});
    }
}

TEST(ToolWrite, ValuesThatCannotBeConvertedAreRefused)
{
    struct Case {
        std::string value;
        std::string err;
    };
    const std::string parse = "<1> Failed to parse json string\n";
    const std::string bad_string = "<1> Failed to init json string\n";
    const std::string bad_number = "<1> Failed to init json number\n";
    const std::vector<Case> cases = {
        {"[1, 2", parse},
        {"{\"a\": 1", parse},
        {"{a: 1}", parse},
        {"[1, /* note */ 2]", parse},
        {"[1, // note\n2]", parse},
        {"\xff", bad_string},
        {"caf\xc3", bad_string},
        {"\"ok\xc3\" rest", bad_string},
        {"inf", bad_number},
        {"-inf", bad_number},
        {"INF", bad_number},
        {"Infinity", bad_number},
        {" nan", bad_number},
        {"-nan", bad_number},
        {"NaN", bad_number},
        {"nan(123)", bad_number},
        {"1e999", bad_number},
        {"-1e999", bad_number},
        {"1e-400", bad_number},
        {"-0x1p-1100", bad_number},
        {"9007199254740993", bad_number},
        {"-0012345678901234567890", bad_number},
        {"0x20000000000001", bad_number},
    };
    const std::string document = "{\"keep\": 1}";
    for (const auto &c : cases) {
        SCOPED_TRACE("VALUE '" + c.value + "'");
        ConfFile conf(document);
        expect_result(conf.store("v", c.value), {"", c.err, 1});
        conf.expect_alone_with(document);
    }
}

// Files that read fine, but that a rewrite from their document would cut
// short: where the first fault lies, as a person would mend it.
TEST(ToolWrite, FileTheDocumentDoesNotWhollyHoldIsNotRewritten)
{
    struct Case {
        std::string file;
        std::string member;  // one that reads
        std::string lost_from;
    };
    const std::string hidden_line = ": a line comment hides this text past a carriage return";
    const Case cases[] = {
        {"{\"a\":1}\n{\"b\":2}", "a", "2:1: text after the end of the document"},
        {"{\"a\":\"x\\u0000y\"}", "a", "1:8: an escaped NUL cuts the string short here"},
        {"{\"a\":1, // matches /etc/*\n\"b\":2, /* c */\n\"d\":3}", "a",
         "1:9: a comment that opens here hides text from the document"},
        {"{\"a\":1, // note\r\"b\":2,\r\n\"c\":3}", "a", "1:17" + hidden_line},
        {"{\"\xc3\xa9\":1 // x\r,\"b\":2\n}", "\xc3\xa9", "1:13" + hidden_line},
        {std::string("{\"a\":1}\0{\"b\":2}", 15), "a", "1:8: NUL byte in the text"},
    };
    std::vector<RefusedStore> refused;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(ConfFile(c.file).read(c.member).status, 0);
        refused.push_back({c.file, "v", "2", "<1> File holds text a rewrite would lose\n",
                           "FILE:" + c.lost_from});
    }
    expect_refused(refused);
}

// Stores in turn, then the whole text of the file: comments dropped, a
// replaced member kept in its place whatever its new type, new members
// appended, missing objects on the way created.
TEST(ToolWrite, RewriteLaysOutTheDocumentAfterItsStores)
{
    struct Case {
        std::string document;
        std::vector<std::pair<std::string, std::string>> stores;  // path, VALUE
        std::string rewritten;
    };
    const Case cases[] = {
        {"/* header */\n{\n    // the port\n    \"port\": 1700,\n"
         "    \"name\": \"gw/1\", /* trailing */\n    \"gain\": 2.5,\n"
         "    \"nested\": {\"on\": true, \"list\": [1, null]},\n    \"empty\": {},\n"
         "    \"none\": []\n}\n// end\n",
         {{"added", "yes"}},
         "{\n"
         "    \"port\": 1700,\n"
         "    \"name\": \"gw\\/1\",\n"
         "    \"gain\": 2.500000,\n"
         "    \"nested\": {\n"
         "        \"on\": true,\n"
         "        \"list\": [\n"
         "            1,\n"
         "            null\n"
         "        ]\n"
         "    },\n"
         "    \"empty\": {},\n"
         "    \"none\": [],\n"
         "    \"added\": \"yes\"\n"
         "}"},
        {"{\"a\": 1, \"b\": {\"c\": 2}, \"d\": 3}",
         {{"a", "text"}, {"b", "[]"}, {"d", "null"}},
         "{\n    \"a\": \"text\",\n    \"b\": [],\n    \"d\": null\n}"},
        {"{\"a\": 1, \"outer\": {\"x\": true}}",
         {{"outer.inner.leaf", "v"}, {"new..end", "2"}},
         "{\n    \"a\": 1,\n    \"outer\": {\n        \"x\": true,\n        \"inner\": {\n"
         "            \"leaf\": \"v\"\n        }\n    },\n    \"new\": {\n        \"\": {\n"
         "            \"end\": 2\n        }\n    }\n}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.document);
        ConfFile conf(c.document);
        for (const auto &[path, value] : c.stores)
            expect_result(conf.store(path, value), {"", "", 0});
        conf.expect_alone_with(c.rewritten);
    }
}

TEST(ToolWrite, PathsThatCannotTakeTheValueAreRefused)
{
    expect_refused({
        {"{\"keep\": 1}", "\xff\xfe", "1", "<1> Failed to set json value: \\xff\\xfe\n",
         "JSON_PATH is not valid UTF-8 at column 1"},
        {"{\"outer\": 5}", "outer.inner", "1", "<1> Failed to set json value: outer.inner\n",
         "outer is a number, not an object"},
        {"{\"o\": {\"list\": [1]}}", "o.list.x", "1", "<1> Failed to set json value: o.list.x\n",
         "o.list is an array, not an object"},
        {"{\"s\": \"str\"}", "s.t.u", "[1]", "<1> Failed to set json value: s.t.u\n"},
        {"{\"n\": null}", "n.x", "1", "<1> Failed to set json value: n.x\n",
         "n is null, not an object"},
    });
}

// The VALUE is converted before the root is looked at.
TEST(ToolWrite, ArrayRootRefusesStores)
{
    const std::string root = "[1, {\"a\": 2}]";
    expect_refused({
        {root, "a", "1", "<1> Invalid value type\n",
         "The document's root is an array, not an object"},
        {root, "a", "[1, 2, 3]", "<1> Invalid value type\n"},
        {root, "a", "[1, 2", "<1> Failed to parse json string\n"},
        {root, "a", "inf", "<1> Failed to init json number\n",
         "VALUE inf is not a finite number: JSON has no text for it"},
        {root, "a", "\xff", "<1> Failed to init json string\n"},
    });
}

// Causes that -v adds to refusals of the VALUE and the depth.
TEST(ToolWrite, RefusalsAtVerboseSayWhy)
{
    const std::string keep = "{\"keep\": 1}";
    const std::string number = "<1> Failed to init json number\n";
    expect_refused({
        {keep, "v", "1e-400", number,
         "VALUE 1e-400 is too small for a double: it would be stored as 0"},
        {keep, "v", "9007199254740993", number,
         "VALUE 9007199254740993 is a whole number a double holds only rounded"},
        {keep, "v", " \"ok\xc3\" rest", "<1> Failed to init json string\n",
         "VALUE is not valid UTF-8 at column 5"},
        {keep, "v", " {\"a\": [1, 2,]}", "<1> Failed to parse json string\n",
         "VALUE is not acceptable JSON at column 14: expected a value in a[2]"},
        // White space before the first line's text is not in a later line's column.
        {keep, "v", "  [1,\n x]", "<1> Failed to parse json string\n",
         "VALUE is not acceptable JSON at column 2: unknown word \"x\" in [1]"},
        {keep, dotted_path(20), "7", "<1> Failed to set json value: " + dotted_path(20) + "\n",
         "The value would nest 20 levels deep; a file holds at most 19"},
    });
}

TEST(ToolWrite, FullObjectTakesNoNewMember)
{
    std::string document = "{";
    for (int i = 0; i < 960; i++)
        document += (i ? ", \"m" : "\"m") + std::to_string(i) + "\": " + std::to_string(i);
    document += "}";
    expect_refused({
        {document, "m960", "1", "<1> Failed to set json value: m960\n",
         "The root object holds 960 members, the most an object holds"},
        {document, "extra.leaf", "1", "<1> Failed to set json value: extra.leaf\n"},
    });
    ConfFile conf(document);
    expect_result(conf.store("m959", "last"), {"", "", 0});
    expect_result(conf.read("m959"), {"last\n", "", 0});
    expect_result(conf.read("m0"), {"0\n", "", 0});
}

// The parser reads 1e999 and -inf as infinities. 1e999 keeps its literal and
// is rewritten as it was; -inf, which no JSON number spells, never reaches
// the file.
TEST(ToolWrite, NonFiniteNumbersNeverReachTheFile)
{
    const std::string serialize = "<1> Failed to serialize json value\n";
    expect_refused({
        {"{\"keep\": 1}", "v", "[-inf]", serialize},
        {"{\"small\": -inf}", "v", "1", serialize},
    });
    ConfFile conf("{\"big\": 1e999}");
    expect_result(conf.store("v", "{\"n\": -1e999}"), {"", "", 0});
    expect_result(conf.read("big"), {"1e999\n", "", 0});
    conf.expect_alone_with("{\n    \"big\": 1e999,\n    \"v\": {\n        \"n\": -1e999\n    }\n}");
}

// The parser refuses values at depth 20 (the root being 0), so no store may
// put anything there: the next run could not load the file.
TEST(ToolWrite, DepthLimitKeepsTheFileLoadable)
{
    struct Case {
        size_t segments;
        std::string value;
        bool stored;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {19, "7", true, "7\n"},
        {19, "[]", true, "[]\n"},
        {19, "{}", true, "{}\n"},
        {18, "[1]", true, "[1]\n"},
        {18, "{\"a\": {}}", true, "{\"a\":{}}\n"},
        {17, "[[1]]", true, "[[1]]\n"},
        {1, nested_arrays(18), true, nested_arrays(18) + "\n"},
        {20, "7", false, ""},
        {25, "{}", false, ""},
        {19, "[1]", false, ""},
        {19, "{\"a\": 1}", false, ""},
        {19, "[[]]", false, ""},
        {18, "[[1]]", false, ""},
        {1, nested_arrays(19), false, ""},
    };
    const std::string document = "{\"keep\": 1}";
    for (const auto &c : cases) {
        const std::string path = dotted_path(c.segments);
        SCOPED_TRACE(std::to_string(c.segments) + " segments, VALUE " + c.value);
        ConfFile conf(document);
        if (c.stored) {
            expect_result(conf.store(path, c.value), {"", "", 0});
            expect_result(conf.read(path), {c.printed, "", 0});
            expect_result(conf.read("keep"), {"1\n", "", 0});
        } else {
            expect_result(conf.store(path, c.value),
                          {"", "<1> Failed to set json value: " + path + "\n", 1});
            conf.expect_alone_with(document);
        }
    }
    // Too deep for the VALUE parser itself.
    ConfFile conf(document);
    expect_result(conf.store("v", nested_arrays(20)), {"", "<1> Failed to parse json string\n", 1});
    conf.expect_alone_with(document);
}

// Numbers the store does not touch must read back as the same doubles.
TEST(ToolWrite, UntouchedNumbersSurviveARewrite)
{
    ConfFile conf(
        "{\"p\": 1.23456789, \"q\": 0.1, \"r\": 1e-07, \"s\": 123456789012.5, \"t\": 2147483648, "
        "\"u\": -2147483648, \"w\": 0.30000000000000004, \"i\": 9007199254740993, "
        "\"j\": 12345678901234567890, \"k\": 1e-400, \"l\": 2e308, \"big\": 1e300}");
    const std::vector<std::string> members = {"p", "q", "r", "s", "t", "u",
                                              "w", "i", "j", "k", "l", "big"};
    std::vector<std::string> before;
    for (const auto &member : members)
        before.push_back(conf.read(member).out);
    expect_result(conf.store("x", "1"), {"", "", 0});
    for (size_t i = 0; i < members.size(); i++) {
        SCOPED_TRACE(members[i]);
        expect_result(conf.read(members[i]), {before[i], "", 0});
    }
    const std::string text = read_file_bytes(conf.path);
    EXPECT_EQ(text.rfind("{\n    \"p\": 1.23456789,\n    \"q\": 0.100000,\n    \"r\": 1e-07,\n"
                         "    \"s\": 123456789012.500000,\n    \"t\": 2147483648,\n"
                         "    \"u\": -2147483648,\n    \"w\": 0.30000000000000004,\n"
                         "    \"i\": 9007199254740993,\n    \"j\": 12345678901234567890,\n"
                         "    \"k\": 1e-400,\n    \"l\": 2e308,\n    \"big\": 1",
                         0),
              0u)
        << text;
    EXPECT_TRUE(text.ends_with(",\n    \"x\": 1\n}")) << text;
}

}  // namespace
