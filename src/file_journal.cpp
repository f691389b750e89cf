// In-place writes that a kill or a crash leaves for the next access to
// finish or undo. A file that cannot be renamed over (a bind mount) is
// written where it is, but first the text it holds and the text replacing it
// go to a journal beside it; the next read or store of the file then finds
// the old document or the new one, whatever part the file itself holds.
#include "file_system.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <utility>

using namespace jsontree::detail;

namespace {

// ---- What a journal holds

// The header, then the replaced text, then the new one. The header names the
// file the journal was written for, and its checksum covers the header and
// both texts, so a journal cut short or never wholly on disk is known.
struct JournalHeader {
    char magic[8];
    uint64_t device;
    uint64_t inode;
    uint64_t old_length;
    uint64_t new_length;
    uint64_t checksum;
};
constexpr char JOURNAL_MAGIC[8] = {'j', 's', 'o', 'n', 'j', 'n', 'l', '1'};
constexpr char JOURNAL_WORD[] = "journal";
static_assert(sizeof JOURNAL_WORD - 1 <= RESERVED_WORD_MAX);

void journal_name(char (&name)[NAME_MAX + 1], const char *target_name)
{
    int prefix = reserved_prefix(name, target_name);
    snprintf(name + prefix, sizeof name - size_t(prefix), "%s%c", JOURNAL_WORD, RESERVED_END);
}

// FNV-1a: damage, not forgery, is what it has to find.
uint64_t checksum_of(const JournalHeader &header, std::string_view old_text,
                     std::string_view new_text)
{
    uint64_t hash = 0xcbf29ce484222325u;
    auto add = [&hash](const char *bytes, size_t size) {
        for (size_t i = 0; i < size; i++)
            hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3u;
    };
    add(reinterpret_cast<const char *>(&header), offsetof(JournalHeader, checksum));
    add(old_text.data(), old_text.size());
    add(new_text.data(), new_text.size());
    return hash;
}

JournalHeader header_for(const struct stat &file, std::string_view old_text,
                         std::string_view new_text)
{
    JournalHeader header{};
    memcpy(header.magic, JOURNAL_MAGIC, sizeof header.magic);
    header.device = uint64_t(file.st_dev);
    header.inode = uint64_t(file.st_ino);
    header.old_length = old_text.size();
    header.new_length = new_text.size();
    header.checksum = checksum_of(header, old_text, new_text);
    return header;
}

// The two texts of `journal`, when it is complete and was written for `file`.
bool read_journal(std::string_view journal, const struct stat &file, std::string_view &old_text,
                  std::string_view &new_text)
{
    JournalHeader header;
    if (journal.size() < sizeof header)
        return false;
    memcpy(&header, journal.data(), sizeof header);
    uint64_t rest = journal.size() - sizeof header;
    if (memcmp(header.magic, JOURNAL_MAGIC, sizeof header.magic) != 0 ||
        header.device != uint64_t(file.st_dev) || header.inode != uint64_t(file.st_ino) ||
        header.old_length > rest || header.new_length != rest - header.old_length)
        return false;
    old_text = std::string_view(journal.data() + sizeof header, size_t(header.old_length));
    new_text = std::string_view(old_text.data() + old_text.size(), size_t(header.new_length));
    return header.checksum == checksum_of(header, old_text, new_text);
}

// Whether the file's text is one that the write from `old_text` to
// `new_text` passes through: the old text, lengthened with zeros when the
// space is claimed, then overwritten with the new text from the start, then
// cut to the new length. Anything else was written since the journal was.
bool passes_through(std::string_view file, std::string_view old_text, std::string_view new_text)
{
    if (file == new_text)
        return true;
    if (file.size() != old_text.size() && file.size() != std::max(old_text.size(), new_text.size()))
        return false;
    size_t written = 0;
    while (written < file.size() && written < new_text.size() && file[written] == new_text[written])
        written++;
    for (size_t i = written; i < file.size(); i++) {
        if (file[i] != (i < old_text.size() ? old_text[i] : '\0'))
            return false;
    }
    return true;
}

// Another user who may write the directory can put any file at the journal's
// name. Only one that misleads nobody its owner could not mislead anyway is
// believed: the file's owner's, root's or the caller's own, with no second
// name, and writable by no one the file keeps out.
bool trusted(const struct stat &journal, const struct stat &file)
{
    bool owner =
        journal.st_uid == file.st_uid || journal.st_uid == 0 || journal.st_uid == geteuid();
    return owner && journal.st_nlink == 1 &&
           (journal.st_mode & ~file.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// ---- Reading and writing in place

// Up to `size` bytes: a file that shrank after it was measured ends at the
// bytes actually read.
Cause read_text(int fd, size_t size, FileText &text)
{
    TextPtr bytes(static_cast<char *>(jsontree_malloc(size + 1)));
    if (!bytes)
        return Cause{ENOMEM};  // a caller's hook need not set errno
    size_t done = 0;
    while (done < size) {
        ssize_t got = read(fd, bytes.get() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno_cause();
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    bytes.get()[done] = '\0';
    text.bytes = std::move(bytes);
    text.length = done;
    return {};
}

// Space claimed before any byte changes: a full disk fails the write with
// the file as it was. posix_fallocate returns its cause.
Cause claim_space(int fd, size_t length)
{
    return Cause{length == 0 ? 0 : posix_fallocate(fd, 0, off_t(length))};
}

Cause write_in_place(int fd, std::string_view text)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return errno_cause();
    if (Cause cause = write_all(fd, text))
        return cause;
    return ftruncate(fd, off_t(text.size())) == 0 && fsync(fd) == 0 ? Cause{} : errno_cause();
}

// The journal of one in-place write, locked by its writer while it lives.
// It is removed when the write ends, or fails before the file has changed.
class Journal {
public:
    Journal(int dir_fd, const char *target_name) : dir_fd_(dir_fd)
    {
        journal_name(name_, target_name);
    }
    ~Journal()
    {
        if (owned_ && !needed_)
            remove();
    }
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Private until it has the file's owner and mode; on disk, and its name
    // too, before it returns.
    Cause write(const struct stat &file, std::string_view old_text, std::string_view new_text)
    {
        // The file's lock is held, so a journal found here has lost its
        // writer, and this write replaces whatever it was to finish.
        remove_if_abandoned(dir_fd_, name_);
        fd_.reset(openat(dir_fd_, name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         S_IRUSR | S_IWUSR));
        // Made exclusively: from here on the name is this write's to remove.
        owned_ = fd_.get() >= 0;
        if (!owned_)
            return errno_cause();
        if (!lock_now(fd_.get()))
            return LOCK_HELD;
        struct stat made, named;
        if (fstat(fd_.get(), &made) != 0 ||
            fstatat(dir_fd_, name_, &named, AT_SYMLINK_NOFOLLOW) != 0)
            return errno_cause();
        // Another user who removed the name and made another file there.
        if (!same_inode(made, named))
            return Cause{ESTALE};
        if (Cause cause = take_owner_and_mode(fd_.get(), file, 0666))
            return cause;
        JournalHeader header = header_for(file, old_text, new_text);
        std::string_view header_bytes(reinterpret_cast<const char *>(&header), sizeof header);
        for (std::string_view part : {header_bytes, old_text, new_text}) {
            if (Cause cause = write_all(fd_.get(), part))
                return cause;
        }
        if (fsync(fd_.get()) != 0)
            return errno_cause();
        return sync_directory(dir_fd_);
    }

    // From the first byte written over the file on, the journal outlives a
    // failure: the next access finishes the write.
    void keep() { needed_ = true; }

    void remove()
    {
        unlinkat(dir_fd_, name_, 0);
        owned_ = false;
    }

private:
    int dir_fd_;
    FileDescriptor fd_;
    bool owned_ = false;
    bool needed_ = false;
    char name_[NAME_MAX + 1];
};

// ---- Settling a journal found beside a file

// The file's lock for the time of settling, where the caller holds none.
class SettlingLock {
public:
    explicit SettlingLock(int fd) : fd_(fd >= 0 && lock_now(fd) ? fd : -1) {}
    ~SettlingLock()
    {
        if (fd_ >= 0)
            flock(fd_, LOCK_UN);
    }
    SettlingLock(const SettlingLock &) = delete;
    SettlingLock &operator=(const SettlingLock &) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

// `part` of `from`'s bytes, moved to their start and handed over to `to`.
void hand_over(FileText &from, std::string_view part, FileText &to)
{
    memmove(from.bytes.get(), part.data(), part.size());
    from.bytes.get()[part.size()] = '\0';
    to.bytes = std::move(from.bytes);
    to.length = part.size();
}

Cause finish_write(int dir_fd, const char *name, const struct stat &file, std::string_view text)
{
    FileDescriptor fd;
    if (Cause cause = open_for_writing(dir_fd, name, O_RDWR, file, fd))
        return cause;
    if (Cause cause = claim_space(fd.get(), text.size()))
        return cause;
    return write_in_place(fd.get(), text);
}

}  // namespace

namespace jsontree::detail {

Cause overwrite_in_place(int dir_fd, const char *name, const HeldInode &held, const char *text)
{
    // Journals are settled only under the file's lock: holding it keeps
    // this write's journal from being taken for an abandoned one.
    if (!lock_now(held.fd))
        return LOCK_HELD;
    // Read access too: the replaced text goes into the journal, and
    // posix_fallocate's fallback reads the blocks it fills.
    FileDescriptor fd;
    if (Cause cause = open_for_writing(dir_fd, name, O_RDWR, held.status, fd))
        return cause;
    struct stat current;
    if (fstat(fd.get(), &current) != 0)
        return errno_cause();
    FileText old_text;
    if (Cause cause = read_text(fd.get(), size_t(current.st_size), old_text))
        return cause;
    std::string_view new_text(text);
    Journal journal(dir_fd, name);
    if (Cause cause = journal.write(current, old_text.view(), new_text))
        return cause;
    if (Cause cause = claim_space(fd.get(), new_text.size()))
        return cause;
    journal.keep();
    if (Cause cause = write_in_place(fd.get(), new_text))
        return cause;
    journal.remove();
    return {};
}

Cause read_settled(int dir_fd, const char *name, int fd, struct stat &status, bool locked,
                   FileText &text)
{
    char journal_file[NAME_MAX + 1];
    journal_name(journal_file, name);
    struct stat journal_status;
    FileDescriptor journal;
    // No journal, or none to believe: the file as it stands.
    if (open_regular(dir_fd, journal_file, O_NOFOLLOW, journal, journal_status) ||
        !trusted(journal_status, status))
        return read_text(fd, size_t(status.st_size), text);
    // A journal whose writer still holds the file or the journal is only
    // read; an abandoned one is settled.
    SettlingLock lock(locked ? -1 : fd);
    bool settle = (locked || lock.held()) && lock_now(journal.get());
    FileText file_text, journal_text;
    Cause file_read =
        fstat(fd, &status) == 0 ? read_text(fd, size_t(status.st_size), file_text) : errno_cause();
    Cause journal_read = read_text(journal.get(), size_t(journal_status.st_size), journal_text);
    if (file_read || journal_read) {
        text = std::move(file_text);
        return file_read;
    }
    std::string_view file = file_text.view(), old_text, new_text;
    bool complete = read_journal(journal_text.view(), status, old_text, new_text) &&
                    passes_through(file, old_text, new_text);
    // A live writer may yet fail before the file changes.
    bool newer = complete && (settle || file != old_text);
    if (settle && complete && file != new_text) {
        // Where this caller may not write, the journal stays for one who may.
        if (finish_write(dir_fd, name, status, new_text))
            settle = false;
        else
            fstat(fd, &status);
    }
    if (settle && name_holds(dir_fd, journal_file, journal_status))
        unlinkat(dir_fd, journal_file, 0);
    if (newer)
        hand_over(journal_text, new_text, text);
    else
        hand_over(file_text, file, text);
    return {};
}

}  // namespace jsontree::detail
