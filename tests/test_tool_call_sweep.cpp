// Every file system call of a store, by the tool and by a library writer,
// made to fail in a run of its own: the store succeeds, or fails with one
// message and the old text in place, the file's properties kept.
#include "failing_calls.h"
#include "mount.h"
#include "process.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

const std::string TOOL = CONFIGURE_QRN_BIN;
const std::string EXAMPLE = std::string(EXAMPLES_DIR) + "/global_conf.json";

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
// text in place (the new one only when the last sync failed). The calls are counted, not listed: one that a
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
        const size_t last_sync =
            counted.calls.rend() - std::find(counted.calls.rbegin(), counted.calls.rend(), "fsync");
        for (size_t failing = 1; failing <= counted.calls.size(); failing++) {
            SCOPED_TRACE("call " + std::to_string(failing) + ": " + counted.calls[failing - 1]);
            const SweepRun run = run_swept_store(store, failing);
            ASSERT_GE(run.calls.size(), failing) << "the call to fail was not made";
            EXPECT_EQ(run.calls[failing - 1], counted.calls[failing - 1]) << "another call failed";
            // Every sync makes something durable the store relies on.
            const bool sync = counted.calls[failing - 1] == "fsync";
            if (run.result.status == 0 && !sync) {
                EXPECT_EQ(run.text, counted.text);
                EXPECT_EQ(run.result.err, "");
                continue;
            }
            EXPECT_EQ(run.result.status, 1) << run.result.err;
            // Only the last step, the directory's sync, leaves the new text.
            EXPECT_TRUE(run.text == old_text || (failing == last_sync && run.text == counted.text))
                << run.text;
            EXPECT_EQ(std::count(run.result.err.begin(), run.result.err.end(), '\n'), 1)
                << run.result.err;
            EXPECT_TRUE(run.result.err.ends_with('\n')) << run.result.err;
        }
        printf("%s: each of %zu calls failed in turn\n", store.name, counted.calls.size());
    }
}

}  // namespace
