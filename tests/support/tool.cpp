#include "tool.h"

#include <gtest/gtest.h>

void expect_result(const RunResult &actual, const Expected &expected)
{
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, expected.err);
    EXPECT_EQ(actual.status, expected.status);
}

RunResult run_tool(const std::vector<std::string> &args, const RunOptions &options)
{
    return run_program(CONFIGURE_QRN_BIN, args, options);
}
