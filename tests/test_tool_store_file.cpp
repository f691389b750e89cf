// Stores of configure_qrn as the file system sees them, run on the real
// binary: the file's mode and links kept, a file that cannot be written
// kept, and writers that wait for each other.
#include "mount.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

RunResult run_in(const std::vector<std::string> &args, const std::string &cwd)
{
    RunOptions options;
    options.cwd = cwd;
    return run_tool(args, options);
}

// Replacing the file must not change who may read it.
TEST(ToolWrite, RewriteKeepsTheFileMode)
{
    ConfFile conf("{\"a\": 1}");
    ASSERT_EQ(chmod(conf.path.c_str(), 0640), 0);
    expect_result(conf.store("a", "2"), {"", "", 0});
    struct stat file_stat {};
    ASSERT_EQ(stat(conf.path.c_str(), &file_stat), 0);
    EXPECT_EQ(file_stat.st_mode & 07777, 0640u);
    conf.expect_alone_with("{\n    \"a\": 2\n}");
}

// The file is written through its canonical name: the link named by -f
// stays a link and its target receives the new content.
TEST(ToolWrite, SymbolicLinkStaysALink)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0755), 0);
    const std::string target = dir.write("real/conf.json", "{\"a\": 1}");
    ASSERT_EQ(symlink("real/conf.json", dir.file("link.json").c_str()), 0);

    expect_result(run_in({"-f", "link.json", "a", "2"}, dir.path()), {"", "", 0});

    struct stat link_stat {};
    ASSERT_EQ(lstat(dir.file("link.json").c_str(), &link_stat), 0);
    EXPECT_TRUE(S_ISLNK(link_stat.st_mode));
    char link_text[64] = {};
    EXPECT_EQ(readlink(dir.file("link.json").c_str(), link_text, sizeof link_text - 1), 14);
    EXPECT_STREQ(link_text, "real/conf.json");
    EXPECT_EQ(read_file_bytes(target), "{\n    \"a\": 2\n}");
    EXPECT_EQ(directory_entries(dir.path()), (std::vector<std::string>{"link.json", "real"}));
    EXPECT_EQ(directory_entries(dir.file("real")), std::vector<std::string>{"conf.json"});
}

TEST(ToolWrite, UnwritableFileIsReportedAndKept)
{
    const std::string document = "{\"a\": 1}";
    ConfFile conf(document);
    // Read-only for everyone, root included: the directory bound onto itself.
    ScopedMount bind(conf.dir.path().c_str(), conf.dir.path(), nullptr, MS_BIND, nullptr);
    if (!bind.mounted() || !bind.remount_read_only())
        GTEST_SKIP() << "cannot bind-mount read-only here";
    expect_result(conf.read("a"), {"1\n", "", 0});
    expect_result(conf.store("a", "2"), {"", "<1> Failed to serialize json value\n", 1});
    conf.expect_alone_with(document);
}

TEST(ToolWrite, WriterWaitsForTheFileLock)
{
    const std::string document = "{\"a\": 1}";
    ConfFile conf(document);
    int fd = open(conf.path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);

    std::atomic<bool> finished{false};
    RunResult result;
    std::thread writer([&] {
        result = conf.store("b", "2");
        finished = true;
    });
    // Long enough for an unlocked writer to finish many times over; a loaded
    // machine can only make this test pass wrongly, never fail wrongly.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const bool finished_while_locked = finished;
    const std::string text_while_locked = read_file_bytes(conf.path);
    flock(fd, LOCK_UN);
    close(fd);
    writer.join();

    EXPECT_FALSE(finished_while_locked);
    EXPECT_EQ(text_while_locked, document);
    expect_result(result, {"", "", 0});
    conf.expect_alone_with("{\n    \"a\": 1,\n    \"b\": 2\n}");
}

TEST(ToolWrite, ConcurrentWritersLoseNoUpdate)
{
    ConfFile conf("{}");
    constexpr int WRITERS = 12;
    std::vector<RunResult> results(WRITERS);
    std::vector<std::thread> writers;
    // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "k" + std::string.
    auto name = [](int i) { return std::string("k").append(std::to_string(i)); };
    for (int i = 0; i < WRITERS; i++)
        writers.emplace_back([&, i] { results[i] = conf.store(name(i), std::to_string(i)); });
    for (auto &writer : writers)
        writer.join();
    for (int i = 0; i < WRITERS; i++) {
        SCOPED_TRACE(i);
        expect_result(results[i], {"", "", 0});
        expect_result(conf.read(name(i)), {std::to_string(i) + "\n", "", 0});
    }
    EXPECT_EQ(directory_entries(conf.dir.path()), std::vector<std::string>{"conf.json"});
}

}  // namespace
