// Reading requests of configure_qrn, run on the real binary: what a read
// prints, for each type and each path that finds nothing, and the documents
// and outputs that cannot serve one.
#include "tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char READ_DOC[] = R"({
    "n01": 0.1, "pi": 3.14, "twelve": 12, "half": 2.5, "e16": 1e16, "e17": 1e17,
    "small": 0.00001, "negzero": -0, "wide": -2147483649, "odd53": 9007199254740993,
    "u64": 12345678901234567890, "tiny": -1e-400, "huge": 2e308,
    "quote": "say \"hi\" \\ there", "lines": "one\ntwo", "empty": "", "slash": "a/b",
    "ctl": "x\u0001y", "utf8": "caf\u00e9",
    "yes": true, "no": false, "nothing": null,
    "obj": {"path": "a/b", "n": 2.5, "list": [1, "x", null, true]},
    "esc": {"s": "q\"\\\n\t/\u0001"},
    "nums": [0.1, 1.23456789, 1e-07, 1e16, -0, 2147483648, 9007199254740993],
    "eobj": {}, "earr": [],
    "items": [{"a": 1}],
    "": "empty name",
    "deep": {"er": {"est": 7}}
})";

TEST(ToolRead, PrintsEachTypeInItsScriptForm)
{
    ConfFile conf(READ_DOC);
    struct Case {
        std::string path;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"n01", "0.10000000000000001\n"},
        {"pi", "3.1400000000000001\n"},
        {"twelve", "12\n"},
        {"half", "2.5\n"},
        {"e16", "10000000000000000\n"},
        {"e17", "1e+17\n"},
        {"small", "1.0000000000000001e-05\n"},
        {"negzero", "-0\n"},
        {"wide", "-2147483649\n"},
        {"odd53", "9007199254740993\n"},  // no double holds these: printed as written
        {"u64", "12345678901234567890\n"},
        {"tiny", "-1e-400\n"},
        {"huge", "2e308\n"},
        {"quote", "say \"hi\" \\ there\n"},
        {"lines", "one\ntwo\n"},
        {"empty", "\n"},
        {"slash", "a/b\n"},
        {"ctl", "x\x01y\n"},
        {"utf8", "caf\xc3\xa9\n"},
        {"yes", "true\n"},
        {"no", "false\n"},
        {"nothing", ""},
        {"obj", "{\"path\":\"a\\/b\",\"n\":2.500000,\"list\":[1,\"x\",null,true]}\n"},
        {"obj.path", "a/b\n"},
        {"obj.list", "[1,\"x\",null,true]\n"},
        {"esc", "{\"s\":\"q\\\"\\\\\\n\\t\\/\\u0001\"}\n"},
        {"nums",
         "[0.100000,1.23456789,1e-07,10000000000000000.000000,0,2147483648,9007199254740993]\n"},
        {"eobj", "{}\n"},
        {"earr", "[]\n"},
        {"deep", "{\"er\":{\"est\":7}}\n"},
        {"deep.er", "{\"est\":7}\n"},
        {"deep.er.est", "7\n"},
        {"", "empty name\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("path '" + c.path + "'");
        expect_result(conf.read(c.path), {c.out, "", 0});
    }
    conf.expect_alone_with(READ_DOC);
}

// Paths step only through objects; anything else finds nothing.
TEST(ToolRead, PathsThatFindNothing)
{
    ConfFile conf(READ_DOC);
    for (const std::string path : {"missing", "items.0", "items.0.a", "twelve.x", "deep.missing",
                                   "deep.", ".deep", "deep.er.est.x", "obj.list.1", "DEEP"}) {
        SCOPED_TRACE("path '" + path + "'");
        expect_result(conf.read(path), {"", "<1> Failed to get json value: " + path + "\n", 1});
    }
}

// Text that never reached standard output is a failure, not an empty value.
TEST(ToolRead, OutputThatCannotBeWrittenFails)
{
    ConfFile conf(READ_DOC);
    struct Case {
        std::vector<std::string> args;
        StandardOutput standard_output;
        Expected expected;
    };
    const std::string closed = "<1> Failed to write output: Bad file descriptor\n";
    const std::string broken = "<1> Failed to write output: Broken pipe\n";
    // Text larger than the output buffer fails before the final flush.
    ConfFile large("{\"v\": \"" + std::string(100000, 'x') + "\"}");
    const std::vector<Case> cases = {
        {{"-f", conf.path, "twelve"}, StandardOutput::closed, {"", closed, 1}},
        {{"-f", large.path, "v"}, StandardOutput::broken_pipe, {"", broken, 1}},
        {{"--version"}, StandardOutput::closed, {"", closed, 1}},
        {{"-f", conf.path, "quote"}, StandardOutput::broken_pipe, {"", broken, 1}},
        {{"--version"}, StandardOutput::broken_pipe, {"", broken, 1}},
        // Nothing to write, nothing lost.
        {{"-f", conf.path, "nothing"}, StandardOutput::closed, {"", "", 0}},
        {{"-f", conf.path, "v", "1"}, StandardOutput::closed, {"", "", 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        RunOptions options;
        options.standard_output = c.standard_output;
        expect_result(run_tool(c.args, options), c.expected);
    }
}

// Control bytes in a path or file name are shown escaped: one line per
// message, and one text per line.
TEST(ToolRead, NamesInMessagesCannotForgeLines)
{
    ConfFile conf(READ_DOC);
    const std::string forged = "a\n<0> Invalid json file";
    const std::string missing = conf.dir.file("x\r\t\x01\x1f.json");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-f", conf.path, forged}, "<1> Failed to get json value: a\\n<0> Invalid json file\n"},
        {{"-f", conf.path, "twelve.\x1b[2J", "1"},
         "<1> Failed to set json value: twelve.\\x1b[2J\n"},
        // A backslash, C1 controls (encoded and raw), the line separator and
        // DEL escaped; other UTF-8 shown as it is.
        {{"-f", conf.path, "a\\n\xc2\x9b\x9b\xe2\x80\xa8\x7f\xc3\xa9"},
         "<1> Failed to get json value: a\\\\n\\xc2\\x9b\\x9b\\xe2\\x80\\xa8\\x7f\xc3\xa9\n"},
        {{"-f", missing, "a"},
         "<0> Failed to get canonical filename: " + conf.dir.file("x\\r\\t\\x01\\x1f.json") +
             ": No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_result(run_tool(c.args), {"", c.err, 1});
    }
}

// A document that cannot be loaded stops reads and writes alike.
TEST(ToolRead, DocumentsThatCannotBeServed)
{
    struct Case {
        std::string document;
        std::string err;
    };
    const std::string invalid = "<0> Invalid json file\n";
    const std::vector<Case> cases = {
        {"", invalid},
        {" \n\t", invalid},
        {"42", invalid},
        {"\"text\"", invalid},
        {"true", invalid},
        {"null", invalid},
        {"/* only a comment */", invalid},
        {"{\"a\": 1", invalid},
        {"{\"a\": 1,}", invalid},
        {"\xef\xbb\xbf{\"a\": 1}", invalid},
        {"[1, 2]", "<1> Invalid value type\n"},
        {"[]", "<1> Invalid value type\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.document);
        ConfFile conf(c.document);
        expect_result(conf.read("a"), {"", c.err, 1});
        expect_result(conf.store("a", "2"), {"", c.err, 1});
        conf.expect_alone_with(c.document);
    }
}

// At -v the failure's line is followed by its cause.
TEST(ToolRead, FailuresAtVerboseSayWhy)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string conf = dir.write("conf.json", "{\"net\": {\"lora\": 5}}");
    const std::string lossy =
        dir.write("lossy.json", "{\"a\":1, // see /etc/*\n\"b\":2, /* c */\n\"d\":3}");
    const std::string missing = "<1> Failed to get json value: ";
    const std::string invalid = "<0> Invalid json file\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{conf, "net.lora.freq"},
         missing + "net.lora.freq\n<3> net.lora is a number, not an object\n"},
        {{conf, "net.wifi"}, missing + "net.wifi\n<3> net.wifi: no such member\n"},
        {{conf, "a", "b", "c"},
         missing + "(null)\n<3> No path: three or more arguments were given\n"},
        {{lossy, "b"},
         missing + "b\n<3> b: no such member; " + lossy +
             ":1:9: a comment that opens here hides text from the document\n"},
        {{dir.write("array.json", "[1]"), "a"},
         "<1> Invalid value type\n<3> The document's root is an array, not an object\n"},
        {{dir.path(), "a"}, invalid + "<3> " + dir.path() + ": Is a directory\n"},
        {{conf + "/x/y.json", "a"},
         "<0> Failed to get canonical filename: " + conf + "/x/y.json: Not a directory\n<3> " +
             conf + "/x/y.json: stops at " + conf + "/x: Not a directory\n"},
        {{fifo, "a", "1"}, invalid + "<3> " + fifo + ": Not a regular file\n"},
        {{dir.write("-inf.json", "{\"n\": [-inf]}"), "n"},
         "<1> Failed to serialize json value\n<3> No JSON text: a number in it has none (an "
         "infinity or not-a-number), or memory ran out\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"-v", "-f"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        expect_result(run_tool(args), {"", c.err, 1});
    }
}

TEST(ToolRead, DirectoryIsNotALoadableFile)
{
    TempDir dir;
    expect_result(run_tool({"-f", dir.path(), "a"}), {"", "<0> Invalid json file\n", 1});
}

TEST(ToolRead, CommentsInTheFileAreWhiteSpace)
{
    const std::string document =
        "// leading\n/* block */ {\n  \"a\": 1, // trailing\n"
        "  \"path\": \"x//y/*z*/\" /* mid */ , \"b\"/**/:/**/2\n}\n// end";
    ConfFile conf(document);
    expect_result(conf.read("a"), {"1\n", "", 0});
    expect_result(conf.read("path"), {"x//y/*z*/\n", "", 0});
    expect_result(conf.read("b"), {"2\n", "", 0});
}

// Names at the edges of resolution: as many links as the kernel follows and
// one more, and a ".." back up to the root, which leaves the name absolute.
TEST(ToolRead, NamesAtTheEdgesOfResolution)
{
    ConfFile conf("{\"a\": 1}");
    for (int i = 40; i >= 0; i--) {
        std::string to = i == 40 ? "conf.json" : "link" + std::to_string(i + 1);
        ASSERT_EQ(symlink(to.c_str(), conf.dir.file("link" + std::to_string(i)).c_str()), 0);
    }
    std::string up_and_back = conf.path.substr(0, conf.path.find('/', 1)) + "/.." + conf.path;
    RunOptions elsewhere;
    elsewhere.cwd = conf.dir.path();
    for (const std::string &name : {conf.dir.file("link1"), up_and_back})
        expect_result(run_tool({"-f", name, "a"}, elsewhere), {"1\n", "", 0});
    // The C library's own words for ELOOP: glibc's and musl's differ.
    expect_result(
        run_tool({"-f", "link0", "a"}, elsewhere),
        {"", "<0> Failed to get canonical filename: link0: " + std::string(strerror(ELOOP)) + "\n",
         1});
}

}  // namespace
