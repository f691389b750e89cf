// Running the configure_qrn binary under test and checking what it printed.
#ifndef TESTS_TOOL_H
#define TESTS_TOOL_H

#include "process.h"

#include <string>
#include <vector>

struct Expected {
    std::string out;
    std::string err;
    int status;
};

// Standard output, standard error and exit status, each byte for byte.
void expect_result(const RunResult &actual, const Expected &expected);

// Runs the tool built with the tests.
RunResult run_tool(const std::vector<std::string> &args, const RunOptions &options = {});

// What the C library's option parser prints on standard error for `args`
// (argv[1] on) given the tool's options, up to the first option it refuses:
// the C libraries word their complaints differently, and the tool passes
// theirs on.
std::string option_parser_complaint(const std::string &argv0, const std::vector<std::string> &args);

// True when JSONTREE_TOOL_WRAPPER runs every start of the tool through a
// checker, which makes runs many times slower.
bool tool_is_wrapped();

// A configuration file alone in its own directory.
struct ConfFile {
    TempDir dir;
    std::string path;

    explicit ConfFile(const std::string &document) : path(dir.write("conf.json", document)) {}

    RunResult read(const std::string &json_path) const { return run_tool({"-f", path, json_path}); }
    // Negative VALUEs need the end-of-options marker; it changes nothing else.
    RunResult store(const std::string &json_path, const std::string &value) const
    {
        return run_tool({"-f", path, "--", json_path, value});
    }
    // The file holds exactly `document`, and no stray file lies beside it.
    void expect_alone_with(const std::string &document) const;
};

#endif
