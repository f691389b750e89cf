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

#endif
