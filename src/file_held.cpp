// Held files: a file opened, read and locked once, then replaced only while
// its name still holds the inode read.
#include "file_system.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <ctime>

using namespace jsontree::detail;

struct json_file_t {
    int dir_fd;
    HeldInode held;
    char *text;
    size_t length;
    char name[NAME_MAX + 1];
};

namespace {

long milliseconds_since(const timespec &start)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// An exclusive lock, waited for at most `wait_ms`: any reader of the file can
// hold a lock on it, so a blocking flock could be held hostage for ever. A
// file system without locks gives none, and that is no failure.
bool lock_within(int fd, int wait_ms)
{
    constexpr long LONGEST_PAUSE_MS = 50;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long pause_ms = 1;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true;
        long left_ms = wait_ms - milliseconds_since(start);
        if (left_ms <= 0) {
            errno = EWOULDBLOCK;
            return false;
        }
        timespec pause{0, (pause_ms < left_ms ? pause_ms : left_ms) * 1000000L};
        nanosleep(&pause, nullptr);
        pause_ms = pause_ms * 2 < LONGEST_PAUSE_MS ? pause_ms * 2 : LONGEST_PAUSE_MS;
    }
}

constexpr unsigned OPEN_ATTEMPTS = 100;

// The regular file `name` holds, locked if `lock_wait_ms` asks for it.
int open_held(int dir_fd, const char *name, int lock_wait_ms, struct stat &status)
{
    for (unsigned attempt = 0; attempt < OPEN_ATTEMPTS; attempt++) {
        FileDescriptor fd(open_regular(dir_fd, name, O_NOFOLLOW, status));
        if (fd.get() < 0)
            return -1;
        if (lock_wait_ms < 0)
            return fd.release();
        if (!lock_within(fd.get(), lock_wait_ms))
            return -1;
        // A writer that held the lock may have renamed a new file over the
        // name meanwhile; the lock must be on the file the name holds now.
        if (name_holds(dir_fd, name, status) && fstat(fd.get(), &status) == 0)
            return fd.release();
    }
    errno = EAGAIN;
    return -1;
}

}  // namespace

JSON_File *json_file_open(const char *filename, int lock_wait_ms)
{
    Target target;
    if (!filename || !locate_target(filename, target))
        return nullptr;
    FileDescriptor dir(open_directory(target));
    if (dir.get() < 0)
        return nullptr;
    struct stat status;
    FileDescriptor file(open_held(dir.get(), target.name, lock_wait_ms, status));
    if (file.get() < 0)
        return nullptr;
    size_t length = 0;
    TextPtr text(
        read_settled(dir.get(), target.name, file.get(), status, lock_wait_ms >= 0, &length));
    auto *held = static_cast<JSON_File *>(jsontree_malloc(sizeof(JSON_File)));
    if (!text || !held) {
        jsontree_free(held);
        return nullptr;
    }
    held->held.status = status;
    held->held.fd = file.release();
    held->dir_fd = dir.release();
    held->text = text.release();
    held->length = length;
    memcpy(held->name, target.name, strlen(target.name) + 1);
    return held;
}

const char *json_file_text(const JSON_File *file)
{
    return file ? file->text : nullptr;
}

size_t json_file_length(const JSON_File *file)
{
    return file ? file->length : 0;
}

JSON_Status json_file_replace(JSON_File *file, const char *text)
{
    if (!file || !text)
        return JSONFailure;
    // Copied before anything is written: a handle never holds a file whose
    // text it cannot give.
    size_t length = strlen(text);
    TextPtr copy(jsontree_strndup(text, length));
    if (!copy)
        return JSONFailure;
    FileDescriptor new_file;
    JSON_Status status = replace_regular(file->dir_fd, file->name, &file->held,
                                         NameCheck::STILL_HELD, text, &new_file);
    // Written in place, the file is the same inode; renamed, the new one,
    // even when only the directory's sync failed after the rename.
    struct stat new_status;
    bool renamed = new_file.get() >= 0 && fstat(new_file.get(), &new_status) == 0;
    if (renamed) {
        close(file->held.fd);
        file->held.fd = new_file.release();
        file->held.status = new_status;
    }
    if (status == JSONSuccess || renamed) {
        jsontree_free(file->text);
        file->text = copy.release();
        file->length = length;
    }
    return status;
}

void json_file_close(JSON_File *file)
{
    if (!file)
        return;
    close(file->held.fd);
    close(file->dir_fd);
    jsontree_free(file->text);
    jsontree_free(file);
}
