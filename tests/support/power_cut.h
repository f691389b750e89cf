// What a power cut can leave of a directory a program changed: the changes,
// as the failing-call shim traces them (JSONTREE_TRACE_LOG), and every state
// that persisting some of them and not others leaves, under the rules of
// common Linux file systems (ext4 data=ordered, xfs, f2fs, btrfs, UBIFS):
// - what a file held at its last fsync is on disk; each 4 KiB block of it
//   since then holds what the file held there at any one moment between
//   that sync and the cut, and its length is that of any such moment, each
//   chosen on its own (writes lost, torn at blocks, persisted out of order,
//   a truncation on disk before the data written before it);
// - names (created, linked, renamed, unlinked) persist in their order, those
//   since the directory's last fsync up to any one of them.
#ifndef TESTS_POWER_CUT_H
#define TESTS_POWER_CUT_H

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Each name in a directory with the bytes of its file.
using DirectoryState = std::map<std::string, std::string>;

// A directory as a traced program found it: its files by inode.
struct TracedDirectory {
    ino_t inode;
    std::map<std::string, ino_t> names;
    std::map<ino_t, std::string> files;

    static TracedDirectory of(const std::string &dir);
    DirectoryState state() const;
};

// One change of the trace, as the shim writes it.
struct TracedChange {
    std::string call;  // write, size, sync, link, rename, unlink
    ino_t inode = 0;
    size_t offset = 0;  // where a write starts; the length a size change leaves
    std::string bytes;  // written
    std::string name, new_name;
    std::string line;  // as traced
};

std::vector<TracedChange> traced_changes(const std::string &log);

// Where the first crash that leaves a state comes.
struct CrashPoint {
    size_t changes_made;  // of the trace, before the cut
    bool after_all;       // the state also follows the last change
};

// Every state a cut after each prefix of `changes` can leave. More than
// 4096 ways to leave one file at one point fail the test instead: a
// smaller file is then needed.
std::map<DirectoryState, CrashPoint> crash_states(const TracedDirectory &before,
                                                  const std::vector<TracedChange> &changes);

// The directory as `changes` left it, all of them persisted.
DirectoryState after_changes(const TracedDirectory &before,
                             const std::vector<TracedChange> &changes);

// Makes `dir` hold `state`: other names removed, each file rewritten in place
// (a bind-mounted file keeps its inode).
void materialize(const std::string &dir, const DirectoryState &state);

#endif
