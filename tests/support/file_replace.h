// Scaffolding of the tests that write trees over files: a fixture with a
// private directory, documents of a chosen size and views of a file.
#ifndef TESTS_FILE_REPLACE_H
#define TESTS_FILE_REPLACE_H

#include "owners.h"
#include "process.h"
#include "recording_hooks.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

class FileReplaceTest : public HookedTest {
protected:
    TempDir dir_;
};

// {"data": [text, text, ...]}: the text grows with `copies`.
ValuePtr document(const char *text, size_t copies = 1);

struct stat lstat_of(const std::string &path);

// Name and value of every extended attribute of `path`.
std::map<std::string, std::string> attributes_of(const std::string &path);

// 0 when every check holds, else the position (from 1) of the first that
// fails: what a child process can tell its parent in its exit status.
int first_failed(std::initializer_list<bool> checks);

// A write that stops at `limit` bytes: the file size limit, with SIGXFSZ
// ignored so the write fails instead of killing the process.
bool limit_file_size(rlim_t limit);

// The target's bytes, inode and directory as they were before a failed write.
struct Snapshot {
    std::string bytes;
    ino_t inode;
    Strings entries;

    static Snapshot of(const std::string &path, const std::string &dir);
    bool operator==(const Snapshot &) const = default;
};

#endif
