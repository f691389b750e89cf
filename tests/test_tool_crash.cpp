// configure_qrn under stress: killed in the middle of writes and raced by
// other writers. The configuration file must always stay loadable and whole,
// and no store of a writer that ran to its end may be lost.
#include "owners.h"
#include "process.h"
#include "seccomp.h"
#include "sweep.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

const std::string TOOL = CONFIGURE_QRN_BIN;
const std::string EXAMPLE = std::string(EXAMPLES_DIR) + "/global_conf.json";

ValuePtr load(const std::string &path)
{
    return ValuePtr(json_parse_file_with_comments(path.c_str()));
}

// The example configuration with a history of network records appended,
// about 300 KB of indented text: enough that a write takes measurable time.
std::string large_document_text()
{
    constexpr size_t TARGET_SIZE = 300000;
    ValuePtr document = load(EXAMPLE);
    const JSON_Value *record = json_object_get_value(json_object(document.get()), "network");
    size_t records = TARGET_SIZE / json_serialization_size_pretty(record) + 1;
    JSON_Value *history = json_value_init_array();
    for (size_t i = 0; i < records; i++)
        json_array_append_value(json_array(history), json_value_deep_copy(record));
    json_object_set_value(json_object(document.get()), "history", history);
    TextPtr text(json_serialize_to_string_pretty(document.get()));
    return text ? text.get() : "";
}

bool unnamed_temporary_files_work(const std::string &dir)
{
    int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// Everything in `dir` but conf.json.
Strings strays_in(const std::string &dir)
{
    Strings entries = directory_entries(dir);
    std::erase(entries, "conf.json");
    return entries;
}

// ---- Killed writers

// Starts a store by the tool without waiting for it. The tool writes nothing
// after a store; anything it reports on failure shows in the test's output.
pid_t start_store(const std::string &path, const std::string &json_path, const std::string &value,
                  const DeniedCall *denied = nullptr)
{
    Strings words = command_words(TOOL);
    words.insert(words.end(), {"-f", path, json_path, value});
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // A kill that lands in a sanitizer's leak check at exit leaves the
    // checker's helper tracing the dead tool, and the wait never ends.
    const char *sanitizer_options = getenv("ASAN_OPTIONS");
    std::string no_leak_check = std::string(sanitizer_options ? sanitizer_options : "") +
                                (sanitizer_options ? ":" : "") + "detect_leaks=0";
    return start_child([&] {
        setenv("ASAN_OPTIONS", no_leak_check.c_str(), 1);
        if (denied && !deny_call(*denied))
            return 126;
        execvp(argv[0], argv.data());
        return 127;
    });
}

ValuePtr with_number(const JSON_Value *document, const char *json_path, double number)
{
    ValuePtr changed(json_value_deep_copy(document));
    json_object_dotset_number(json_object(changed.get()), json_path, number);
    return changed;
}

// Whether `denied` can be made to fail here, tried in a child of its own.
bool can_deny(const DeniedCall &denied)
{
    return in_child([&] { return deny_call(denied) ? 0 : 1; }) == 0;
}

// `denied`, when given, is a feature the tool runs without.
void kill_writes_at_random(const DeniedCall *denied)
{
    if (tool_is_wrapped())
        GTEST_SKIP() << "hundreds of tool runs are too slow under JSONTREE_TOOL_WRAPPER";
    if (denied && !can_deny(*denied))
        GTEST_SKIP() << "no seccomp filter can be installed here";
    // Each kill is a whole tool run on a large file: a sample by default.
    const int KILLS_WANTED = sweep_cases(150, 30);
    constexpr int RUN_LIMIT = 2000;
    constexpr int CALIBRATION_RUNS = 5;
    const char *json_path = "gateway.stat_interval_s";
    TempDir dir;
    const std::string text = large_document_text();
    ASSERT_GT(text.size(), 250000u);
    const std::string path = dir.write("conf.json", text);
    const bool unnamed = !denied && unnamed_temporary_files_work(dir.path());
    ValuePtr current = load(path);
    ASSERT_NE(current, nullptr);

    // The kill moment is drawn from the start of a run to the end of a
    // typical one, first measured here.
    int value = 0;
    std::vector<double> durations;
    for (int i = 0; i < CALIBRATION_RUNS; i++) {
        auto start = std::chrono::steady_clock::now();
        int status = wait_status(start_store(path, json_path, std::to_string(++value), denied));
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        durations.push_back(elapsed.count());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    std::sort(durations.begin(), durations.end());
    const double measured = durations[CALIBRATION_RUNS / 2];
    double typical = measured;
    current = load(path);
    ASSERT_EQ(json_object_dotget_number(json_object(current.get()), json_path), value);

    // Fixed, so a failure can be replayed; the kill moments still vary with
    // the machine's load.
    const unsigned seed = 20261207;
    std::mt19937 random(seed);
    int kills = 0, kept_old = 0, took_new = 0, completed = 0;
    std::map<std::string, std::string> stray_bytes;  // last bytes seen under each name
    int strays_made = 0;
    for (int run = 0; run < RUN_LIMIT && kills < KILLS_WANTED; run++) {
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
        ValuePtr after = with_number(current.get(), json_path, ++value);
        pid_t pid = start_store(path, json_path, std::to_string(value), denied);
        ASSERT_GT(pid, 0);
        std::uniform_real_distribution<double> delay(0, typical);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay(random)));
        kill(pid, SIGKILL);
        int status = wait_status(pid);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;

        ValuePtr loaded = load(path);
        ASSERT_NE(loaded, nullptr) << "the file no longer loads";
        const bool is_old = json_value_equals(loaded.get(), current.get());
        const bool is_new = json_value_equals(loaded.get(), after.get());
        ASSERT_TRUE(is_old || is_new) << "neither the document before nor after the write";
        // Runs get faster or slower as the machine's load changes: a run that
        // completed shortens the range, a kill widens it a little, so about
        // one run in ten completes and the kills cover the end of a run too.
        typical *= killed ? 1.01 : 0.9;
        if (killed) {
            kills++;
            (is_new ? took_new : kept_old)++;
        } else {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
            ASSERT_TRUE(is_new);
            completed++;
        }
        // Each write first removes the copies that killed writers left, so at
        // most the copy of the write just killed is there. An unnamed
        // temporary file gets a name only once it is complete, just before
        // its rename.
        Strings left_now = strays_in(dir.path());
        EXPECT_LE(left_now.size(), killed ? 1u : 0u) << "copies pile up";
        for (const std::string &stray : left_now) {
            // A copy this run made: a new name, or new bytes under the old one.
            std::string bytes = read_file_bytes(dir.file(stray));
            if (stray_bytes[stray] == bytes)
                continue;
            stray_bytes[stray] = bytes;
            strays_made++;
            EXPECT_TRUE(killed) << stray << " left by a write that completed";
            if (unnamed) {
                ValuePtr left = load(dir.file(stray));
                EXPECT_TRUE(left && json_value_equals(left.get(), after.get()))
                    << stray << " is not the finished new document";
            }
        }
        current = std::move(loaded);
    }

    // One write that runs to its end leaves the directory clean.
    ASSERT_EQ(wait_status(start_store(path, json_path, std::to_string(++value), denied)), 0);
    Strings left_at_end = strays_in(dir.path());
    EXPECT_TRUE(left_at_end.empty()) << left_at_end.front();

    printf(
        "crash consistency: %zu-byte file, kill range %.1f ms at first and %.1f ms at the "
        "end, %d kills (%d kept the old document, %d had the new one), %d runs completed, "
        "%d stray temporary copies made, %zu left after a final write, %s temporary files, "
        "seed %u\n",
        text.size(), measured * 1000, typical * 1000, kills, kept_old, took_new, completed,
        strays_made, left_at_end.size(), unnamed ? "unnamed" : "named", seed);
    ::testing::Test::RecordProperty("kills", kills);
    ::testing::Test::RecordProperty("stray_copies", strays_made);
    ::testing::Test::RecordProperty("strays_left", int(left_at_end.size()));
    EXPECT_GE(kills, KILLS_WANTED);
}

TEST(ToolCrashConsistency, KilledWriteLeavesTheOldOrTheNewDocument)
{
    kill_writes_at_random(nullptr);
}

TEST(ToolCrashConsistency, KilledWriteWithoutUnnamedFilesLeavesNoPileOfCopies)
{
    kill_writes_at_random(&NO_UNNAMED_TEMPORARY_FILES);
}

// ---- Writers racing each other

TEST(ToolConcurrentWriters, EveryStoreOfEveryWriterIsKept)
{
    if (tool_is_wrapped())
        GTEST_SKIP() << "hundreds of tool runs are too slow under JSONTREE_TOOL_WRAPPER";
    constexpr int WRITERS = 8;
    constexpr int KEYS = 50;
    TempDir dir;
    const std::string path = dir.write("conf.json", read_file_bytes(EXAMPLE));
    // Appended piece by piece: GCC 12 at -O3 warns about "literal" + string.
    auto writer_member = [](int writer) {
        std::string name = "w";
        name += std::to_string(writer);
        return name;
    };
    auto key = [&](int writer, int k) {
        std::string name = writer_member(writer);
        name += ".k";
        name += std::to_string(k);
        return name;
    };
    auto value_of = [](int writer, int k) { return writer * 1000 + k; };

    // Each writer is a process running the tool once per key, one run after
    // another; its exit status counts the runs that did not succeed cleanly.
    std::vector<pid_t> writers;
    for (int writer = 0; writer < WRITERS; writer++) {
        pid_t pid = start_child([&] {
            int failed = 0;
            for (int k = 0; k < KEYS; k++) {
                RunResult result = run_program(
                    TOOL, {"-f", path, key(writer, k), std::to_string(value_of(writer, k))});
                failed += result.status != 0 || !result.err.empty();
            }
            return failed;
        });
        ASSERT_GE(pid, 0);
        writers.push_back(pid);
    }
    for (int writer = 0; writer < WRITERS; writer++) {
        int status = wait_status(writers[writer]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "writer " << writer << ": status " << status;
    }

    ValuePtr document = load(path);
    ASSERT_NE(document, nullptr);
    JSON_Object *root = json_object(document.get());
    int stored = 0;
    for (int writer = 0; writer < WRITERS; writer++) {
        for (int k = 0; k < KEYS; k++) {
            const JSON_Value *found = json_object_dotget_value(root, key(writer, k).c_str());
            EXPECT_EQ(json_number(found), value_of(writer, k)) << key(writer, k);
            stored += json_type(found) == JSONNumber;
        }
        json_object_remove(root, writer_member(writer).c_str());
    }
    // Without the writers' members, the document is the example again.
    ValuePtr example = load(EXAMPLE);
    EXPECT_TRUE(json_value_equals(document.get(), example.get()));
    EXPECT_EQ(directory_entries(dir.path()), Strings{"conf.json"});
    printf("concurrent writers: %d of %d stores held\n", stored, WRITERS * KEYS);
    ::testing::Test::RecordProperty("stores_held", stored);
    EXPECT_EQ(stored, WRITERS * KEYS);
}

}  // namespace
