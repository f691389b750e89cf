// Held files: a file opened, read and locked once, then replaced only while
// its name still holds the inode read.
#include "file_system.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

using namespace jsontree::detail;

struct json_file_t {
    int dir_fd;
    HeldInode held;
    char *text;
    size_t length;
    char name[NAME_MAX + 1];
};

namespace {

// The regular file `name` holds, into `file`, locked if `lock_wait_ms` asks
// for it.
Cause open_held(int dir_fd, const char *name, int lock_wait_ms, FileDescriptor &file,
                struct stat &status)
{
    const Deadline deadline(lock_wait_ms < 0 ? 0 : lock_wait_ms);
    for (;;) {
        FileDescriptor fd;
        if (Cause cause = open_regular(dir_fd, name, O_NOFOLLOW, fd, status))
            return cause;
        if (lock_wait_ms >= 0) {
            if (Cause cause = lock_within(fd.get(), deadline))
                return cause;
        }
        // A writer that held the lock may have renamed a new file over the
        // name meanwhile; the lock must be on the file the name holds now.
        if (lock_wait_ms < 0 ||
            (name_holds(dir_fd, name, status) && fstat(fd.get(), &status) == 0)) {
            file.reset(fd.release());
            return {};
        }
        // A name that moves until the deadline is a lock not had in time.
        if (deadline.remaining_ms() == 0)
            return LOCK_HELD;
    }
}

Cause open_file(const char *filename, int lock_wait_ms, JSON_File *&opened)
{
    Target target;
    if (Cause cause = locate_target(filename, target))
        return cause;
    FileDescriptor dir, file;
    if (Cause cause = open_directory(target, dir))
        return cause;
    struct stat status;
    if (Cause cause = open_held(dir.get(), target.name, lock_wait_ms, file, status))
        return cause;
    FileText text;
    if (Cause cause =
            read_settled(dir.get(), target.name, file.get(), status, lock_wait_ms >= 0, text))
        return cause;
    auto *held = static_cast<JSON_File *>(jsontree_malloc(sizeof(JSON_File)));
    if (!held)
        return Cause{ENOMEM};  // a caller's hook need not set errno
    held->held.status = status;
    held->held.fd = file.release();
    held->dir_fd = dir.release();
    held->text = text.bytes.release();
    held->length = text.length;
    memcpy(held->name, target.name, strlen(target.name) + 1);
    opened = held;
    return {};
}

Cause replace_held(JSON_File *file, const char *text)
{
    if (!file || !text)
        return Cause{EINVAL};
    // Copied before anything is written: a handle never holds a file whose
    // text it cannot give.
    size_t length = strlen(text);
    TextPtr copy(copy_text({text, length}));
    if (!copy)
        return Cause{ENOMEM};
    FileDescriptor new_file;
    Cause cause = replace_regular(file->dir_fd, file->name, &file->held, NameCheck::STILL_HELD,
                                  text, new_file);
    // Renamed, the new file; written in place, the same inode again: once
    // the new text is the file's, even when only the directory's sync failed
    // after that.
    struct stat new_status;
    bool renamed = new_file.get() >= 0 && fstat(new_file.get(), &new_status) == 0;
    if (renamed) {
        close(file->held.fd);
        file->held.fd = new_file.release();
        file->held.status = new_status;
    }
    if (!cause || renamed) {
        jsontree_free(file->text);
        file->text = copy.release();
        file->length = length;
    }
    return cause;
}

Cause write_journal_name(const JSON_File *file, char *buffer, size_t size)
{
    if (!file || !buffer)
        return Cause{EINVAL};
    char name[NAME_MAX + 1];
    journal_name(name, file->name);
    size_t length = strlen(name);
    if (length >= size)
        return Cause{ERANGE};
    memcpy(buffer, name, length + 1);
    return {};
}

}  // namespace

JSON_File *json_file_open(const char *filename, int lock_wait_ms)
{
    JSON_File *file = nullptr;
    Cause cause = filename ? open_file(filename, lock_wait_ms, file) : Cause{EINVAL};
    return succeeded(cause) ? file : nullptr;
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
    return succeeded(replace_held(file, text)) ? JSONSuccess : JSONFailure;
}

JSON_Status json_file_journal_name(const JSON_File *file, char *buffer, size_t size)
{
    return succeeded(write_journal_name(file, buffer, size)) ? JSONSuccess : JSONFailure;
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
