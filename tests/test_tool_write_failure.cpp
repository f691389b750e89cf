// configure_qrn meeting full disks, size limits, read-only mounts, failing
// calls, swapped names and held locks: a store that cannot complete is
// refused with one message and leaves the file and its directory as they
// were.
#include "failing_calls.h"
#include "mount.h"
#include "process.h"
#include "seccomp.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

const std::string TOOL = CONFIGURE_QRN_BIN;
const std::string EXAMPLE = std::string(EXAMPLES_DIR) + "/global_conf.json";
const std::string SERIALIZE_FAILED = "<1> Failed to serialize json value\n";

// The text of the stored VALUE alone outgrows every limit set below.
const std::string LARGE_VALUE(20000, 'x');

struct StoreAttempt {
    StoreAttempt(std::string dir_path, std::string file_path)
        : dir(std::move(dir_path)), path(std::move(file_path))
    {
    }
    std::string dir;   // the directory that holds only conf.json
    std::string path;  // conf.json
    std::string value = LARGE_VALUE;
    RunOptions options;
    std::string cause = "";  // after "<3> " and the file's name, the line -v adds
};

// The store is refused with the one message, and neither the file (bytes
// and inode, unless it was already `replaced`) nor its directory shows any
// trace of it.
void expect_store_fails_cleanly(const StoreAttempt &attempt, bool replaced = false)
{
    const std::string before = read_file_bytes(attempt.path);
    struct stat status_before {};
    ASSERT_EQ(stat(attempt.path.c_str(), &status_before), 0);

    RunResult result =
        run_program(TOOL, {"-f", attempt.path, "big", attempt.value}, attempt.options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, SERIALIZE_FAILED);
    EXPECT_EQ(result.status, 1);

    struct stat status_after {};
    ASSERT_EQ(stat(attempt.path.c_str(), &status_after), 0);
    EXPECT_EQ(status_after.st_ino != status_before.st_ino, replaced);
    EXPECT_EQ(read_file_bytes(attempt.path) != before, replaced) << "the file changed or not";
    EXPECT_EQ(directory_entries(attempt.dir), Strings{"conf.json"});
    if (!attempt.cause.empty()) {
        RunOptions uncounted = attempt.options;  // the calls of the first run stay the ones logged
        std::erase_if(uncounted.env, [](const std::string &setting) {
            return setting.starts_with("JSONTREE_CALL_LOG=");
        });
        // Another value than the first run's: where that run replaced the file,
        // the text now held must differ from the one written.
        result =
            run_program(TOOL, {"-v", "-f", attempt.path, "big", attempt.value + "!"}, uncounted);
        EXPECT_EQ(result.err,
                  SERIALIZE_FAILED + "<3> " + attempt.path + ": " + attempt.cause + "\n");
    }
}

// A small tmpfs inside a private directory, holding a copy of the example.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const char *size)
        : mount_point_(make_mount_point(dir_)), mount_("tmpfs", mount_point_, "tmpfs", 0, size)
    {
    }
    bool ready() const { return mount_.mounted(); }
    std::string error() const { return mount_.error(); }
    const ScopedMount &mount() const { return mount_; }
    StoreAttempt attempt() const
    {
        std::string path = mount_point_ + "/conf.json";
        std::ofstream(path) << read_file_bytes(EXAMPLE);
        return {mount_point_, path};
    }

private:
    static std::string make_mount_point(const TempDir &dir)
    {
        std::string point = dir.file("mnt");
        mkdir(point.c_str(), 0755);
        return point;
    }

    TempDir dir_;  // outlives the mount, which is undone first
    std::string mount_point_;
    ScopedMount mount_;
};

TEST(ToolWriteFailure, FullDiskKeepsTheFile)
{
    SmallFileSystem disk("size=16k");
    if (!disk.ready())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    StoreAttempt attempt = disk.attempt();
    ASSERT_EQ(read_file_bytes(attempt.path), read_file_bytes(EXAMPLE)) << "no room for the copy";
    attempt.cause = "writing the new text failed: No space left on device";
    expect_store_fails_cleanly(attempt);
}

TEST(ToolWriteFailure, ReadOnlyMountKeepsTheFile)
{
    SmallFileSystem disk("size=64k");
    if (!disk.ready())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    StoreAttempt attempt = disk.attempt();
    ASSERT_TRUE(disk.mount().remount_read_only()) << strerror(errno);
    attempt.value = "1";
    attempt.cause = "writing the new text failed: Read-only file system";
    expect_store_fails_cleanly(attempt);
}

// The file size limit and an ignored SIGXFSZ, inherited by every child
// started meanwhile, so a write past the limit fails instead of killing.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &saved_limit_);
        rlimit lowered{limit, saved_limit_.rlim_max};
        saved_handler_ = signal(SIGXFSZ, SIG_IGN);
        active_ = saved_handler_ != SIG_ERR && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_limit_);
        if (saved_handler_ != SIG_ERR)
            signal(SIGXFSZ, saved_handler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit &) = delete;
    ScopedFileSizeLimit &operator=(const ScopedFileSizeLimit &) = delete;
    bool active() const { return active_; }

private:
    rlimit saved_limit_{};
    sighandler_t saved_handler_;
    bool active_;
};

// A bind-mounted file is written behind a journal of its own name. Whatever
// else holds that name, put there by anyone who may write the directory or
// by a store still running, fails the store, stays as it was, and is named.
TEST(ToolWriteFailure, TakenJournalNameIsNamedAndKept)
{
    const std::string document = "{\"a\": 1}";
    int live = -1;
    const std::pair<const char *, std::function<bool(const std::string &)>> takers[] = {
        // Neither reused (its bytes kept) nor removed.
        {"the journal of a live store",
         [&](const std::string &name) {
             std::ofstream(name) << "being written";
             live = open(name.c_str(), O_RDONLY | O_CLOEXEC);
             return live >= 0 && flock(live, LOCK_EX) == 0;
         }},
        {"a FIFO", [](const std::string &name) { return mkfifo(name.c_str(), 0600) == 0; }},
        {"a directory", [](const std::string &name) { return mkdir(name.c_str(), 0700) == 0; }},
        {"a link", [](const std::string &name) { return symlink("conf.json", name.c_str()) == 0; }},
    };
    for (const auto &[what, take] : takers) {
        SCOPED_TRACE(what);
        TempDir elsewhere;
        ConfFile conf(document);
        const std::string source = elsewhere.write("conf.json", document);
        ScopedMount bind(source.c_str(), conf.path, nullptr, MS_BIND, nullptr);
        if (!bind.mounted())
            GTEST_SKIP() << "mount not permitted: " << bind.error();
        const std::string journal = conf.dir.file(".conf.json.~jsontree-journal~");
        ASSERT_TRUE(take(journal)) << strerror(errno);
        struct stat before {
        }, after{};
        ASSERT_EQ(lstat(journal.c_str(), &before), 0);

        expect_result(run_tool({"-v", "-f", conf.path, "a", "2"}),
                      {"",
                       SERIALIZE_FAILED + "<3> " + conf.path + ": the name of its journal, " +
                           journal + ", is taken: File exists\n",
                       1});
        EXPECT_EQ(read_file_bytes(source), document);
        ASSERT_EQ(lstat(journal.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        if (live >= 0) {
            EXPECT_EQ(read_file_bytes(journal), "being written");
            close(live);
            live = -1;
        }
    }
}

TEST(ToolWriteFailure, FileSizeLimitKeepsTheFile)
{
    TempDir dir;
    StoreAttempt attempt{dir.path(), dir.write("conf.json", read_file_bytes(EXAMPLE))};
    ScopedFileSizeLimit limit(8192);
    ASSERT_TRUE(limit.active()) << strerror(errno);
    attempt.cause = "writing the new text failed: File too large";
    expect_store_fails_cleanly(attempt);
}

struct FailingCall {
    const char *calls;      // the functions the shim makes fail, as it reads them
    int failures;           // how many of their calls fail
    int passed = 0;         // how many of their calls succeed before the first failure
    bool replaced = false;  // the failure comes after the rename
    const char *cause = "writing the new text failed: Input/output error";
};

const char *const NO_SPACE = "writing the new text failed: No space left on device";

const FailingCall FAILING_CALLS[] = {
    {"write", 1, 0, false, NO_SPACE},
    {"fsync,fdatasync", 1},
    // The directory's: without it the rename may not outlive a power cut.
    {"fsync,fdatasync", 1, 1, true,
     "the new text is in place, but syncing its directory failed: Input/output error"},
    {"rename,renameat,renameat2", 1},
    // Linking the unnamed file in has a second way; a failing disk fails both.
    {"linkat", 1000},
    // The file carries an attribute that the new file must get too.
    {"fsetxattr", 1, 0, false, NO_SPACE},
};

TEST_F(ToolUnderShim, FailingCallKeepsTheFile)
{
    for (const FailingCall &failing : FAILING_CALLS) {
        SCOPED_TRACE(failing.calls);
        TempDir dir, log_dir;
        const std::string log = log_dir.file("calls");
        StoreAttempt attempt{dir.path(), dir.write("conf.json", read_file_bytes(EXAMPLE))};
        if (setxattr(attempt.path.c_str(), KEPT_ATTRIBUTE, "factory", 7, 0) != 0) {
            ASSERT_EQ(errno, EOPNOTSUPP);
            if (std::string(failing.calls) == "fsetxattr") {
                printf("not tried: no extended attributes here\n");
                continue;
            }
        }
        attempt.options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM,
                               "JSONTREE_FAIL_CALL=" + std::string(failing.calls),
                               "JSONTREE_FAIL_PATH=" + dir.path(),
                               "JSONTREE_FAIL_SKIP=" + std::to_string(failing.passed),
                               "JSONTREE_FAIL_TIMES=" + std::to_string(failing.failures),
                               "JSONTREE_CALL_LOG=" + log};
        attempt.cause = failing.cause;
        expect_store_fails_cleanly(attempt, failing.replaced);

        const Strings made = logged_calls(log);
        ASSERT_FALSE(made.empty()) << "the shim saw no call to fail";
        // After a failed fsync the kernel may already have dropped the pages:
        // a second fsync could report success for data that never arrived.
        if (std::string(failing.calls).starts_with("fsync")) {
            EXPECT_EQ(made.size(), failing.passed + 1u) << "fsync retried";
        }
    }
}

// Started with descriptors 0 to 2 closed, the tool must not take one of them
// for the file it writes: the message of a failed directory sync after the
// rename would be written into the configuration file.
TEST_F(ToolUnderShim, ClosedStandardDescriptorsNeverBecomeTheFile)
{
    TempDir dir;
    const std::string path = dir.write("conf.json", "{\"a\": 1}");
    RunOptions options;
    options.standard_output = StandardOutput::all_closed;
    options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_CALL=fsync,fdatasync",
                   "JSONTREE_FAIL_PATH=" + dir.path(), "JSONTREE_FAIL_SKIP=1"};
    EXPECT_EQ(run_program(TOOL, {"-f", path, "a", "2"}, options).status, 1);
    EXPECT_EQ(read_file_bytes(path), "{\n    \"a\": 2\n}");
}

// Another user who may write the directory swaps the file for a link at the
// worst moment, once the new text is on disk: the store must not write where
// the link leads, nor make a file there.
TEST_F(ToolUnderShim, FileSwappedForALinkIsNotWrittenThrough)
{
    for (bool victim_exists : {true, false}) {
        SCOPED_TRACE(victim_exists ? "link to another file" : "link to no file");
        TempDir dir, elsewhere;
        const std::string path = dir.write("conf.json", read_file_bytes(EXAMPLE));
        const std::string victim = elsewhere.file("victim");
        if (victim_exists)
            elsewhere.write("victim", "victim bytes");
        RunOptions options;
        options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_CALL=fsync",
                       "JSONTREE_FAIL_PATH=" + dir.path(), "JSONTREE_SWAP_FILE=" + path,
                       "JSONTREE_SWAP_LINK=" + victim};

        RunResult result =
            run_program(TOOL, {"-v", "-f", path, "gateway.stat_interval_s", "7"}, options);
        EXPECT_EQ(result.err, SERIALIZE_FAILED + "<3> " + path +
                                  ": another file took the name during the store\n");
        EXPECT_EQ(result.status, 1);
        char link[PATH_MAX] = {};
        EXPECT_GT(readlink(path.c_str(), link, sizeof link - 1), 0) << "the link was replaced";
        EXPECT_EQ(link, victim);
        EXPECT_EQ(directory_entries(dir.path()), Strings{"conf.json"});
        EXPECT_EQ(directory_entries(elsewhere.path()),
                  victim_exists ? Strings{"victim"} : Strings{});
        EXPECT_EQ(read_file_bytes(victim), victim_exists ? "victim bytes" : "");
    }
}

// Where no unnamed temporary file can be made, the copy is created under a
// name of its own; a stale file a killed writer left at that very name must
// not be written into, or the new text would keep its tail.
TEST_F(ToolUnderShim, StaleFileAtTheTemporaryNameIsNotWrittenInto)
{
    TempDir dir;
    const std::string path = dir.write("conf.json", "{\"a\": 1}");
    const std::string stale(200, 's');
    RunOptions options;
    options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_CALL=open,open64,openat,openat64",
                   "JSONTREE_FAIL_PATH=" + dir.path(), "JSONTREE_STALE_TEXT=" + stale};
    int result = in_child([&] {
        if (!deny_call(NO_UNNAMED_TEMPORARY_FILES))
            return 100;
        return run_program(TOOL, {"-f", path, "a", "2"}, options).status;
    });
    if (result == 100)
        GTEST_SKIP() << "no seccomp filter can be installed here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file_bytes(path), "{\n    \"a\": 2\n}");
    // The planted file stays as it was, beside the file (the first name).
    const Strings entries = directory_entries(dir.path());
    ASSERT_EQ(entries.size(), 2u) << "nothing was planted";
    EXPECT_EQ(read_file_bytes(dir.file(entries[0])), stale);
}

// Anyone who can read the file can lock it. A store waits for the lock a
// bounded time and then gives up, the file untouched; reads take no lock.
// The one test that waits out the tool's whole wait.
TEST(ToolLock, StoreGivesUpOnALockHeldByAReader)
{
    TempDir dir;
    const std::string path = dir.write("conf.json", read_file_bytes(EXAMPLE));
    int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);

    RunResult read = run_program(TOOL, {"-f", path, "gateway.stat_interval_s"});
    // The wait is long: the store that gives the cause (-v) waits alongside.
    RunResult explained;
    std::thread explaining([&] {
        explained = run_program(TOOL, {"-v", "-f", path, "gateway.stat_interval_s", "7"});
    });
    RunResult store = run_program(TOOL, {"-f", path, "gateway.stat_interval_s", "7"});
    explaining.join();
    close(reader);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(store.err, SERIALIZE_FAILED);
    EXPECT_EQ(store.status, 1);
    EXPECT_EQ(explained.err,
              SERIALIZE_FAILED + "<3> " + path + ": lock not obtained within 10 s\n");
    EXPECT_EQ(read_file_bytes(path), read_file_bytes(EXAMPLE));
}

}  // namespace
