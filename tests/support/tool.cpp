#include "tool.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

void ConfFile::expect_alone_with(const std::string &document) const
{
    EXPECT_EQ(read_file_bytes(path), document);
    EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"conf.json"});
}

bool tool_is_wrapped()
{
    const char *wrapper = getenv("JSONTREE_TOOL_WRAPPER");
    return wrapper && *wrapper;
}
