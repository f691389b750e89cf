// Writing a text over a file: the file is replaced whole or not at all, keeps
// its mode, owner, links and attributes, special files are written in place,
// links and FIFOs another user planted are refused, and a held file is
// replaced only while its name still holds it.
#include "file_replace.h"
#include "serialized.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

TEST_F(FileReplaceTest, ReplacedFileKeepsModeAndOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file to another owner needs root";
    // Set-user-ID, set-group-ID and sticky bits included.
    for (mode_t mode : {0640u, 02640u, 05751u}) {
        SCOPED_TRACE(testing::Message() << "mode " << std::oct << mode);
        std::string path = dir_.write("conf.json", "old text");
        ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ValuePtr doc = document("new");

        ASSERT_EQ(json_serialize_to_file_pretty(doc.get(), path.c_str()), JSONSuccess);
        EXPECT_EQ(read_file_bytes(path), text_of(doc.get(), true));
        struct stat status = lstat_of(path);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, mode);
        EXPECT_EQ(status.st_uid, 1234u);
        EXPECT_EQ(status.st_gid, 5678u);
        EXPECT_EQ(directory_entries(dir_.path()), Strings{"conf.json"});
    }
}

TEST_F(FileReplaceTest, NewFileGetsModeLessUmask)
{
    ValuePtr doc = document("new");
    // Umask and working directory belong to the whole process: a child's own.
    int result = in_child([&] {
        umask(027);
        bool changed = chdir(dir_.path().c_str()) == 0;
        return first_failed(
            {changed, json_serialize_to_file(doc.get(), "conf.json") == JSONSuccess});
    });
    EXPECT_EQ(result, 0) << "check " << result << " failed in the child";
    std::string path = dir_.file("conf.json");
    EXPECT_EQ(read_file_bytes(path), text_of(doc.get(), false));
    EXPECT_EQ(lstat_of(path).st_mode & 07777, 0640u);
    EXPECT_EQ(directory_entries(dir_.path()), Strings{"conf.json"});
}

TEST_F(FileReplaceTest, SymbolicLinkStaysAndItsFileIsReplaced)
{
    ASSERT_EQ(mkdir(dir_.file("real").c_str(), 0755), 0);
    std::string real = dir_.write("real/conf.json", "old text");
    std::string link = dir_.file("conf.json");
    ASSERT_EQ(symlink("real/conf.json", link.c_str()), 0);
    ValuePtr doc = document("new");

    ASSERT_EQ(json_serialize_to_file(doc.get(), link.c_str()), JSONSuccess);
    EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
    char target[64] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "real/conf.json");
    EXPECT_EQ(read_file_bytes(real), text_of(doc.get(), false));
    EXPECT_EQ(directory_entries(dir_.path()), (Strings{"conf.json", "real"}));
    EXPECT_EQ(directory_entries(dir_.file("real")), Strings{"conf.json"});
}

TEST_F(FileReplaceTest, LongestNameIsReplaced)
{
    // The temporary name beside it must shorten the name to stay within NAME_MAX.
    std::string name(NAME_MAX, 'n');
    std::string path = dir_.write(name, "old text");
    ValuePtr doc = document("new");
    ASSERT_EQ(json_serialize_to_file(doc.get(), path.c_str()), JSONSuccess);
    EXPECT_EQ(read_file_bytes(path), text_of(doc.get(), false));
    EXPECT_EQ(directory_entries(dir_.path()), Strings{name});
}

TEST_F(FileReplaceTest, LinkToNoFileYetGetsItsFileMade)
{
    ASSERT_EQ(mkdir(dir_.file("real").c_str(), 0755), 0);
    std::string link = dir_.file("conf.json");
    ASSERT_EQ(symlink("real/conf.json", link.c_str()), 0);
    ValuePtr doc = document("new");

    ASSERT_EQ(json_serialize_to_file(doc.get(), link.c_str()), JSONSuccess);
    EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
    EXPECT_EQ(read_file_bytes(dir_.file("real/conf.json")), text_of(doc.get(), false));
}

TEST_F(FileReplaceTest, WriteFailingPartWayKeepsOriginal)
{
    std::string path = dir_.write("conf.json", "original bytes");
    Snapshot before = Snapshot::of(path, dir_.path());
    ValuePtr doc = document("0123456789abcdef", 1000);
    ASSERT_GT(text_of(doc.get(), true).size(), 8192u);

    int result = in_child([&] {
        if (!limit_file_size(4096))
            return 2;
        return json_serialize_to_file_pretty(doc.get(), path.c_str()) == JSONFailure ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Snapshot::of(path, dir_.path()), before);
}

TEST_F(FileReplaceTest, UnserializableTreeLeavesFileUntouched)
{
    std::string path = dir_.write("conf.json", "original bytes");
    Snapshot before = Snapshot::of(path, dir_.path());
    ValuePtr with_nan = document("x");
    ValuePtr with_infinity = document("x");
    json_array_append_number(json_object_get_array(json_object(with_nan.get()), "data"), NAN);
    json_array_append_number(json_object_get_array(json_object(with_infinity.get()), "data"),
                             -INFINITY);

    const JSON_Value *trees[] = {nullptr, with_nan.get(), with_infinity.get()};
    for (const JSON_Value *tree : trees) {
        EXPECT_EQ(json_serialize_to_file(tree, path.c_str()), JSONFailure);
        EXPECT_EQ(json_serialize_to_file_pretty(tree, path.c_str()), JSONFailure);
        EXPECT_EQ(Snapshot::of(path, dir_.path()), before);
    }
    ValuePtr doc = document("x");
    EXPECT_EQ(json_serialize_to_file(doc.get(), nullptr), JSONFailure);
    EXPECT_EQ(json_serialize_to_file_pretty(doc.get(), nullptr), JSONFailure);
}

TEST_F(FileReplaceTest, MissingDirectoryCreatesNothing)
{
    dir_.write("plain", "a file, not a directory");
    ValuePtr doc = document("x");
    const char *names[] = {"missing/conf.json", "missing/deeper/conf.json", "plain/conf.json",
                           "conf.json/"};
    for (const char *name : names) {
        EXPECT_EQ(json_serialize_to_file(doc.get(), dir_.file(name).c_str()), JSONFailure) << name;
        EXPECT_EQ(directory_entries(dir_.path()), Strings{"plain"}) << name;
    }
}

TEST_F(FileReplaceTest, FifoIsWrittenInPlace)
{
    std::string fifo = dir_.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ino_t inode = lstat_of(fifo).st_ino;
    // The reader is there before the writer, so opening the FIFO for writing
    // does not wait, and the text (far below the pipe's capacity) is kept for it.
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ValuePtr doc = document("through the pipe");

    EXPECT_EQ(json_serialize_to_file(doc.get(), fifo.c_str()), JSONSuccess);
    char received[256] = {};
    ssize_t length = read(reader, received, sizeof received - 1);
    close(reader);
    EXPECT_EQ(std::string(received, length > 0 ? size_t(length) : 0), text_of(doc.get(), false));
    struct stat status = lstat_of(fifo);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(status.st_ino, inode);
    EXPECT_EQ(directory_entries(dir_.path()), Strings{"fifo"});
}

TEST_F(FileReplaceTest, CharacterDeviceIsWrittenInPlace)
{
    // A private node with the numbers of the null device, never /dev/null itself.
    std::string device = dir_.file("null");
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "mknod not permitted: " << strerror(errno);
    int probe = open(device.c_str(), O_WRONLY);
    if (probe < 0)
        GTEST_SKIP() << "devices cannot be opened here: " << strerror(errno);
    close(probe);
    ValuePtr doc = document("discarded");

    EXPECT_EQ(json_serialize_to_file_pretty(doc.get(), device.c_str()), JSONSuccess);
    struct stat status = lstat_of(device);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_EQ(status.st_rdev, makedev(1, 3));
    EXPECT_EQ(directory_entries(dir_.path()), Strings{"null"});
}

// Runs `body` in a child and `swap` in this process the moment the child
// first opens the directory `dir` for reading, which a file call does after
// resolving the name and before opening the file; the child's exit status,
// or -1 where no such watch can be set (fanotify permission events).
int swapped_at_directory_open(const std::string &dir, const std::function<void()> &swap,
                              const std::function<int()> &body)
{
    int watch = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    if (watch >= 0 &&
        fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD, dir.c_str()) != 0) {
        close(watch);
        watch = -1;
    }
    if (watch < 0)
        return -1;
    pid_t child = start_child(body);
    bool swapped = false;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        pollfd ready{watch, POLLIN, 0};
        alignas(fanotify_event_metadata) char events[4096];
        ssize_t length = poll(&ready, 1, 10) > 0 ? read(watch, events, sizeof events) : 0;
        for (auto *event = reinterpret_cast<fanotify_event_metadata *>(events);
             length > 0 && FAN_EVENT_OK(event, length); event = FAN_EVENT_NEXT(event, length)) {
            if (!swapped && event->pid == child) {
                swap();
                swapped = true;
            }
            fanotify_response allow{event->fd, FAN_ALLOW};
            EXPECT_EQ(write(watch, &allow, sizeof allow), ssize_t(sizeof allow));
            close(event->fd);
        }
    }
    close(watch);
    EXPECT_TRUE(swapped);
    return exit_status(status);
}

TEST_F(FileReplaceTest, HeldFileIsReplacedOnlyWhileItsNameHoldsIt)
{
    std::string victim = dir_.write("victim", "victim bytes");
    std::string read = dir_.file("read");
    // What another user who may write the directory does to the name
    // between the read and the replacement, the file read moved aside.
    const std::pair<const char *, std::function<int(const char *)>> swaps[] = {
        {"link to another file", [&](const char *path) { return symlink(victim.c_str(), path); }},
        {"link to the file read", [](const char *path) { return symlink("read", path); }},
        {"link to no file", [&](const char *path) { return symlink("made", path); }},
        {"another file",
         [&](const char *path) { return rename(dir_.write("other", "other").c_str(), path); }},
        {"nothing", [](const char *) { return 0; }},
    };
    const std::string text = text_of(document("new").get(), true);
    for (const auto &[what, swap] : swaps) {
        SCOPED_TRACE(what);
        std::string path = dir_.write("conf.json", "{\"old\": 1}");
        HeldFile file(json_file_open(path.c_str(), 0));
        ASSERT_NE(file, nullptr);
        EXPECT_STREQ(json_file_text(file.get()), "{\"old\": 1}");
        ASSERT_EQ(rename(path.c_str(), read.c_str()), 0);
        ASSERT_EQ(swap(path.c_str()), 0);
        Strings entries = directory_entries(dir_.path());
        std::string named = read_file_bytes(path);

        errno = 0;
        EXPECT_EQ(json_file_replace(file.get(), text.c_str()), JSONFailure);
        EXPECT_EQ(errno, ESTALE) << "not told from an I/O error";
        EXPECT_EQ(directory_entries(dir_.path()), entries);
        EXPECT_EQ(read_file_bytes(path), named);
        EXPECT_EQ(read_file_bytes(victim), "victim bytes");
        unlink(path.c_str());
        unlink(read.c_str());

        // The same swap after the name was resolved, before the file is
        // opened: a link put there then is not read through.
        path = dir_.write("conf.json", "{\"old\": 1}");
        int result = swapped_at_directory_open(
            dir_.path(),
            [&, &swap = swap] {
                EXPECT_EQ(rename(path.c_str(), read.c_str()), 0);
                EXPECT_EQ(swap(path.c_str()), 0);
            },
            [&] {
                HeldFile opened(json_file_open(path.c_str(), -1));
                return opened && S_ISLNK(lstat_of(path).st_mode) ? 1 : 0;
            });
        EXPECT_NE(result, 1) << "read through a link";
        unlink(path.c_str());
        unlink(read.c_str());
    }
    // Left alone, the file is replaced, and again through the same handle,
    // each change made to the text the handle holds: the second keeps the first.
    std::string path = dir_.write("conf.json", "{}");
    HeldFile file(json_file_open(path.c_str(), 0));
    for (const char *member : {"first", "second"}) {
        ValuePtr root(json_parse_string(json_file_text(file.get())));
        ASSERT_EQ(json_object_set_null(json_object(root.get()), member), JSONSuccess);
        ASSERT_EQ(json_file_replace(file.get(), text_of(root.get()).c_str()), JSONSuccess);
        EXPECT_EQ(json_file_length(file.get()), read_file_bytes(path).size());
    }
    EXPECT_EQ(read_file_bytes(path), "{\"first\":null,\"second\":null}");
    EXPECT_EQ(directory_entries(dir_.path()), (Strings{"conf.json", "victim"}));
}

TEST_F(FileReplaceTest, LockIsWaitedForABoundedTime)
{
    std::string path = dir_.write("conf.json", "{}");
    int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    errno = 0;
    EXPECT_EQ(HeldFile(json_file_open(path.c_str(), 50)), nullptr);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_NE(HeldFile(json_file_open(path.c_str(), -1)), nullptr) << "an unlocked read waits";
    close(reader);
    HeldFile writer(json_file_open(path.c_str(), 50));
    EXPECT_NE(writer, nullptr);
    EXPECT_EQ(HeldFile(json_file_open(path.c_str(), 0)), nullptr) << "a second writer got in";
}

// Another user who renames a fresh locked file over the name again and again
// holds an open no longer than its wait; writers that queue for the lock
// while each of them replaces the file wait as long as they asked to.
TEST_F(FileReplaceTest, LockWaitIsOneDeadlineHoweverTheNameMoves)
{
    using namespace std::chrono;
    std::string path = dir_.write("conf.json", "{}");
    int locked = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(locked, LOCK_EX), 0);
    std::atomic<bool> moving{true};
    std::thread mover([&] {
        for (; moving; std::this_thread::sleep_for(milliseconds(100))) {
            int fresh = open(dir_.write("fresh", "{}").c_str(), O_RDONLY | O_CLOEXEC);
            flock(fresh, LOCK_EX);
            rename(dir_.file("fresh").c_str(), path.c_str());
            close(std::exchange(locked, fresh));
        }
        close(locked);
    });
    const auto start = steady_clock::now();
    errno = 0;
    EXPECT_EQ(HeldFile(json_file_open(path.c_str(), 300)), nullptr);
    EXPECT_EQ(errno, EWOULDBLOCK);
    const auto waited = steady_clock::now() - start;
    moving = false;
    mover.join();
    EXPECT_GE(waited, milliseconds(300)) << "gave up before its deadline";
    EXPECT_LT(waited, seconds(4)) << "each move restarted the wait";

    // Two processes of two threads; an increment that fails is missing below.
    constexpr int INCREMENTS = 150;
    auto increment_in_two_threads = [&] {
        recording_hooks::uninstall();  // they record for one thread only
        auto increments = [&] {
            for (int i = 0; i < INCREMENTS; i++) {
                HeldFile file(json_file_open(path.c_str(), 20000));
                ValuePtr root(file ? json_parse_string(json_file_text(file.get())) : nullptr);
                JSON_Object *counter = json_object(root.get());
                double count = json_object_get_number(counter, "count");
                json_object_set_number(counter, "count", count + 1);
                json_file_replace(file.get(), text_of(root.get()).c_str());
            }
        };
        std::thread other(increments);
        increments();
        other.join();
        return 0;
    };
    for (pid_t child :
         {start_child(increment_in_two_threads), start_child(increment_in_two_threads)})
        wait_status(child);
    ValuePtr counted(json_parse_string(read_file_bytes(path).c_str()));
    EXPECT_EQ(json_object_get_number(json_object(counted.get()), "count"), 4 * INCREMENTS);
}

TEST_F(FileReplaceTest, ReadersRefuseAFifoAtOnce)
{
    std::string fifo = dir_.file("fifo");
    std::string link = dir_.file("link");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo", link.c_str()), 0);
    // A reader that waits for a writer is ended by the alarm.
    int result = in_child([&] {
        alarm(10);
        return first_failed({!json_parse_file(fifo.c_str()),
                             !json_parse_file_with_comments(link.c_str()),
                             !json_file_open(fifo.c_str(), -1), !json_file_open(link.c_str(), 0)});
    });
    EXPECT_EQ(result, 0) << "check " << result << " failed in the child";
}

// A user who may write a directory plants a link or a FIFO there for root to
// follow or fill: every file call and the tool refuse it (EACCES, nothing
// written), unless no other user can have put it there.
TEST_F(FileReplaceTest, LinksAndFifosPlantedByAnotherUserAreNotFollowed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "links and directories of other owners need root";
    constexpr uid_t OTHER = 65534, THIRD = 1234;
    const struct {
        const char *name;
        uid_t owner;
        mode_t mode;
    } dirs[] = {{"sticky", 0, 01777},
                {"group", 0, 0770},
                {"other", OTHER, 01777},
                {"private", 0, 0755},
                {"targets", 0, 0755}};
    for (const auto &d : dirs) {
        std::string path = dir_.file(d.name);
        ASSERT_EQ(mkdir(path.c_str(), 0), 0);
        ASSERT_EQ(chown(path.c_str(), d.owner, THIRD), 0);
        ASSERT_EQ(chmod(path.c_str(), d.mode), 0);
    }
    const struct {
        const char *dir;  // where the link is
        uid_t owner;      // the link's
        bool step;        // it stands for a directory in the middle of the name
        bool followed;
    } links[] = {
        {"sticky", OTHER, false, false}, {"group", OTHER, false, false},
        {"other", THIRD, false, false},  {"group", OTHER, true, false},
        {"sticky", 0, false, true},      {"other", OTHER, false, true},
        {"other", 0, true, true},        {"private", OTHER, false, true},
    };
    // 0 for a call that succeeded, else its errno.
    auto error_of = [](bool succeeded) { return succeeded ? 0 : errno; };
    const std::string old_text = "{\"a\": 1}";
    ValuePtr doc(json_parse_string("{\"a\": 2}"));
    for (size_t i = 0; i < std::size(links); i++) {
        const auto &c = links[i];
        SCOPED_TRACE(std::string(c.dir) + " dir, link of " + std::to_string(c.owner) +
                     (c.step ? " as a step" : ""));
        std::string n = std::to_string(i);
        std::string target = dir_.file("targets/" + n);
        ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
        std::string target_file = dir_.write("targets/" + n + "/conf.json", old_text);
        std::string link = dir_.file(std::string(c.dir) + "/link" + n);
        ASSERT_EQ(symlink((c.step ? target : target_file).c_str(), link.c_str()), 0);
        ASSERT_EQ(lchown(link.c_str(), c.owner, c.owner), 0);
        std::string name = c.step ? link + "/conf.json" : link;
        Strings entries = directory_entries(dir_.file(c.dir));

        const int expected = c.followed ? 0 : EACCES;
        char canonical[PATH_MAX] = {};
        EXPECT_EQ(error_of(json_canonical_filename(name.c_str(), canonical, sizeof canonical) ==
                           JSONSuccess),
                  expected);
        if (c.followed) {
            EXPECT_EQ(canonical, std::filesystem::canonical(target_file).string());
        }
        EXPECT_EQ(error_of(ValuePtr(json_parse_file(name.c_str())) != nullptr), expected);
        EXPECT_EQ(error_of(HeldFile(json_file_open(name.c_str(), 0)) != nullptr), expected);
        EXPECT_EQ(error_of(json_serialize_to_file(doc.get(), name.c_str()) == JSONSuccess),
                  expected);
        const std::string refused =
            "<0> Failed to get canonical filename: " + name + ": Permission denied\n";
        expect_result(run_tool({"-f", name, "a"}),
                      {c.followed ? "2\n" : "", c.followed ? "" : refused, c.followed ? 0 : 1});
        expect_result(run_tool({"-f", name, "a", "3"}),
                      {"", c.followed ? "" : refused, c.followed ? 0 : 1});

        EXPECT_EQ(read_file_bytes(target_file), c.followed ? "{\n    \"a\": 3\n}" : old_text);
        EXPECT_EQ(directory_entries(target), Strings{"conf.json"});
        EXPECT_EQ(directory_entries(dir_.file(c.dir)), entries);
        EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
    }
    char small[4];
    EXPECT_EQ(
        error_of(json_canonical_filename(dir_.path().c_str(), small, sizeof small) == JSONSuccess),
        ERANGE);
    // A FIFO with a reader waiting: a refused writer sends it nothing.
    const struct {
        const char *dir;
        uid_t owner;
        bool written;
    } fifos[] = {{"sticky", OTHER, false},
                 {"group", OTHER, false},
                 {"sticky", 0, true},
                 {"other", OTHER, true}};
    const std::string text = text_of(doc.get(), false);
    for (size_t i = 0; i < std::size(fifos); i++) {
        const auto &c = fifos[i];
        SCOPED_TRACE(std::string(c.dir) + " dir, FIFO of " + std::to_string(c.owner));
        std::string fifo = dir_.file(std::string(c.dir) + "/fifo" + std::to_string(i));
        ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
        ASSERT_EQ(chown(fifo.c_str(), c.owner, c.owner), 0);
        int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        EXPECT_EQ(error_of(json_serialize_to_file(doc.get(), fifo.c_str()) == JSONSuccess),
                  c.written ? 0 : EACCES);
        char received[256] = {};
        ssize_t length = read(reader, received, sizeof received);
        close(reader);
        EXPECT_EQ(std::string(received, length > 0 ? size_t(length) : 0), c.written ? text : "");
    }
}

// Name and value of every extended attribute of `path`.
std::map<std::string, std::string> attributes_of(const std::string &path)
{
    std::map<std::string, std::string> attributes;
    char names[4096], value[4096];
    ssize_t length = llistxattr(path.c_str(), names, sizeof names);
    for (const char *name = names; length > 0 && name < names + length; name += strlen(name) + 1) {
        ssize_t size = lgetxattr(path.c_str(), name, value, sizeof value);
        attributes[name] = std::string(value, size > 0 ? size_t(size) : 0);
    }
    return attributes;
}

// An access ACL in the kernel's form: the owner, group 1234 and others as
// mode 0600 has them, and user 33 allowed to read and write.
std::string access_acl()
{
    constexpr uint32_t VERSION = 2, NO_ID = ~0u;
    struct Entry {
        uint16_t tag, permissions;
        uint32_t id;
    };
    const Entry entries[] = {
        {0x01, 6, NO_ID}, {0x02, 6, 33}, {0x04, 0, NO_ID}, {0x10, 6, NO_ID}, {0x20, 0, NO_ID}};
    std::string acl(reinterpret_cast<const char *>(&VERSION), sizeof VERSION);
    return acl.append(reinterpret_cast<const char *>(entries), sizeof entries);
}

TEST_F(FileReplaceTest, AttributesAndGroupThatGuardTheFileAreKept)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "trusted attributes and files of other owners need root";
    std::string path = dir_.write("conf.json", "old");
    ASSERT_EQ(chown(path.c_str(), 0, 1234), 0);
    const std::pair<const char *, std::string> wanted[] = {
        {"user.origin", "factory"},
        {"trusted.label", "gateway"},
        {"system.posix_acl_access", access_acl()}};
    for (const auto &[name, value] : wanted) {
        if (setxattr(path.c_str(), name, value.data(), value.size(), 0) != 0) {
            ASSERT_EQ(errno, EOPNOTSUPP) << name;
        }
    }
    auto before = attributes_of(path);
    if (before.empty())
        GTEST_SKIP() << "no extended attributes on this file system";
    struct stat status_before = lstat_of(path);
    ValuePtr doc = document("new");

    ASSERT_EQ(json_serialize_to_file(doc.get(), path.c_str()), JSONSuccess);
    EXPECT_EQ(attributes_of(path), before);
    struct stat status = lstat_of(path);
    EXPECT_NE(status.st_ino, status_before.st_ino);
    EXPECT_EQ(status.st_mode, status_before.st_mode);
    EXPECT_EQ(status.st_gid, 1234u);

    // A writer who may not give the file back to root keeps its group, one
    // the writer belongs to.
    std::string shared = dir_.write("shared.json", "old");
    ASSERT_EQ(chown(shared.c_str(), 0, 1234), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0664), 0);
    ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
    int result = in_child([&] {
        gid_t groups[] = {1234};
        if (setgroups(1, groups) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            return 2;
        return json_serialize_to_file(doc.get(), shared.c_str()) == JSONSuccess ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    status = lstat_of(shared);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 1234u);
    EXPECT_EQ(status.st_mode & 07777, 0664u);
}

}  // namespace
