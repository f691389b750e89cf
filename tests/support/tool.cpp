#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

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

std::string option_parser_complaint(const std::string &argv0, const std::vector<std::string> &args)
{
    // The tool's table: which prefixes are ambiguous and which options take
    // an argument depends on it.
    static const option options[] = {
        {"file", required_argument, nullptr, 'f'},
        {"verbose", no_argument, nullptr, 'v'},
        {"version", no_argument, nullptr, 0},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    TempDir dir;
    const std::string complaint = dir.file("complaint");
    // In a child: the parser's state and the redirected descriptor end with it.
    int status = in_child([&] {
        std::vector<std::string> words = {argv0};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        int fd = open(complaint.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0)
            return 1;
        int option;
        do
            option = getopt_long(int(words.size()), argv.data(), "f:vh", options, nullptr);
        while (option != -1 && option != '?');
        return 0;
    });
    EXPECT_EQ(status, 0);
    std::string text = read_file_bytes(complaint);
    EXPECT_TRUE(text.starts_with(argv0 + ": ") && text.ends_with("\n")) << text;
    return text;
}
