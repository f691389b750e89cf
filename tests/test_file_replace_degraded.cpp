// Writing a text over a file where the system lacks a feature or the disk
// fails: without unnamed temporary files or linking by descriptor (forced by
// a seccomp filter), on a full or read-only file system and through a bind
// mount. The file keeps its bytes, or takes the new ones whole.
#include "file_replace.h"
#include "mount.h"
#include "seccomp.h"
#include "serialized.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int NO_FILTER = 77;

TEST_F(FileReplaceTest, FallbacksReplaceAndCleanUp)
{
    for (const DeniedCall *denied : {&NO_UNNAMED_TEMPORARY_FILES, &NO_LINK_BY_DESCRIPTOR}) {
        SCOPED_TRACE(denied->what);
        std::string path = dir_.write("conf.json", "old text");
        ASSERT_EQ(chmod(path.c_str(), 0604), 0);
        ValuePtr small = document("new");
        ValuePtr large = document("0123456789abcdef", 1000);

        int result = in_child([&] {
            if (!deny_call(*denied))
                return NO_FILTER;
            bool replaced = json_serialize_to_file(small.get(), path.c_str()) == JSONSuccess;
            std::string after_success = read_file_bytes(path);
            mode_t mode = lstat_of(path).st_mode & 07777;
            Strings entries = directory_entries(dir_.path());
            bool failed = limit_file_size(4096) &&
                          json_serialize_to_file(large.get(), path.c_str()) == JSONFailure;
            return first_failed({replaced, after_success == text_of(small.get(), false),
                                 mode == 0604, entries == Strings{"conf.json"}, failed,
                                 read_file_bytes(path) == after_success,
                                 directory_entries(dir_.path()) == Strings{"conf.json"}});
        });
        if (result == NO_FILTER)
            GTEST_SKIP() << "no seccomp filter can be installed here";
        EXPECT_EQ(result, 0) << "check " << result << " failed in the child";
    }
}

TEST_F(FileReplaceTest, StraysOfKilledWritersGoThoseOfLiveWritersStay)
{
    for (const DeniedCall *denied : {(const DeniedCall *)nullptr, &NO_UNNAMED_TEMPORARY_FILES}) {
        SCOPED_TRACE(denied ? denied->what : "every feature");
        TempDir dir;
        std::string path = dir.write("conf.json", "old");
        dir.write(".conf.json.~jsontree-Ab12Cd~", "left by a killed writer");
        int live =
            open(dir.write(".conf.json.~jsontree-Zz98Yy~", "being written").c_str(), O_RDONLY);
        ASSERT_EQ(flock(live, LOCK_EX), 0);
        std::string victim = dir.write("victim", "victim bytes");
        ASSERT_EQ(symlink("victim", dir.file(".conf.json.~jsontree-Qq11Ww~").c_str()), 0);
        // Another user's directory where writes once put their copies.
        ASSERT_EQ(mkdir(dir.file(".conf.json.replacing").c_str(), 0700), 0);
        // A person's own files, some a letter away from a copy's name.
        const Strings kept = {".conf.json.Ab12Cd",
                              ".conf.json.backup",
                              ".conf.json.~jsontree-Ab12Cd",
                              ".conf.json.~jsontree-Ab12C~",
                              ".conf.json.~jsontree-Ab_2Cd~",
                              ".conf.json.~jsontree-Ab12Cd~.bak",
                              ".conf.json~jsontree-Ab12Cd~"};
        for (const std::string &name : kept)
            dir.write(name, "a person's file");
        ValuePtr doc = document("new");

        int result = in_child([&] {
            if (denied && !deny_call(*denied))
                return NO_FILTER;
            return json_serialize_to_file(doc.get(), path.c_str()) == JSONSuccess ? 0 : 1;
        });
        close(live);
        if (result == NO_FILTER)
            GTEST_SKIP() << "no seccomp filter can be installed here";
        EXPECT_EQ(result, 0);
        EXPECT_EQ(read_file_bytes(path), text_of(doc.get(), false));
        EXPECT_EQ(read_file_bytes(victim), "victim bytes");
        Strings expected = kept;
        expected.insert(expected.end(), {".conf.json.replacing", ".conf.json.~jsontree-Qq11Ww~",
                                         ".conf.json.~jsontree-Zz98Yy~", "conf.json", "victim"});
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(directory_entries(dir.path()), expected);
    }
}

// ---- Real file systems: skipped where this process may not mount

class MountedFileReplaceTest : public FileReplaceTest {
protected:
    std::string mount_point() const { return dir_.file("mnt"); }
    void SetUp() override
    {
        FileReplaceTest::SetUp();
        ASSERT_EQ(mkdir(mount_point().c_str(), 0755), 0);
    }
};

TEST_F(MountedFileReplaceTest, FullDiskKeepsOriginal)
{
    ScopedMount tmpfs("tmpfs", mount_point(), "tmpfs", 0, "size=16k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mount not permitted: " << tmpfs.error();
    std::string path = dir_.write("mnt/conf.json", "original bytes");
    Snapshot before = Snapshot::of(path, mount_point());
    ValuePtr doc = document("0123456789abcdef", 4000);
    ASSERT_GT(text_of(doc.get(), false).size(), 64000u);

    EXPECT_EQ(json_serialize_to_file(doc.get(), path.c_str()), JSONFailure);
    EXPECT_EQ(Snapshot::of(path, mount_point()), before);
}

TEST_F(MountedFileReplaceTest, ReadOnlyMountKeepsOriginal)
{
    ScopedMount tmpfs("tmpfs", mount_point(), "tmpfs", 0, "size=64k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mount not permitted: " << tmpfs.error();
    std::string path = dir_.write("mnt/conf.json", "original bytes");
    ASSERT_TRUE(tmpfs.remount_read_only()) << strerror(errno);
    Snapshot before = Snapshot::of(path, mount_point());
    ValuePtr doc = document("new");

    EXPECT_EQ(json_serialize_to_file_pretty(doc.get(), path.c_str()), JSONFailure);
    EXPECT_EQ(Snapshot::of(path, mount_point()), before);
}

TEST_F(MountedFileReplaceTest, BindMountedFileIsWrittenInPlace)
{
    ValuePtr doc = document("new");
    const std::string text = text_of(doc.get(), true);
    // Shorter and longer than the text written over it: a longer one is cut.
    for (const std::string &before : {std::string("mounted file"), text + text}) {
        std::string target = dir_.write("conf.json", "under the mount");
        std::string source = dir_.write("mounted.json", before);
        {
            ScopedMount bind(source.c_str(), target, nullptr, MS_BIND, nullptr);
            if (!bind.mounted())
                GTEST_SKIP() << "mount not permitted: " << bind.error();
            EXPECT_EQ(json_serialize_to_file_pretty(doc.get(), target.c_str()), JSONSuccess);
            EXPECT_EQ(read_file_bytes(target), text);
        }
        EXPECT_EQ(read_file_bytes(source), text);
        EXPECT_EQ(read_file_bytes(target), "under the mount");
        EXPECT_EQ(directory_entries(dir_.path()), (Strings{"conf.json", "mnt", "mounted.json"}));
    }
}

// Any call with a descriptor (all of them) fails.
const DeniedCall NO_TRUNCATION = {"ftruncate",
#ifdef SYS_ftruncate64
                                  SYS_ftruncate64,
#else
                                  SYS_ftruncate,
#endif
                                  0, ~0u, EIO};

// A store's journal, left where even putting the old text back failed, met
// by the next access in each state a kill or a power cut can leave, and
// where someone other than the file's writers may have put it.
TEST_F(MountedFileReplaceTest, InterruptedInPlaceWriteIsUndone)
{
    ValuePtr doc = document("new", 120);
    const std::string new_text = text_of(doc.get(), true);
    const std::string old_text = text_of(document("old", 300).get(), true);
    const std::string edited = text_of(document("edited").get(), true);
    ASSERT_GT(new_text.size(), 1536u);
    std::string target = dir_.write("conf.json", "under the mount");
    std::string source = dir_.write("mounted.json", old_text);
    ScopedMount bind(source.c_str(), target, nullptr, MS_BIND, nullptr);
    if (!bind.mounted())
        GTEST_SKIP() << "mount not permitted: " << bind.error();
    // The journal holds the file's text: it may not take the ACL a default
    // ACL of the directory would give it, here letting user 65534 read.
    const bool default_acl =
        run_program("/usr/bin/setfacl", {"-d", "-m", "u:65534:r", dir_.path()}).status == 0;
    // Every truncation fails, so the store cannot undo itself either.
    int result = in_child([&] {
        if (!deny_call(NO_TRUNCATION))
            return NO_FILTER;
        return json_serialize_to_file_pretty(doc.get(), target.c_str()) == JSONFailure ? 0 : 1;
    });
    if (result == NO_FILTER)
        GTEST_SKIP() << "no seccomp filter can be installed here";
    ASSERT_EQ(result, 0);
    ASSERT_EQ(read_file_bytes(source), old_text);
    const std::string journal = dir_.file(".conf.json.~jsontree-journal~");
    const std::string written = read_file_bytes(journal);
    ASSERT_FALSE(written.empty()) << "no journal beside the file";
    if (default_acl) {
        EXPECT_EQ(attributes_of(journal), attributes_of(source));
        ASSERT_EQ(run_program("/usr/bin/setfacl", {"-k", dir_.path()}).status, 0);
    }

    // What the disk may hold: blocks of either text in any order, the old
    // text cut to the new length before the new data got there.
    const std::string mixed = new_text + old_text.substr(new_text.size());
    const std::string out_of_order =
        old_text.substr(0, 1024) + new_text.substr(1024, 512) + old_text.substr(1536);
    const std::string cut = old_text.substr(0, new_text.size());
    constexpr uid_t OTHER = 65534;
    struct Case {
        const char *what;
        std::string file, journal;
        uid_t journal_owner, reader;
        mode_t file_mode, dir_mode;
        std::string read, after;
        bool journal_left;
    };
    const Case cases[] = {
        {"killed before the truncation", mixed, written, 0, 0, 0644, 0755, old_text, old_text,
         false},
        {"blocks on disk out of order", out_of_order, written, 0, 0, 0644, 0755, old_text, old_text,
         false},
        {"truncation on disk before the data", cut, written, 0, 0, 0644, 0755, old_text, old_text,
         false},
        {"killed in the journal", old_text, written.substr(0, written.size() - 1), 0, 0, 0644, 0755,
         old_text, old_text, false},
        {"file edited since", edited, written, 0, 0, 0644, 0755, edited, edited, true},
        {"reader who may not write", mixed, written, 0, OTHER, 0644, 0755, old_text, mixed, true},
        {"journal of another user", mixed, written, OTHER, 0, 0644, 0755, mixed, mixed, true},
        {"journal of a group that may write", mixed, written, OTHER, 0, 0664, 0755, old_text,
         old_text, false},
        {"directory others may write", mixed, written, 0, 0, 0644, 0777, mixed, mixed, true},
        {"sticky directory others may write", mixed, written, 0, 0, 0644, 01777, old_text, old_text,
         false},
    };
    auto held_text = [&](int lock_wait_ms) {
        HeldFile file(json_file_open(target.c_str(), lock_wait_ms));
        return std::string(file ? json_file_text(file.get()) : "<null>");
    };
    const std::pair<const char *, std::function<std::string()>> accesses[] = {
        {"read", [&] { return held_text(-1); }},
        {"store", [&] { return held_text(1000); }},
        {"library reader",
         [&] { return text_of(ValuePtr(json_parse_file(target.c_str())).get(), true); }},
    };
    for (const Case &c : cases) {
        for (const auto &[how, read_through] : accesses) {
            SCOPED_TRACE(std::string(c.what) + ", " + how);
            ASSERT_EQ(chmod(dir_.path().c_str(), c.dir_mode), 0);
            dir_.write("mounted.json", c.file);
            ASSERT_EQ(chmod(source.c_str(), c.file_mode), 0);
            unlink(journal.c_str());
            dir_.write(".conf.json.~jsontree-journal~", c.journal);
            ASSERT_EQ(chown(journal.c_str(), c.journal_owner, 0), 0);
            // The library reader sees the document, not the text.
            std::string expected =
                how == accesses[2].first
                    ? text_of(ValuePtr(json_parse_string(c.read.c_str())).get(), true)
                    : c.read;
            EXPECT_EQ(in_child([&, &read_through = read_through] {
                          if (c.reader != 0 && (setresgid(c.reader, c.reader, c.reader) != 0 ||
                                                setresuid(c.reader, c.reader, c.reader) != 0))
                              return 2;
                          return read_through() == expected ? 0 : 1;
                      }),
                      0);
            EXPECT_EQ(read_file_bytes(source), c.after);
            EXPECT_EQ(access(journal.c_str(), F_OK) == 0, c.journal_left);
        }
    }
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
}

// Reads racing in-place stores, without the lock, see one document or the
// other, whole: never the file half written.
TEST_F(MountedFileReplaceTest, ReadsRacingInPlaceStoresSeeWholeDocuments)
{
    // Under the ARM emulator one read in a thousand or so fails with ENOENT
    // (never a torn text), which no native run has shown; until that is
    // understood the race runs natively only.
    if (runs_under_emulator())
        GTEST_SKIP() << "reads under the emulator fail now and then with ENOENT";
    constexpr int STORES = 60;
    ValuePtr shorter = document("short", 10), longer = document("longer", 400);
    const std::string short_text = text_of(shorter.get(), true);
    const std::string long_text = text_of(longer.get(), true);
    std::string target = dir_.write("conf.json", "under the mount");
    std::string source = dir_.write("mounted.json", short_text);
    ScopedMount bind(source.c_str(), target, nullptr, MS_BIND, nullptr);
    if (!bind.mounted())
        GTEST_SKIP() << "mount not permitted: " << bind.error();
    pid_t writer = start_child([&] {
        for (int i = 0; i < STORES; i++) {
            JSON_Value *doc = i % 2 ? shorter.get() : longer.get();
            if (json_serialize_to_file_pretty(doc, target.c_str()) != JSONSuccess)
                return 1;
        }
        return 0;
    });
    int reads = 0, torn = 0, status = 0;
    std::string last_torn;
    while (waitpid(writer, &status, WNOHANG) == 0) {
        errno = 0;
        ValuePtr read(json_parse_file(target.c_str()));
        const std::string text =
            read ? text_of(read.get(), true) : std::string("unread: ") + strerror(errno);
        if (text != short_text && text != long_text) {
            torn++;
            last_torn = text;
        }
        reads++;
    }
    EXPECT_EQ(exit_status(status), 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads, the last: " << last_torn;
    printf("%d reads raced %d in-place stores\n", reads, STORES);
}

TEST_F(MountedFileReplaceTest, BindMountedFileOnAFullDiskKeepsItsBytes)
{
    ScopedMount tmpfs("tmpfs", mount_point(), "tmpfs", 0, "size=16k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mount not permitted: " << tmpfs.error();
    std::string source = dir_.write("mnt/mounted.json", "mounted bytes");
    std::string target = dir_.write("conf.json", "under the mount");
    ValuePtr doc = document("0123456789abcdef", 4000);
    ScopedMount bind(source.c_str(), target, nullptr, MS_BIND, nullptr);
    ASSERT_TRUE(bind.mounted()) << bind.error();

    EXPECT_EQ(json_serialize_to_file(doc.get(), target.c_str()), JSONFailure);
    EXPECT_EQ(read_file_bytes(source), "mounted bytes");
}

}  // namespace
