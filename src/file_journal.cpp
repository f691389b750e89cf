// In-place writes, for a file that cannot be renamed over (a bind mount),
// behind a rollback journal beside it. The journal holds the text being
// replaced, and reaches the disk before the first byte of the file changes;
// a store succeeds only once the journal is gone for good. A kill, a failure
// or a power cut anywhere in between leaves the journal, and the next access
// puts the old text back: a store that did not report success is undone.
//
// The calls of a store, in order, the file's lock held throughout:
//   1. openat(file, O_RDWR); a journal already there is settled (below);
//      pread(file): the old text
//   2. openat(journal, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600),
//      flock(journal), fstat + fstatat: the name holds what was made
//   3. the file's owner, group, mode and attributes (take_properties)
//   4. write(journal): header, old text, new text
//   5. fsync(journal)     the journal's bytes are on disk
//   6. fsync(directory)   its name too: whatever the file holds from here
//                         on, the old text can be put back
//   7. lseek(file, 0), write(file, new text), ftruncate(file, new length)
//   8. fsync(file)        the new text is on disk
//   9. unlinkat(journal)
//  10. fsync(directory)   the removal is on disk: success
// A failure at 7 to 9 puts the old text back as settling does (below)
// before the store reports it, and where even that fails leaves the journal
// for the next access; a failure at 10 leaves the new text, which a crash may
// yet undo.
//
// Settling, with the file's lock and the journal's lock held, where the
// journal is believed and the file holds a state the write passes through:
//   1. lseek(file, 0), write(file, old text), ftruncate(file, old length)
//   2. fsync(file)        the old text is on disk
//   3. unlinkat(journal), fsync(directory)
// Each step may be cut short and run again: settling is settled anew. A
// journal cut short is only unlinked (with the directory's sync): its write
// never reached the file.
//
// A read without the lock: pread(file), then openat(journal) (most often
// ENOENT), fstat(file) and pread(file) again. The text stands when no journal
// is there and the file's size, times and bytes did not change; with a believed journal the old text
// comes from it (settled first where the lock is free at once); anything
// else waits for the lock and reads again under it.
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

// The header, then the replaced text, then the new one. The checksum covers
// the header and both texts, so a journal cut short or never wholly on disk
// is known. The inode number names the file; device numbers change from one
// mount to the next on some file systems, so the file's bytes (passes_through)
// confirm the rest.
struct JournalHeader {
    char magic[8];
    uint64_t inode;
    uint64_t old_length;
    uint64_t new_length;
    uint64_t checksum;
};
constexpr char JOURNAL_MAGIC[8] = {'j', 's', 'o', 'n', 'j', 'n', 'l', '2'};
constexpr char JOURNAL_WORD[] = "journal";
static_assert(sizeof JOURNAL_WORD - 1 <= RESERVED_WORD_MAX);

// FNV-1a: damage, not forgery, is what it has to find.
uint64_t hash_of(std::string_view bytes, uint64_t hash = 0xcbf29ce484222325u)
{
    for (char byte : bytes)
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3u;
    return hash;
}

}  // namespace

// One journal name per file name: a name too long to keep whole keeps its
// start and a hash of all of it.
void jsontree::detail::journal_name(char (&name)[NAME_MAX + 1], const char *target_name)
{
    constexpr int HASH_DIGITS = 16;
    int prefix = reserved_prefix(name, target_name);
    size_t kept = size_t(prefix) - 1 - (sizeof RESERVED_MARKER - 1);
    if (target_name[kept] != '\0') {
        unsigned long long hash = hash_of(target_name);
        prefix = snprintf(name, sizeof name, ".%.*s%016llx%s", int(kept) - HASH_DIGITS, target_name,
                          hash, RESERVED_MARKER);
    }
    snprintf(name + prefix, sizeof name - size_t(prefix), "%s%c", JOURNAL_WORD, RESERVED_END);
}

namespace {

uint64_t checksum_of(const JournalHeader &header, std::string_view old_text,
                     std::string_view new_text)
{
    std::string_view fields(reinterpret_cast<const char *>(&header),
                            offsetof(JournalHeader, checksum));
    return hash_of(new_text, hash_of(old_text, hash_of(fields)));
}

// Whether `block`, found at `at`, holds what `first` written over `second`
// holds there, zeros past both and from `cut` on.
bool holds_at(std::string_view block, std::string_view first, std::string_view second, size_t at,
              size_t cut)
{
    for (size_t i = 0; i < block.size(); i++) {
        size_t offset = at + i;
        char byte = offset >= cut            ? '\0'
                    : offset < first.size()  ? first[offset]
                    : offset < second.size() ? second[offset]
                                             : '\0';
        if (block[i] != byte)
            return false;
    }
    return true;
}

// Whether `file` is what a crash can leave on disk while the file goes from
// `old_text` to `new_text` or back: a length between theirs, and each block
// as one text or the other left it, written over the other or not, zeros
// where the length reached the disk ahead of the data: past both texts, or
// past the length the file was cut to before it grew again. A disk writes a
// sector whole, and larger blocks tear at sector bounds, so the sector is
// the unit.
bool passes_through(std::string_view file, std::string_view old_text, std::string_view new_text)
{
    constexpr size_t SECTOR = 512;
    const size_t shorter = std::min(old_text.size(), new_text.size());
    const size_t longer = std::max(old_text.size(), new_text.size());
    if (file.size() < shorter || file.size() > longer)
        return false;
    const std::string_view layers[][2] = {
        {old_text, new_text}, {new_text, old_text}, {old_text, {}}, {new_text, {}}, {{}, {}}};
    auto left_by_the_write = [&](std::string_view block, size_t at) {
        for (size_t cut : {longer, shorter}) {
            for (const auto &layer : layers) {
                if (holds_at(block, layer[0], layer[1], at, cut))
                    return true;
            }
        }
        return false;
    };
    for (size_t at = 0; at < file.size(); at += SECTOR) {
        if (!left_by_the_write({file.data() + at, std::min(SECTOR, file.size() - at)}, at))
            return false;
    }
    return true;
}

// Whether nobody but those who may write the file anyway can have put the
// journal there, or swapped it for an older one: its owner is the caller,
// root, the file's owner or a member of a group that may write the file
// (only members and root give a file that group, outside a directory that
// gives its own to every new file); it has no second name; and the directory
// lets nobody else rename it (its owner is one of those, and others who may
// write it are kept from what is not theirs by the sticky bit).
bool believed(const struct stat &journal, const struct stat &file, const struct stat &dir)
{
    auto trusted = [&](uid_t user) {
        return user == file.st_uid || user == 0 || user == geteuid();
    };
    bool writer =
        trusted(journal.st_uid) ||
        ((file.st_mode & S_IWGRP) && journal.st_gid == file.st_gid && !(dir.st_mode & S_ISGID));
    bool kept_from_others = trusted(dir.st_uid) &&
                            ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (dir.st_mode & S_ISVTX));
    return writer && kept_from_others && journal.st_nlink == 1 &&
           (journal.st_mode & ~file.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// ---- Reading and writing files whole

// Up to `size` bytes from the start: a file that shrank after it was
// measured ends at the bytes actually read.
Cause read_text(int fd, size_t size, FileText &text)
{
    TextPtr bytes(static_cast<char *>(jsontree_malloc(size + 1)));
    if (!bytes)
        return Cause{ENOMEM};  // a caller's hook need not set errno
    size_t done = 0;
    while (done < size) {
        ssize_t got = pread(fd, bytes.get() + done, size - done, off_t(done));
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

// `text` over the file, cut to its length, on disk. A failed fsync is not
// retried: the kernel may have dropped the pages.
Cause write_in_place(int fd, std::string_view text)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return errno_cause();
    if (Cause cause = write_all(fd, text))
        return cause;
    return ftruncate(fd, off_t(text.size())) == 0 && fsync(fd) == 0 ? Cause{} : errno_cause();
}

// `part` of `from`'s bytes, moved to their start and handed over to `to`.
void hand_over(FileText &from, std::string_view part, FileText &to)
{
    memmove(from.bytes.get(), part.data(), part.size());
    from.bytes.get()[part.size()] = '\0';
    to.bytes = std::move(from.bytes);
    to.length = part.size();
}

bool same_state(const struct stat &a, const struct stat &b)
{
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether the file still holds `text`, read again: times too coarse to tell
// two writes apart (a second on some file systems) leave the bytes to tell.
bool still_reads(int fd, std::string_view text)
{
    char chunk[4096];
    for (size_t at = 0; at < text.size(); at += sizeof chunk) {
        size_t size = std::min(sizeof chunk, text.size() - at);
        if (pread(fd, chunk, size, off_t(at)) != ssize_t(size) ||
            memcmp(chunk, text.data() + at, size) != 0)
            return false;
    }
    return true;
}

// ---- A journal found beside a file

enum class Found {
    NONE,        // nothing at the journal's name
    UNBELIEVED,  // something nobody may rely on: it may be a write's all the same
    CUT_SHORT,   // its writer never reached the file
    FOREIGN,     // complete, for another inode (a mount not in place yet)
    BELIEVED,    // complete, for this inode
};

// The file's text, and what lies at its journal's name, looked at in that
// order: a journal still being written means the text was read before the
// file began to change.
struct View {
    FileText file;
    bool unchanged = false;  // the file's status the same after the look
    char name[NAME_MAX + 1];
    Found found = Found::NONE;
    FileDescriptor journal;
    struct stat journal_status {};
    FileText journal_bytes;
    std::string_view old_text, new_text;

    Cause look(int dir_fd, const char *file_name, int fd, struct stat &status)
    {
        struct stat before = status;
        if (Cause cause = read_text(fd, size_t(status.st_size), file))
            return cause;
        journal_name(name, file_name);
        found = examine(dir_fd, status);
        if (fstat(fd, &status) != 0)
            return errno_cause();
        unchanged = same_state(before, status);
        return {};
    }

    // A believed journal whose texts the file may be between.
    bool applies() const
    {
        return found == Found::BELIEVED && passes_through(file.view(), old_text, new_text);
    }

    // Removes the journal, still at its name and locked by nobody else.
    Cause remove(int dir_fd)
    {
        if (!lock_now(journal.get()) || !name_holds(dir_fd, name, journal_status))
            return Cause{EEXIST};
        if (unlinkat(dir_fd, name, 0) != 0)
            return errno_cause();
        return sync_directory(dir_fd);
    }

private:
    Found examine(int dir_fd, const struct stat &status)
    {
        Cause opened = open_regular(dir_fd, name, O_NOFOLLOW, journal, journal_status);
        if (opened.error == ENOENT)
            return Found::NONE;
        struct stat dir;
        if (opened || fstat(dir_fd, &dir) != 0 || !believed(journal_status, status, dir) ||
            read_text(journal.get(), size_t(journal_status.st_size), journal_bytes))
            return Found::UNBELIEVED;
        JournalHeader header;
        std::string_view bytes = journal_bytes.view();
        if (bytes.size() < sizeof header)
            return Found::CUT_SHORT;
        memcpy(&header, bytes.data(), sizeof header);
        bytes.remove_prefix(sizeof header);
        if (memcmp(header.magic, JOURNAL_MAGIC, sizeof header.magic) != 0 ||
            header.old_length > bytes.size() ||
            header.new_length != bytes.size() - header.old_length)
            return Found::CUT_SHORT;
        old_text = std::string_view(bytes.data(), size_t(header.old_length));
        new_text = std::string_view(old_text.end(), bytes.size() - old_text.size());
        if (header.checksum != checksum_of(header, old_text, new_text))
            return Found::CUT_SHORT;
        return header.inode == uint64_t(status.st_ino) ? Found::BELIEVED : Found::FOREIGN;
    }
};

// Puts the old text back and removes the journal, under the file's lock.
// Where this caller may not write the file, or the journal is another's to
// settle, it stays.
Cause settle(int dir_fd, const char *name, const struct stat &status, View &view)
{
    if (!lock_now(view.journal.get()) || !name_holds(dir_fd, view.name, view.journal_status))
        return Cause{EEXIST};
    FileDescriptor fd;
    if (Cause cause = open_for_writing(dir_fd, name, O_WRONLY, status, fd))
        return cause;
    if (Cause cause = write_in_place(fd.get(), view.old_text))
        return cause;
    return view.remove(dir_fd);
}

// The text to read once the file's lock is held: no write of ours is under
// way. A journal cut short never reached the file and goes.
Cause read_locked(int dir_fd, const char *name, int fd, struct stat &status, FileText &text)
{
    View view;
    if (Cause cause = view.look(dir_fd, name, fd, status))
        return cause;
    if (view.found == Found::CUT_SHORT)
        (void)view.remove(dir_fd);
    if (!view.applies()) {
        text = std::move(view.file);
        return {};
    }
    if (!settle(dir_fd, name, status, view) && fstat(fd, &status) != 0)
        return errno_cause();
    hand_over(view.journal_bytes, view.old_text, text);
    return {};
}

// The file's lock for the time of settling, where the caller holds none.
class SettlingLock {
public:
    explicit SettlingLock(int fd) : fd_(fd) {}
    ~SettlingLock() { flock(fd_, LOCK_UN); }
    SettlingLock(const SettlingLock &) = delete;
    SettlingLock &operator=(const SettlingLock &) = delete;

private:
    int fd_;
};

// The longest wait for the file's lock: for a store, and for a reader that
// takes no lock but cannot confirm what it read (a journal that cannot be
// believed may be a live write's). Anyone who may open the file can hold it.
constexpr int LOCK_WAIT_MS = 10000;

// The journal of one store, locked by its writer while it lives.
class Journal {
public:
    Journal(int dir_fd, const char *target_name) : dir_fd_(dir_fd)
    {
        journal_name(name_, target_name);
    }
    // Removed while the file has not changed; no sync: should it come back,
    // it holds the file's own text, or is cut short.
    ~Journal()
    {
        struct stat made;
        if (fd_.get() >= 0 && !needed_ && fstat(fd_.get(), &made) == 0 &&
            name_holds(dir_fd_, name_, made))
            unlinkat(dir_fd_, name_, 0);
    }
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Made exclusively, so a journal another writer holds is neither reused
    // nor removed; guarded like the file before it holds any text; on disk
    // with its name before it returns.
    Cause write(const HeldInode &held, const struct stat &file, std::string_view old_text,
                std::string_view new_text)
    {
        fd_.reset(openat(dir_fd_, name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         S_IRUSR | S_IWUSR));
        if (fd_.get() < 0 || fstat(fd_.get(), &made_) != 0)
            return errno_cause();
        if (!lock_now(fd_.get()))
            return LOCK_HELD;
        // Another user who removed the name and made another file there.
        if (!name_holds(dir_fd_, name_, made_))
            return Cause{ESTALE};
        if (Cause cause = take_properties(held, fd_.get(), 0666))
            return cause;
        JournalHeader header{};
        memcpy(header.magic, JOURNAL_MAGIC, sizeof header.magic);
        header.inode = uint64_t(file.st_ino);
        header.old_length = old_text.size();
        header.new_length = new_text.size();
        header.checksum = checksum_of(header, old_text, new_text);
        std::string_view header_bytes(reinterpret_cast<const char *>(&header), sizeof header);
        for (std::string_view part : {header_bytes, old_text, new_text}) {
            if (Cause cause = write_all(fd_.get(), part))
                return cause;
        }
        if (fsync(fd_.get()) != 0)
            return errno_cause();
        return sync_directory(dir_fd_);
    }

    // From the first byte written over the file on, only its removal ends it.
    void keep() { needed_ = true; }

    Cause unlink()
    {
        if (!name_holds(dir_fd_, name_, made_))
            return Cause{ESTALE};
        return unlinkat(dir_fd_, name_, 0) == 0 ? Cause{} : errno_cause();
    }

private:
    int dir_fd_;
    FileDescriptor fd_;
    struct stat made_ {};
    bool needed_ = false;
    char name_[NAME_MAX + 1];
};

}  // namespace

namespace jsontree::detail {

Cause overwrite_in_place(int dir_fd, const char *name, const HeldInode &held, const char *text,
                         FileDescriptor &written)
{
    // Journals are settled only under the file's lock: holding it keeps
    // this write's journal from being taken for an abandoned one. A reader
    // settling one holds it for a moment.
    if (Cause cause = lock_within(held.fd, Deadline(LOCK_WAIT_MS)))
        return cause;
    FileDescriptor fd;
    if (Cause cause = open_for_writing(dir_fd, name, O_RDWR, held.status, fd))
        return cause;
    struct stat status;
    if (fstat(fd.get(), &status) != 0)
        return errno_cause();
    FileText old_text;
    if (Cause cause = read_locked(dir_fd, name, fd.get(), status, old_text))
        return cause;
    std::string_view new_text(text);
    Journal journal(dir_fd, name);
    if (Cause cause = journal.write(held, status, old_text.view(), new_text))
        return cause;
    journal.keep();
    Cause cause = write_in_place(fd.get(), new_text);
    if (!cause)
        cause = journal.unlink();
    if (cause) {
        // Undone now, or by the next access where even that fails.
        if (!write_in_place(fd.get(), old_text.view()) && !journal.unlink())
            (void)sync_directory(dir_fd);
        return cause;
    }
    // The new text is the file's now, even should the directory's sync fail.
    written.reset(fcntl(held.fd, F_DUPFD_CLOEXEC, 0));
    return sync_directory(dir_fd);
}

Cause read_settled(int dir_fd, const char *name, int fd, struct stat &status, bool locked,
                   FileText &text)
{
    if (locked)
        return read_locked(dir_fd, name, fd, status, text);
    // Read without the lock, which anyone who may open the file can hold;
    // what was read stands when no write of ours can have been under way.
    View view;
    if (Cause cause = view.look(dir_fd, name, fd, status))
        return cause;
    // A journal cut short is removed where the lock is free.
    bool settled_text = view.unchanged &&
                        (view.found == Found::NONE || view.found == Found::FOREIGN ||
                         (view.found == Found::CUT_SHORT && !lock_now(fd))) &&
                        still_reads(fd, view.file.view());
    if (settled_text) {
        text = std::move(view.file);
        return {};
    }
    // The text a write under way or cut short replaces, settled where the
    // lock is free.
    if (view.applies() && !lock_now(fd)) {
        hand_over(view.journal_bytes, view.old_text, text);
        return {};
    }
    if (Cause cause = lock_within(fd, Deadline(LOCK_WAIT_MS)))
        return cause;
    SettlingLock lock(fd);
    return read_locked(dir_fd, name, fd, status, text);
}

}  // namespace jsontree::detail
