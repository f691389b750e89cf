#include "failing_calls.h"

#include "process.h"
#include "tool.h"

#include <cstdlib>
#include <sstream>

AsanAcceptsPreload::AsanAcceptsPreload()
{
    const char *options = getenv("ASAN_OPTIONS");
    had_options_ = options != nullptr;
    saved_ = options ? options : "";
    std::string accepting = saved_ + (saved_.empty() ? "" : ":") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", accepting.c_str(), 1);
}

AsanAcceptsPreload::~AsanAcceptsPreload()
{
    if (had_options_)
        setenv("ASAN_OPTIONS", saved_.c_str(), 1);
    else
        unsetenv("ASAN_OPTIONS");
}

void ToolUnderShim::SetUp()
{
#ifdef NO_IO_FAILURE_SHIM
    GTEST_SKIP() << "no failing-call shim in this build: it needs the GNU C library";
#endif
    if (runs_under_emulator())
        GTEST_SKIP() << "the preloaded shim would reach the emulator, not the tool";
    if (tool_is_wrapped())
        GTEST_SKIP() << "the wrapper does its own preloading: no shim under JSONTREE_TOOL_WRAPPER";
}

std::vector<std::string> logged_calls(const std::string &log)
{
    std::istringstream lines(read_file_bytes(log));
    std::vector<std::string> calls;
    for (std::string call; std::getline(lines, call);)
        calls.push_back(call);
    return calls;
}
