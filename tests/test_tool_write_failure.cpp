// configure_qrn, and a library writer, meeting full disks, size limits,
// read-only mounts, failing calls, swapped names and held locks: a store that
// cannot complete is refused with one message and leaves the file and its
// directory as they were.
#include "mount.h"
#include "process.h"
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

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
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
        result = run_program(TOOL, {"-v", "-f", attempt.path, "big", attempt.value}, uncounted);
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

TEST(ToolWriteFailure, FileSizeLimitKeepsTheFile)
{
    TempDir dir;
    StoreAttempt attempt{dir.path(), dir.write("conf.json", read_file_bytes(EXAMPLE))};
    ScopedFileSizeLimit limit(8192);
    ASSERT_TRUE(limit.active()) << strerror(errno);
    attempt.cause = "writing the new text failed: File too large";
    expect_store_fails_cleanly(attempt);
}

// The sanitizer runtime insists on coming first among the libraries, which a
// preloaded library never lets it; it is told to accept that.
class AsanAcceptsPreload {
public:
    AsanAcceptsPreload()
    {
        const char *options = getenv("ASAN_OPTIONS");
        had_options_ = options != nullptr;
        saved_ = options ? options : "";
        std::string accepting = saved_ + (saved_.empty() ? "" : ":") + "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", accepting.c_str(), 1);
    }
    ~AsanAcceptsPreload()
    {
        if (had_options_)
            setenv("ASAN_OPTIONS", saved_.c_str(), 1);
        else
            unsetenv("ASAN_OPTIONS");
    }
    AsanAcceptsPreload(const AsanAcceptsPreload &) = delete;
    AsanAcceptsPreload &operator=(const AsanAcceptsPreload &) = delete;

private:
    bool had_options_;
    std::string saved_;
};

// Runs of the tool with the shim preloaded, which makes chosen calls fail.
class ToolUnderShim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (runs_under_emulator())
            GTEST_SKIP() << "the preloaded shim would reach the emulator, not the tool";
        if (tool_is_wrapped())
            GTEST_SKIP()
                << "the wrapper does its own preloading: no shim under JSONTREE_TOOL_WRAPPER";
    }

private:
    AsanAcceptsPreload asan_accepts_preload_;
};

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

const char KEPT_ATTRIBUTE[] = "user.origin";

// The calls the shim counted, in order, from its log.
Strings logged_calls(const std::string &log)
{
    std::istringstream lines(read_file_bytes(log));
    Strings calls;
    for (std::string call; std::getline(lines, call);)
        calls.push_back(call);
    return calls;
}

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

// A program that stores over conf.json, with the arguments it needs for it.
struct SweptStore {
    const char *name;
    std::string program;
    Strings (*arguments)(const std::string &path);
    // A file from elsewhere, as a container gets its configuration: written
    // in place, since nothing can be renamed over it.
    bool bind_mounted = false;
};

Strings tool_store(const std::string &path)
{
    return {"-f", path, "gateway.stat_interval_s", "7"};
}

// Far shorter than the example, whose tail must go.
Strings library_store(const std::string &path)
{
    return {path, R"({"gateway": {"stat_interval_s": 7}})"};
}

const SweptStore SWEPT_STORES[] = {
    {"the tool", TOOL, tool_store},
    {"a library writer", PRETTY_FILE_WRITER, library_store},
    {"a library writer, bind-mounted file", PRETTY_FILE_WRITER, library_store, true},
    {"the tool, bind-mounted file", TOOL, tool_store, true},
};

bool bind_mounts_permitted()
{
    TempDir dir;
    ScopedMount bind(dir.write("source", "").c_str(), dir.write("target", ""), nullptr, MS_BIND,
                     nullptr);
    return bind.mounted();
}

// Type, mode, owner and the kept attribute of what `path` names.
std::string file_properties(const std::string &path)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0)
        return strerror(errno);
    char attribute[64] = {};
    ssize_t length = lgetxattr(path.c_str(), KEPT_ATTRIBUTE, attribute, sizeof attribute);
    std::ostringstream properties;
    properties << std::oct << status.st_mode << std::dec << " " << status.st_uid << ":"
               << status.st_gid << " "
               << (length < 0 ? "-" : std::string(attribute, size_t(length)));
    return properties.str();
}

// A mode, an owner and an attribute that no new file gets by itself (the
// owner only where this process may give files away).
void give_properties_to_keep(const std::string &path)
{
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), 1234, 4321), 0);
    }
    if (setxattr(path.c_str(), KEPT_ATTRIBUTE, "factory", 7, 0) != 0) {
        ASSERT_EQ(errno, EOPNOTSUPP);
    }
}

struct SweepRun {
    RunResult result;
    std::string text;  // the file's after the run
    Strings calls;     // those the shim counted
};

// `store` over a fresh copy of the example, its counted call `failing` made
// to fail (none when 0). Whatever the outcome, the file keeps its properties
// and, once the next access has settled it, stays alone in its directory.
SweepRun run_swept_store(const SweptStore &store, size_t failing)
{
    TempDir dir, elsewhere, log_dir;
    const std::string path = dir.write("conf.json", read_file_bytes(EXAMPLE));
    const std::string file =
        store.bind_mounted ? elsewhere.write("conf.json", read_file_bytes(EXAMPLE)) : path;
    give_properties_to_keep(file);
    std::optional<ScopedMount> bind;
    if (store.bind_mounted) {
        bind.emplace(file.c_str(), path, nullptr, MS_BIND, nullptr);
        EXPECT_TRUE(bind->mounted()) << bind->error();
    }
    const std::string properties = file_properties(path);
    RunOptions options;
    options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_PATH=" + dir.path(),
                   "JSONTREE_FAIL_SKIP=" + std::to_string(failing > 0 ? failing - 1 : 0),
                   "JSONTREE_FAIL_TIMES=" + std::to_string(failing > 0 ? 1 : 0),
                   "JSONTREE_CALL_LOG=" + log_dir.file("calls")};
    RunResult result = run_program(store.program, store.arguments(path), options);
    // An in-place write cut short is settled by the next access, a read.
    EXPECT_EQ(run_program(TOOL, {"-f", path, "gateway.stat_interval_s"}).err, "");
    SweepRun run{result, read_file_bytes(path), logged_calls(log_dir.file("calls"))};
    EXPECT_EQ(file_properties(path), properties);
    EXPECT_EQ(directory_entries(dir.path()), Strings{"conf.json"});
    EXPECT_EQ(directory_entries(elsewhere.path()),
              store.bind_mounted ? Strings{"conf.json"} : Strings{});
    return run;
}

// Every file system call of a store on the file's directory fails in a run
// of its own. The store then succeeds, or fails with one message and the old
// or the new text in place. The calls are counted, not listed: one that a
// change adds is swept as well.
TEST_F(ToolUnderShim, EachCallOfAStoreFailingKeepsTheFile)
{
    const std::string old_text = read_file_bytes(EXAMPLE);
    for (const SweptStore &store : SWEPT_STORES) {
        SCOPED_TRACE(store.name);
        if (store.bind_mounted && !bind_mounts_permitted()) {
            printf("not swept: %s: mounting is not permitted here\n", store.name);
            continue;
        }
        const SweepRun counted = run_swept_store(store, 0);
        ASSERT_EQ(counted.result.status, 0) << counted.result.err;
        ASSERT_NE(counted.text, old_text);
        for (size_t failing = 1; failing <= counted.calls.size(); failing++) {
            SCOPED_TRACE("call " + std::to_string(failing) + ": " + counted.calls[failing - 1]);
            const SweepRun run = run_swept_store(store, failing);
            ASSERT_GE(run.calls.size(), failing) << "the call to fail was not made";
            EXPECT_EQ(run.calls[failing - 1], counted.calls[failing - 1]) << "another call failed";
            if (run.result.status == 0) {
                EXPECT_EQ(run.text, counted.text);
                EXPECT_EQ(run.result.err, "");
                continue;
            }
            EXPECT_EQ(run.result.status, 1) << run.result.err;
            EXPECT_TRUE(run.text == old_text || run.text == counted.text) << run.text;
            EXPECT_EQ(std::count(run.result.err.begin(), run.result.err.end(), '\n'), 1)
                << run.result.err;
            EXPECT_TRUE(run.result.err.ends_with('\n')) << run.result.err;
        }
        printf("%s: each of %zu calls failed in turn\n", store.name, counted.calls.size());
    }
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
