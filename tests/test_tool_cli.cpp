// The command line of configure_qrn as a user meets it: options, argument
// counts, file names and verbosity, checked on the real binary's standard
// output, standard error and exit status, byte for byte.
#include "tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A name unlike the binary's path, so messages that quote argv[0] show it.
const std::string ARGV0 = "cq-under-test";

const std::string USAGE =
    "Usage: configure_qrn [OPTION...] JSON_PATH [VALUE]\n"
    "\n"
    "-f, --file FILE           Read this file instead of the default one.\n"
    "-v, --verbose             Turn on verbose output.\n"
    "                          This option can be used multiple times.\n"
    "    --version             Print version information and exit.\n"
    "-h, --help                Print this help message and exit.\n";
const std::string VERSION = "configure_qrn " CONFIGURE_QRN_VERSION "\n";
const std::string NEEDS_ARGUMENT = ARGV0 + ": requires at least one argument\n" + USAGE;

std::string complaint(const std::vector<std::string> &args)
{
    return option_parser_complaint(ARGV0, args);
}

RunResult run_as_argv0(const std::vector<std::string> &args, const std::string &cwd = "")
{
    RunOptions options;
    options.argv0 = ARGV0;
    options.cwd = cwd;
    return run_tool(args, options);
}

std::string canonical(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    std::string text = resolved ? resolved : "";
    free(resolved);
    return text;
}

std::vector<std::string> joined(std::vector<std::string> head, const std::vector<std::string> &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const char SMALL_DOC[] = "{\"a\": 1}";

struct OptionCase {
    std::vector<std::string> args;  // after "-f FILE"
    Expected expected;
};

// Options that end the run before the file is looked at, whatever follows.
TEST(ToolCommandLine, OptionsThatEndTheRunEarly)
{
    const std::string invalid_x = complaint({"-x"});
    const std::vector<OptionCase> cases = {
        {{"--version"}, {VERSION, "", 0}},
        {{"--vers"}, {VERSION, "", 0}},
        {{"--version", "a", "b", "c"}, {VERSION, "", 0}},
        {{"a", "--version"}, {VERSION, "", 0}},
        {{"--version", "-h"}, {VERSION, "", 0}},
        {{"--version", "-x"}, {VERSION, "", 0}},
        {{"-h", "--version"}, {"", USAGE, 1}},
        {{"-h"}, {"", USAGE, 1}},
        {{"--help"}, {"", USAGE, 1}},
        {{"--he", "a"}, {"", USAGE, 1}},
        {{"a", "b", "-h"}, {"", USAGE, 1}},
        {{"-x", "a"}, {"", invalid_x + USAGE, 1}},
        {{"-x", "--version"}, {"", invalid_x + USAGE, 1}},
        {{"a", "-f"}, {"", complaint({"-f"}) + USAGE, 1}},
        {{"a", "--file"}, {"", complaint({"--file"}) + USAGE, 1}},
        {{"--bogus", "a"}, {"", complaint({"--bogus"}) + USAGE, 1}},
        // A negative VALUE without the end-of-options marker is an option.
        {{"a", "-5"}, {"", complaint({"-5"}) + USAGE, 1}},
        {{}, {"", NEEDS_ARGUMENT, 1}},
        {{"-v", "-v", "-v"}, {"", NEEDS_ARGUMENT, 1}},
        {{"--"}, {"", NEEDS_ARGUMENT, 1}},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string conf = dir.write("conf.json", SMALL_DOC);
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_result(run_as_argv0(joined({"-f", conf}, c.args)), c.expected);
        EXPECT_EQ(read_file_bytes(conf), SMALL_DOC);
    }
}

TEST(ToolCommandLine, NoArgumentsAtAllNameTheProgramAsInvoked)
{
    expect_result(run_as_argv0({}), {"", NEEDS_ARGUMENT, 1});
}

// "--ver" could be --verbose or --version: an ambiguous prefix must pick
// neither, while "--vers" and "--verb" are unambiguous.
TEST(ToolCommandLine, AmbiguousPrefixIsRefusedWithUsage)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", SMALL_DOC);
    expect_result(run_as_argv0({"-f", conf, "--ver", "a"}), {"", complaint({"--ver"}) + USAGE, 1});
    expect_result(run_as_argv0({"-f", conf, "--verb", "--verb", "a"}),
                  {"1\n", "<4> Parsing file: " + canonical(conf) + "\n", 0});
}

TEST(ToolCommandLine, FileThatCannotBeCanonicalisedIsReportedAsGiven)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", SMALL_DOC);
    const std::string missing = dir.file("missing.json");
    struct Case {
        std::vector<std::string> args;
        std::string cwd;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-f", missing, "a"},
         "",
         "<0> Failed to get canonical filename: " + missing + ": No such file or directory\n"},
        {{"-f", missing, "a", "1"},
         "",
         "<0> Failed to get canonical filename: " + missing + ": No such file or directory\n"},
        {{"-v", "-v", "-f", dir.file("no/such.json"), "a"},
         "",
         "<0> Failed to get canonical filename: " + dir.file("no/such.json") +
             ": No such file or directory\n<3> " + dir.file("no/such.json") + ": stops at " +
             dir.file("no") + ": No such file or directory\n"},
        {{"-f", conf + "/inside", "a"},
         "",
         "<0> Failed to get canonical filename: " + conf + "/inside: Not a directory\n"},
        {{"-f", "missing.json", "a"},
         dir.path(),
         "<0> Failed to get canonical filename: missing.json: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_result(run_as_argv0(c.args, c.cwd), {"", c.err, 1});
    }
    EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"conf.json"});
}

TEST(ToolCommandLine, MissingFileIsNotLookedAtWithoutPositionalArguments)
{
    TempDir dir;
    expect_result(run_as_argv0({"-f", dir.file("missing.json")}), {"", NEEDS_ARGUMENT, 1});
}

TEST(ToolCommandLine, EveryFormOfTheFileOptionIsAccepted)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", "{\"a\": \"chosen\"}");
    const std::vector<std::vector<std::string>> forms = {
        {"-f", conf, "a"},       {"-f" + conf, "a"},    {"--file", conf, "a"},
        {"--file=" + conf, "a"}, {"--fi=" + conf, "a"}, {"a", "-f", conf},
    };
    for (const auto &args : forms) {
        SCOPED_TRACE(testing::PrintToString(args));
        expect_result(run_as_argv0(args), {"chosen\n", "", 0});
    }
}

TEST(ToolCommandLine, LastFileOptionWins)
{
    TempDir dir;
    const std::string first = dir.write("first.json", "{\"a\": \"first\"}");
    const std::string second = dir.write("second.json", "{\"a\": \"second\"}");
    const std::string missing = dir.file("missing.json");
    expect_result(run_as_argv0({"-f", first, "-f", second, "a"}), {"second\n", "", 0});
    expect_result(run_as_argv0({"-f", missing, "--file=" + first, "a"}), {"first\n", "", 0});
    expect_result(
        run_as_argv0({"-f", first, "-f", missing, "a"}),
        {"", "<0> Failed to get canonical filename: " + missing + ": No such file or directory\n",
         1});
}

// Verbosity only decides whether the progress line appears, and that line
// names the file by its canonical absolute name, however it was given.
TEST(ToolCommandLine, ProgressLineShowsTheCanonicalName)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", SMALL_DOC);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("conf.json", dir.file("link.json").c_str()), 0);
    const std::string progress = "<4> Parsing file: " + canonical(conf) + "\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-f", "conf.json", "a"}, ""},
        {{"-v", "-f", "conf.json", "a"}, ""},
        {{"-v", "-v", "-f", "conf.json", "a"}, progress},
        {{"-vv", "-f", "./sub/../conf.json", "a"}, progress},
        {{"--verbose", "-v", "-f", "link.json", "a"}, progress},
        {{"-vvv", "-f", "conf.json", "a"}, progress},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_result(run_as_argv0(c.args, dir.path()), {"1\n", c.err, 0});
    }
    EXPECT_EQ(run_as_argv0({"-f", "conf.json", "-vvvvvvvvvv", "a"}, dir.path()).err,
              run_as_argv0({"-f", "conf.json", "-vvv", "a"}, dir.path()).err);
}

TEST(ToolCommandLine, ProgressLineComesBeforeAnInvalidFileIsReported)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", "not json");
    const std::string invalid = "<0> Invalid json file\n<3> " + canonical(conf) +
                                ":1:1: expected '{' or '[': a document is an object or an array\n";
    expect_result(run_as_argv0({"-v", "-v", "-f", conf, "a"}),
                  {"", "<4> Parsing file: " + canonical(conf) + "\n" + invalid, 1});
    expect_result(run_as_argv0({"-v", "-f", conf, "a"}), {"", invalid, 1});
}

// Three or more positional arguments are a read with no path: the file is
// still loaded and its root checked, then the lookup finds nothing.
TEST(ToolCommandLine, ThreeOrMorePositionalArgumentsReadNoPath)
{
    struct Case {
        std::string document;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {SMALL_DOC, {"a", "1", "2"}, "<1> Failed to get json value: (null)\n"},
        {SMALL_DOC, {"a", "b", "c", "d"}, "<1> Failed to get json value: (null)\n"},
        {"[1]", {"a", "1", "2"}, "<1> Invalid value type\n"},
        {"", {"a", "1", "2"}, "<0> Invalid json file\n"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string conf = dir.write("conf.json", c.document);
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_result(run_as_argv0(joined({"-f", conf}, c.args)), {"", c.err, 1});
        EXPECT_EQ(read_file_bytes(conf), c.document);
    }
}

// After "--" an argument that looks like an option is a path or a VALUE.
TEST(ToolCommandLine, EndOfOptionsMarkerLetsArgumentsBeginWithAMinus)
{
    TempDir dir;
    const std::string conf = dir.write("conf.json", "{\"-x\": \"dash\"}");
    expect_result(run_as_argv0({"-f", conf, "-x"}), {"", complaint({"-x"}) + USAGE, 1});
    expect_result(run_as_argv0({"-f", conf, "--", "-x"}), {"dash\n", "", 0});
    expect_result(run_as_argv0({"-f", conf, "--", "-x", "-5"}), {"", "", 0});
    expect_result(run_as_argv0({"-f", conf, "--", "-x"}), {"-5\n", "", 0});
}

}  // namespace
