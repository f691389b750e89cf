// A power cut at any moment of a store, or of the read that settles one cut
// short, leaves the next access the old document or the new one, whole; once
// the store has reported success, the new one. The states checked are those
// common Linux file systems (ext4 data=ordered, xfs, f2fs, btrfs, UBIFS) can
// leave of the changes the failing-call shim traced the tool making:
// - what a file held at its last fsync is on disk; each 4 KiB block of it
//   since then holds what the file held there at any one moment between that
//   sync and the cut, and its length is that of any such moment, each chosen
//   on its own (writes lost, torn at blocks, persisted out of order, a
//   truncation on disk before the data written before it);
// - names persist in their order, those since the directory's last fsync up
//   to any one of them.
#include "failing_calls.h"
#include "mount.h"
#include "owners.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>

namespace {

constexpr size_t BLOCK = 4096;
// More ways to leave one file or the directory at one point fail the test
// instead: a smaller file is then needed.
constexpr size_t MAX_WAYS = 4096;

using Strings = std::vector<std::string>;
using Names = std::map<std::string, ino_t>;  // full paths
using DirectoryState = std::map<std::string, std::string>;

// One line of the shim's trace (io_failure_shim.c).
struct Change {
    std::string call, line;
    ino_t inode = 0;
    size_t number = 0, length = 0;
    std::string name, new_name, bytes;
};

const std::set<std::string> CALLS = {"write", "size", "sync", "link", "rename", "unlink"};

std::vector<Change> traced_changes(const std::string &log)
{
    std::istringstream trace(read_file_bytes(log));
    std::vector<Change> changes;
    for (Change change; std::getline(trace, change.line); changes.push_back(change)) {
        std::istringstream words(change.line);
        words >> change.call >> change.inode >> change.number >> change.length;
        EXPECT_TRUE(words && CALLS.contains(change.call))
            << "unreadable trace line: " << change.line;
        change.name = change.new_name = "";
        words >> change.name >> change.new_name;
        change.bytes.resize(change.length);
        EXPECT_TRUE(trace.read(change.bytes.data(), std::streamsize(change.length)));
    }
    return changes;
}

void rename_link_or_unlink(Names &names, const Change &change)
{
    if (change.call == "link") {
        names[change.name] = change.inode;
    } else if (change.call == "unlink") {
        names.erase(change.name);
    } else if (auto moved = names.extract(change.name)) {
        names[change.new_name] = moved.mapped();
    } else {
        ADD_FAILURE() << change.line << ": no such name";
    }
}

// A directory as the traced program found it or as a cut leaves it on disk
// for sure: the names as of its last sync, the name changes since (in
// order), and the texts each file held since its last sync (the first of
// them on disk).
struct Directory {
    ino_t inode = 0;
    Names names;
    std::vector<const Change *> unsynced;
    std::map<ino_t, Strings> texts;
};

Directory directory_of(const std::string &dir)
{
    Directory found;
    struct stat status {};
    EXPECT_EQ(stat(dir.c_str(), &status), 0);
    found.inode = status.st_ino;
    for (const std::string &name : directory_entries(dir)) {
        EXPECT_EQ(lstat((dir + "/" + name).c_str(), &status), 0);
        found.names[dir + "/" + name] = status.st_ino;
        found.texts[status.st_ino] = {read_file_bytes(dir + "/" + name)};
    }
    return found;
}

Directory cut_after(const Directory &before, const std::vector<Change> &changes, size_t made)
{
    Directory cut = before;
    for (const Change &change : std::span(changes).first(made)) {
        Strings &texts = cut.texts.try_emplace(change.inode, Strings{""}).first->second;
        if (change.call == "sync" && change.inode == before.inode) {
            for (const Change *named : cut.unsynced)
                rename_link_or_unlink(cut.names, *named);
            cut.unsynced.clear();
        } else if (change.call == "sync") {
            texts.erase(texts.begin(), texts.end() - 1);
        } else if (change.call == "size" || change.call == "write") {
            std::string text = texts.back();
            const size_t end = change.number + change.bytes.size();
            text.resize(change.call == "size" ? change.number : std::max(text.size(), end), '\0');
            text.replace(std::min(change.number, text.size()), change.bytes.size(), change.bytes);
            texts.push_back(std::move(text));
        } else {
            cut.unsynced.push_back(&change);
        }
    }
    return cut;
}

// Every way to take one of each of `options`, by key.
using Picks = std::vector<std::map<uint64_t, std::string>>;
Picks every_pick(const std::map<uint64_t, std::set<std::string>> &options)
{
    Picks picks{{}};
    for (const auto &[key, choices] : options) {
        Picks grown;
        for (const auto &pick : picks) {
            for (const std::string &choice : choices) {
                grown.push_back(pick);
                grown.back()[key] = choice;
            }
        }
        picks = std::move(grown);
        if (picks.size() > MAX_WAYS) {
            ADD_FAILURE() << "over " << MAX_WAYS << " ways to leave a file or the directory";
            return {};
        }
    }
    return picks;
}

// Every text a cut can leave of a file that held `texts` since its sync: the
// length of one, each block of any (zeros past its end).
std::set<std::string> crash_texts(const Strings &texts)
{
    std::set<std::string> results;
    for (const std::string &sized : texts) {
        std::map<uint64_t, std::set<std::string>> blocks;
        for (size_t start = 0; start < sized.size(); start += BLOCK) {
            for (std::string text : texts) {
                text.resize(std::max(text.size(), sized.size()), '\0');
                blocks[start].insert(text.substr(start, std::min(BLOCK, sized.size() - start)));
            }
        }
        for (const auto &pick : every_pick(blocks)) {
            std::string text;
            for (const auto &[start, block] : pick)
                text += block;
            results.insert(text);
        }
    }
    return results;
}

// Every state a cut after each prefix of `changes` can leave, and whether
// it also follows the last change. A file with two names has the same text
// under both.
std::map<DirectoryState, bool> crash_states(const Directory &before,
                                            const std::vector<Change> &changes)
{
    std::map<DirectoryState, bool> states;
    for (size_t made = 0; made <= changes.size(); made++) {
        Directory cut = cut_after(before, changes, made);
        for (size_t kept = 0; kept <= cut.unsynced.size(); kept++) {
            if (kept > 0)
                rename_link_or_unlink(cut.names, *cut.unsynced[kept - 1]);
            std::map<uint64_t, std::set<std::string>> files;
            for (const auto &[name, inode] : cut.names)
                files[inode] = crash_texts(cut.texts[inode]);
            for (const auto &pick : every_pick(files)) {
                DirectoryState state;
                for (const auto &[name, inode] : cut.names)
                    state[name] = pick.at(inode);
                states[state] |= made == changes.size();
            }
        }
    }
    return states;
}

// The directory as `changes` left it, all of them persisted.
DirectoryState after_changes(const Directory &before, const std::vector<Change> &changes)
{
    Directory cut = cut_after(before, changes, changes.size());
    DirectoryState state;
    for (const Change *named : cut.unsynced)
        rename_link_or_unlink(cut.names, *named);
    for (const auto &[name, inode] : cut.names)
        state[name] = cut.texts[inode].back();
    return state;
}

// Makes `dir` hold `state`, each file rewritten in place (a bind-mounted
// file keeps its inode); private, so no check of who may have written a
// journal refuses it.
void materialize(const std::string &dir, const DirectoryState &state)
{
    for (const std::string &name : directory_entries(dir)) {
        if (!state.contains(dir + "/" + name)) {
            EXPECT_EQ(unlink((dir + "/" + name).c_str()), 0) << name;
        }
    }
    for (const auto &[path, bytes] : state) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())) << path;
        close(fd);
    }
}

struct Scenario {
    const char *name;
    bool bind_mounted;  // the file cannot be renamed over: it is written in place
    // The store is cut where the file holds neither text, and the next read,
    // settling it, is cut too.
    bool cut_while_settling;
} const SCENARIOS[] = {
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

ValuePtr parsed(const std::string &path)
{
    return ValuePtr(json_parse_file(path.c_str()));
}

ValuePtr held(const std::string &path)
{
    HeldFile file(json_file_open(path.c_str(), 0));
    return ValuePtr(file ? json_parse_string(json_file_text(file.get())) : nullptr);
}

// The next access, as a reader or a store finds the file; both settle what
// a cut left.
const struct {
    const char *name;
    ValuePtr (*access)(const std::string &path);
} ACCESSES[] = {{"a parse", parsed}, {"a held open", held}};

std::vector<Change> traced_tool_run(const std::string &dir, const Strings &args)
{
    TempDir log_dir;
    RunOptions options;
    options.env = {"LD_PRELOAD=" IO_FAILURE_SHIM, "JSONTREE_FAIL_PATH=" + dir,
                   "JSONTREE_FAIL_TIMES=0", "JSONTREE_TRACE_LOG=" + log_dir.file("trace")};
    const RunResult result = run_tool(args, options);
    EXPECT_EQ(result.status, 0) << result.err;
    return traced_changes(log_dir.file("trace"));
}

struct Check {
    std::string dir, path;
    bool success_reported = false;  // by the traced run: only the new document will do after it
    size_t checked = 0, bad = 0;
    std::set<DirectoryState> seen{};

    // What the next access finds, each in its turn, where that is wrong; a
    // parse after it must find the same.
    std::string fault(const DirectoryState &state, bool after_all) const
    {
        ValuePtr old_document = document(OLD_VALUE), new_document = document(NEW_VALUE);
        for (const auto &[name, access] : ACCESSES) {
            materialize(dir, state);
            ValuePtr found = access(path), again = parsed(path);
            const bool is_old = json_value_equals(found.get(), old_document.get());
            const bool is_new = json_value_equals(found.get(), new_document.get());
            const bool same_again = json_value_equals(again.get(), found.get());
            if ((is_new || (is_old && !(success_reported && after_all))) && same_again)
                continue;
            std::string sizes;
            for (const auto &[file, bytes] : state)
                sizes += " " + file + ": " + std::to_string(bytes.size()) + " bytes;";
            return sizes + " " + name + " found " +
                   (!found   ? "no"
                    : is_old ? "the old"
                    : is_new ? "the new"
                             : "another") +
                   " document" + (same_again ? "" : ", then another");
        }
        return "";
    }

    void every_crash_state(const Directory &before, const std::vector<Change> &changes)
    {
        for (const auto &[state, after_all] : crash_states(before, changes)) {
            // Settling two interrupted stores can lead to the same state.
            if (!seen.insert(state).second)
                continue;
            checked++;
            if (std::string found = fault(state, after_all); !found.empty() && ++bad <= 20)
                ADD_FAILURE() << "a cut leaves" << found;
        }
    }
};

class PowerCut : public ToolUnderShim {};

TEST_F(PowerCut, EveryCrashStateLeavesTheOldOrTheNewDocument)
{
    TextPtr old_text(json_serialize_to_string_pretty(document(OLD_VALUE).get()));
    ASSERT_NE(old_text, nullptr);
    ASSERT_GT(strlen(old_text.get()), 2 * BLOCK) << "a file of three blocks";
    for (const Scenario &scenario : SCENARIOS) {
        SCOPED_TRACE(scenario.name);
        if (scenario.bind_mounted && !bind_mounts_permitted()) {
            printf("not checked: %s: mounting is not permitted here\n", scenario.name);
            continue;
        }
        TempDir dir, elsewhere;
        Check check{.dir = dir.path(),
                    .path = dir.write("conf.json", old_text.get()),
                    .success_reported = !scenario.cut_while_settling};
        std::optional<ScopedMount> bind;
        if (scenario.bind_mounted) {
            bind.emplace(elsewhere.write("conf.json", old_text.get()).c_str(), check.path, nullptr,
                         MS_BIND, nullptr);
            ASSERT_TRUE(bind->mounted()) << bind->error();
        }
        const Directory before = directory_of(dir.path());
        const auto store = traced_tool_run(dir.path(), {"-f", check.path, STORED_PATH, NEW_VALUE});
        const DirectoryState stored = after_changes(directory_of(dir.path()), {});
        ASSERT_EQ(after_changes(before, store), stored) << "changes the trace missed";
        if (!scenario.cut_while_settling) {
            check.every_crash_state(before, store);
        } else {
            // Those the next access gets wrong are the store's fault, counted above.
            for (const auto &[state, after_all] : crash_states(before, store)) {
                const std::string &file = state.at(check.path);
                if (file == old_text.get() || file == stored.at(check.path) ||
                    !check.fault(state, after_all).empty())
                    continue;
                materialize(dir.path(), state);
                const Directory settling = directory_of(dir.path());  // before the run
                check.every_crash_state(
                    settling, traced_tool_run(dir.path(), {"-f", check.path, STORED_PATH}));
            }
        }
        printf("%s: %zu crash states checked, %zu bad\n", scenario.name, check.checked, check.bad);
        EXPECT_GT(check.checked, 0u);
    }
}

}  // namespace
