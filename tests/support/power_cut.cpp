#include "power_cut.h"

#include "process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

namespace {

constexpr size_t BLOCK = 4096;
constexpr size_t MAX_WAYS = 4096;

using Names = std::map<std::string, ino_t>;
using Files = std::map<ino_t, std::string>;

bool changes_names(const TracedChange &change)
{
    return change.call == "link" || change.call == "rename" || change.call == "unlink";
}

void apply_to_names(Names &names, const TracedChange &change)
{
    if (change.call == "link") {
        names[change.name] = change.inode;
    } else if (change.call == "rename") {
        auto moved = names.find(change.name);
        ASSERT_NE(moved, names.end()) << change.line << ": no such name";
        ino_t inode = moved->second;
        names.erase(moved);
        names[change.new_name] = inode;
    } else if (change.call == "unlink") {
        names.erase(change.name);
    }
}

void apply_to_file(std::string &file, const TracedChange &change)
{
    if (change.call == "size") {
        file.resize(change.offset, '\0');
    } else if (change.call == "write") {
        file.resize(std::max(file.size(), change.offset + change.bytes.size()), '\0');
        file.replace(change.offset, change.bytes.size(), change.bytes);
    }
}

// The texts `inode` held since its last sync among the first `count`
// changes; the first of them is on disk whatever happens.
std::vector<std::string> texts_since_sync(const TracedDirectory &before,
                                          const std::vector<TracedChange> &changes, size_t count,
                                          ino_t inode)
{
    auto found = before.files.find(inode);
    std::vector<std::string> texts{found == before.files.end() ? "" : found->second};
    for (size_t i = 0; i < count; i++) {
        const TracedChange &change = changes[i];
        if (change.inode != inode || changes_names(change))
            continue;
        if (change.call == "sync") {
            texts.erase(texts.begin(), texts.end() - 1);
            continue;
        }
        texts.push_back(texts.back());
        apply_to_file(texts.back(), change);
    }
    return texts;
}

// `size` bytes of `text` from `start`, zeros past its end.
std::string piece(const std::string &text, size_t start, size_t size)
{
    std::string bytes = start < text.size() ? text.substr(start, size) : "";
    bytes.resize(size, '\0');
    return bytes;
}

// Every text a cut can leave of a file that held `texts` since its sync.
std::set<std::string> crash_texts(const std::vector<std::string> &texts)
{
    std::set<std::string> results;
    for (const std::string &sized : texts) {
        const size_t length = sized.size();
        std::vector<std::vector<std::string>> blocks;
        size_t ways = 1;
        for (size_t start = 0; start < length; start += BLOCK) {
            std::set<std::string> pieces;
            for (const std::string &text : texts)
                pieces.insert(piece(text, start, std::min(BLOCK, length - start)));
            blocks.emplace_back(pieces.begin(), pieces.end());
            ways *= pieces.size();
            if (ways > MAX_WAYS) {
                ADD_FAILURE() << "over " << MAX_WAYS << " ways to leave one file";
                return results;
            }
        }
        for (size_t way = 0; way < ways; way++) {
            std::string text;
            for (size_t rest = way; const std::vector<std::string> &choices : blocks) {
                text += choices[rest % choices.size()];
                rest /= choices.size();
            }
            results.insert(std::move(text));
        }
    }
    return results;
}

// Every state of `names`, each file one of its `texts`, a file with two
// names the same under both.
std::vector<DirectoryState> combined(const Names &names,
                                     const std::map<ino_t, std::set<std::string>> &texts)
{
    std::vector<Files> files{{}};
    for (const auto &[name, inode] : names) {
        if (files.front().contains(inode))
            continue;
        std::vector<Files> grown;
        for (const Files &partial : files) {
            for (const std::string &text : texts.at(inode)) {
                grown.push_back(partial);
                grown.back()[inode] = text;
            }
        }
        files = std::move(grown);
        if (files.size() > MAX_WAYS) {
            ADD_FAILURE() << "over " << MAX_WAYS << " ways to leave the directory";
            return {};
        }
    }
    std::vector<DirectoryState> states;
    for (const Files &chosen : files) {
        DirectoryState state;
        for (const auto &[name, inode] : names)
            state[name] = chosen.at(inode);
        states.push_back(std::move(state));
    }
    return states;
}

}  // namespace

TracedDirectory TracedDirectory::of(const std::string &dir)
{
    TracedDirectory traced{};
    struct stat status {};
    EXPECT_EQ(stat(dir.c_str(), &status), 0) << strerror(errno);
    traced.inode = status.st_ino;
    for (const std::string &name : directory_entries(dir)) {
        const std::string path = dir + "/" + name;
        EXPECT_EQ(lstat(path.c_str(), &status), 0) << strerror(errno);
        traced.names[name] = status.st_ino;
        traced.files[status.st_ino] = read_file_bytes(path);
    }
    return traced;
}

DirectoryState TracedDirectory::state() const
{
    DirectoryState state;
    for (const auto &[name, inode] : names)
        state[name] = files.at(inode);
    return state;
}

std::vector<TracedChange> traced_changes(const std::string &log)
{
    std::istringstream trace(read_file_bytes(log));
    std::vector<TracedChange> changes;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream words(line);
        TracedChange change;
        change.line = line;
        words >> change.call;
        if (change.call == "write" || change.call == "size" || change.call == "sync" ||
            change.call == "link")
            words >> change.inode;
        if (change.call == "write" || change.call == "size")
            words >> change.offset;
        if (changes_names(change))
            words >> change.name;
        if (change.call == "rename")
            words >> change.new_name;
        if (change.call == "write") {
            size_t length = 0;
            words >> length;
            change.bytes.resize(length);
            trace.read(change.bytes.data(), std::streamsize(length));
        }
        const bool known = changes_names(change) || change.call == "write" ||
                           change.call == "size" || change.call == "sync";
        EXPECT_TRUE(known && words && trace) << "unreadable trace line: " << line;
        changes.push_back(std::move(change));
    }
    return changes;
}

std::map<DirectoryState, CrashPoint> crash_states(const TracedDirectory &before,
                                                  const std::vector<TracedChange> &changes)
{
    std::map<DirectoryState, CrashPoint> states;
    for (size_t made = 0; made <= changes.size(); made++) {
        Names names = before.names;
        std::vector<const TracedChange *> unsynced;
        for (size_t i = 0; i < made; i++) {
            if (changes[i].call == "sync" && changes[i].inode == before.inode) {
                for (const TracedChange *change : unsynced)
                    apply_to_names(names, *change);
                unsynced.clear();
            } else if (changes_names(changes[i])) {
                unsynced.push_back(&changes[i]);
            }
        }
        std::map<ino_t, std::set<std::string>> texts;
        for (size_t kept = 0; kept <= unsynced.size(); kept++) {
            if (kept > 0)
                apply_to_names(names, *unsynced[kept - 1]);
            for (const auto &[name, inode] : names) {
                if (!texts.contains(inode))
                    texts[inode] = crash_texts(texts_since_sync(before, changes, made, inode));
            }
            for (DirectoryState &state : combined(names, texts)) {
                auto slot = states.try_emplace(std::move(state), CrashPoint{made, false}).first;
                slot->second.after_all |= made == changes.size();
            }
        }
    }
    return states;
}

DirectoryState after_changes(const TracedDirectory &before,
                             const std::vector<TracedChange> &changes)
{
    Names names = before.names;
    for (const TracedChange &change : changes)
        apply_to_names(names, change);
    DirectoryState state;
    for (const auto &[name, inode] : names)
        state[name] = texts_since_sync(before, changes, changes.size(), inode).back();
    return state;
}

void materialize(const std::string &dir, const DirectoryState &state)
{
    for (const std::string &name : directory_entries(dir)) {
        if (!state.contains(name)) {
            EXPECT_EQ(unlink((dir + "/" + name).c_str()), 0) << name << ": " << strerror(errno);
        }
    }
    for (const auto &[name, bytes] : state) {
        // Private: no check of who may have written a journal refuses it.
        int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << name << ": " << strerror(errno);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())) << name;
        close(fd);
    }
}
