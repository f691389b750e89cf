// Runs of the tool with the failing-call shim (io_failure_shim.c) preloaded,
// which makes chosen file system calls on one directory fail and logs the
// calls it counted.
#ifndef TESTS_FAILING_CALLS_H
#define TESTS_FAILING_CALLS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The sanitizer runtime insists on coming first among the libraries, which a
// preloaded library never lets it; it is told to accept that.
class AsanAcceptsPreload {
public:
    AsanAcceptsPreload();
    ~AsanAcceptsPreload();
    AsanAcceptsPreload(const AsanAcceptsPreload &) = delete;
    AsanAcceptsPreload &operator=(const AsanAcceptsPreload &) = delete;

private:
    bool had_options_;
    std::string saved_;
};

// Skipped where the shim would not reach the tool itself.
class ToolUnderShim : public ::testing::Test {
protected:
    void SetUp() override;

private:
    AsanAcceptsPreload asan_accepts_preload_;
};

// The calls the shim counted, in order, from its log.
std::vector<std::string> logged_calls(const std::string &log);

// An extended attribute the stored file carries, which the new file must get too.
inline constexpr char KEPT_ATTRIBUTE[] = "user.origin";

#endif
