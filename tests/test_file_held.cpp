// What others do to a file being read or written: a held file is replaced
// only while its name still holds it, locks are waited for a bounded time,
// readers refuse a FIFO, and links and FIFOs another user planted are
// refused.
#include "file_replace.h"
#include "serialized.h"
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

namespace {

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

// Each file name has a journal name of its own, however long: names that
// share their start must not share a journal, whose settling would then
// serve one file the other's text.
TEST_F(FileReplaceTest, EachFileNameHasAJournalNameOfItsOwn)
{
    const std::string start(240, 'n');
    const Strings names = {"conf.json", start + "a", start + "b", std::string(NAME_MAX, 'n')};
    Strings journals;
    for (const std::string &name : names) {
        SCOPED_TRACE(name.size());
        HeldFile file(json_file_open(dir_.write(name, "{}").c_str(), -1));
        ASSERT_TRUE(file) << strerror(errno);
        char journal[NAME_MAX + 1];
        ASSERT_EQ(json_file_journal_name(file.get(), journal, sizeof journal), JSONSuccess);
        journals.push_back(journal);
        EXPECT_FALSE(std::ranges::count(journals, journal) > 1) << journal;
    }
    EXPECT_EQ(journals[0], ".conf.json.~jsontree-journal~");
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
// written), unless no other user can have put it there. Past a directory or
// link of another user, nothing of root's is reached.
TEST_F(FileReplaceTest, LinksAndFifosPlantedByAnotherUserAreNotFollowed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "links and directories of other owners need root";
    constexpr uid_t OTHER = 65534, THIRD = 1234;
    const struct {
        const char *name;
        uid_t owner;
        mode_t mode;
    } dirs[] = {{"sticky", 0, 01777}, {"group", 0, 0770},   {"other", OTHER, 01777},
                {"own", OTHER, 0755}, {"private", 0, 0755}, {"targets", 0, 0755}};
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
        {"sticky", OTHER, false, false},  {"group", OTHER, false, false},
        {"other", THIRD, false, false},   {"group", OTHER, true, false},
        {"sticky", 0, false, true},       {"other", OTHER, false, false},
        {"other", 0, true, false},        {"own", OTHER, false, false},
        {"private", OTHER, false, false},
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

// A link on /proc stands for what the kernel finds through it: the root of
// another mount namespace, where another file may lie at the same path, or a
// file since removed, which no name leads to any more.
TEST_F(FileReplaceTest, ProcLinksLeadWhereTheKernelLeads)
{
    ValuePtr doc(json_parse_string("{\"who\": \"new\"}"));
    std::string removed = dir_.write("removed.json", "{}");
    int held = open(removed.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(unlink(removed.c_str()), 0);
    std::string through_fd = "/proc/self/fd/" + std::to_string(held);
    errno = 0;
    EXPECT_EQ(json_serialize_to_file(doc.get(), through_fd.c_str()), JSONFailure);
    EXPECT_EQ(errno, EOPNOTSUPP);
    close(held);
    EXPECT_EQ(directory_entries(dir_.path()), Strings{});

    // A child binds "inner" over "outer" in a mount namespace of its own:
    // through the test's root it still reaches the test's "outer".
    ASSERT_EQ(mkdir(dir_.file("inner").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.file("outer").c_str(), 0755), 0);
    std::string inner = dir_.write("inner/conf.json", "{\"who\": \"inner\"}");
    std::string outer = dir_.write("outer/conf.json", "{\"who\": \"outer\"}");
    std::string through_root = "/proc/" + std::to_string(getpid()) + "/root" + outer;
    constexpr int NO_NAMESPACE = 100;
    int result = in_child([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(dir_.file("inner").c_str(), dir_.file("outer").c_str(), nullptr, MS_BIND,
                  nullptr) != 0)
            return NO_NAMESPACE;
        ValuePtr seen(json_parse_file(through_root.c_str()));
        const char *who = json_object_get_string(json_object(seen.get()), "who");
        return first_failed(
            {who && std::string(who) == "outer",
             json_serialize_to_file(doc.get(), through_root.c_str()) == JSONSuccess});
    });
    if (result == NO_NAMESPACE)
        GTEST_SKIP() << "no mount namespace of its own for a child here";
    EXPECT_EQ(result, 0) << "check " << result << " failed in the child";
    EXPECT_EQ(read_file_bytes(outer), text_of(doc.get(), false));
    EXPECT_EQ(read_file_bytes(inner), "{\"who\": \"inner\"}");
}

}  // namespace
