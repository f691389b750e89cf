// A power cut at any moment of a store, or of the read that settles one cut
// short, leaves the next access the old document or the new one, whole; once
// the store has reported success, the new one. The states are those the
// file systems' rules allow (tests/support/power_cut.h), built from the
// changes the tool was traced making.
#include "failing_calls.h"
#include "mount.h"
#include "owners.h"
#include "power_cut.h"
#include "process.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Scenario {
    const char *name;
    bool bind_mounted;  // the file cannot be renamed over: it is written in place
    // The store is cut where the file holds neither text, and the next read,
    // settling it, is cut too.
    bool cut_while_settling;
};

const Scenario SCENARIOS[] = {
    {"rename store", false, false},
    {"in-place store", true, false},
    {"settling an in-place store cut short", true, true},
};

constexpr char STORED_PATH[] = "first";
constexpr char OLD_VALUE[] = "the value before the store";
constexpr char NEW_VALUE[] = "after";

// About three blocks of text, so that blocks can tear. The value stored
// comes first and shrinks, so every later byte moves and the file is cut.
ValuePtr document(const char *first)
{
    ValuePtr value(json_value_init_object());
    json_object_set_string(json_object(value.get()), STORED_PATH, first);
    JSON_Value *lines = json_value_init_array();
    for (int i = 0; i < 450; i++)
        json_array_append_string(json_array(lines), ("line " + std::to_string(i)).c_str());
    json_object_set_value(json_object(value.get()), "lines", lines);
    return value;
}

// The next access, as a reader or a store finds the file; both settle
// what a cut left.
using Access = ValuePtr (*)(const std::string &path);

ValuePtr parsed(const std::string &path)
{
    return ValuePtr(json_parse_file(path.c_str()));
}

ValuePtr held(const std::string &path)
{
    HeldFile file(json_file_open(path.c_str(), 0));
    return ValuePtr(file ? json_parse_string(json_file_text(file.get())) : nullptr);
}

constexpr Access ACCESSES[] = {parsed, held};

struct TracedRun {
    RunResult result;
    std::vector<TracedChange> changes;
};

TracedRun traced_tool_run(const std::string &dir, const Strings &args)
{
    TempDir log_dir;
    RunOptions options;
    options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_PATH=" + dir,
                   "JSONTREE_FAIL_TIMES=0", "JSONTREE_TRACE_LOG=" + log_dir.file("trace")};
    RunResult result = run_program(CONFIGURE_QRN_BIN, args, options);
    return {result, traced_changes(log_dir.file("trace"))};
}

struct Check {
    std::string dir;
    bool success_reported = false;  // by the traced run: only the new document will do after it
    std::string old_text, new_text;
    size_t checked = 0;
    std::vector<std::string> bad;
    std::set<DirectoryState> seen;

    std::string path() const { return dir + "/conf.json"; }

    // Each 4 KiB block of `bytes` as the old text's (o), the new text's (n),
    // zeros (0), or other bytes (x).
    std::string blocks(const std::string &bytes) const
    {
        std::string letters;
        for (size_t start = 0; start < bytes.size(); start += 4096) {
            std::string block = bytes.substr(start, 4096);
            auto holds = [&](const std::string &text) {
                return text.compare(std::min(start, text.size()), block.size(), block) == 0;
            };
            letters += holds(old_text)                                      ? 'o'
                       : holds(new_text)                                    ? 'n'
                       : block.find_first_not_of('\0') == std::string::npos ? '0'
                                                                            : 'x';
        }
        return letters;
    }

    std::string describe(const DirectoryState &state, const CrashPoint &point,
                         const std::vector<TracedChange> &changes) const
    {
        std::string text = "cut after " + std::to_string(point.changes_made) + " of " +
                           std::to_string(changes.size()) + " changes";
        if (point.changes_made > 0)
            text += " (the last: " + changes[point.changes_made - 1].line + ")";
        for (const auto &[name, bytes] : state)
            text += "; " + name + ": " + std::to_string(bytes.size()) + " bytes " + blocks(bytes);
        return text;
    }

    // What the next access finds, each in its turn, where that is wrong; a
    // parse after it must find the same.
    std::string fault(const DirectoryState &state, const CrashPoint &point,
                      const std::vector<TracedChange> &changes)
    {
        ValuePtr old_document = document(OLD_VALUE), new_document = document(NEW_VALUE);
        for (Access access : ACCESSES) {
            materialize(dir, state);
            ValuePtr found = access(path());
            ValuePtr again = parsed(path());
            const bool is_old = json_value_equals(found.get(), old_document.get());
            const bool is_new = json_value_equals(found.get(), new_document.get());
            const bool same_again = json_value_equals(again.get(), found.get());
            if ((is_new || (is_old && !(success_reported && point.after_all))) && same_again)
                continue;
            const char *what = !found   ? "no document"
                               : is_old ? "the old document"
                               : is_new ? "the new document"
                                        : "another document";
            return describe(state, point, changes) + ": " +
                   (access == parsed ? "a parse" : "a held open") + " found " + what +
                   (same_again ? "" : ", then another");
        }
        return "";
    }

    void every_crash_state(const TracedDirectory &before, const std::vector<TracedChange> &changes)
    {
        for (const auto &[state, point] : crash_states(before, changes)) {
            // Settling two interrupted stores can lead to the same state.
            if (!seen.insert(state).second)
                continue;
            checked++;
            if (std::string found = fault(state, point, changes); !found.empty())
                bad.push_back(found);
        }
    }
};

class PowerCut : public ToolUnderShim {};

TEST_F(PowerCut, EveryCrashStateLeavesTheOldOrTheNewDocument)
{
    TextPtr old_text(json_serialize_to_string_pretty(document(OLD_VALUE).get()));
    ASSERT_NE(old_text, nullptr);
    for (const Scenario &scenario : SCENARIOS) {
        SCOPED_TRACE(scenario.name);
        if (scenario.bind_mounted && !bind_mounts_permitted()) {
            printf("not checked: %s: mounting is not permitted here\n", scenario.name);
            continue;
        }
        TempDir dir, elsewhere;
        const std::string path = dir.write("conf.json", old_text.get());
        std::optional<ScopedMount> bind;
        if (scenario.bind_mounted) {
            bind.emplace(elsewhere.write("conf.json", old_text.get()).c_str(), path, nullptr,
                         MS_BIND, nullptr);
            ASSERT_TRUE(bind->mounted()) << bind->error();
        }
        const TracedDirectory before = TracedDirectory::of(dir.path());
        const TracedRun store = traced_tool_run(dir.path(), {"-f", path, STORED_PATH, NEW_VALUE});
        ASSERT_EQ(store.result.status, 0) << store.result.err;
        const DirectoryState stored = TracedDirectory::of(dir.path()).state();
        ASSERT_EQ(after_changes(before, store.changes), stored) << "changes the trace missed";
        Check check;
        check.dir = dir.path();
        check.old_text = old_text.get();
        check.new_text = stored.at("conf.json");
        ASSERT_GT(check.old_text.size(), 8192u) << "a file of three blocks";
        if (!scenario.cut_while_settling) {
            check.success_reported = true;
            check.every_crash_state(before, store.changes);
        } else {
            // Those the next access gets wrong are the store's fault, counted above.
            for (const auto &[state, point] : crash_states(before, store.changes)) {
                const std::string &file = state.at("conf.json");
                if (file == check.old_text || file == check.new_text ||
                    !check.fault(state, point, store.changes).empty())
                    continue;
                materialize(dir.path(), state);
                const TracedDirectory settling = TracedDirectory::of(dir.path());
                check.every_crash_state(
                    settling, traced_tool_run(dir.path(), {"-f", path, STORED_PATH}).changes);
            }
        }
        printf("%s: %zu crash states checked, %zu bad\n", scenario.name, check.checked,
               check.bad.size());
        EXPECT_GT(check.checked, 0u);
        EXPECT_TRUE(check.bad.empty())
            << check.bad.size()
            << " bad states, the first: " << (check.bad.empty() ? "" : check.bad.front());
        for (size_t i = 0; i < check.bad.size() && i < 20; i++)
            printf("  %s\n", check.bad[i].c_str());
    }
}

}  // namespace
