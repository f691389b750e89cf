// Writing a text over a file: the file is replaced whole or not at all and
// keeps its mode, owner, links and attributes; special files are written in
// place.
#include "file_replace.h"
#include "serialized.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

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

TEST_F(FileReplaceTest, SymbolicLinkStaysAndItsFileIsReplacedOrMade)
{
    ASSERT_EQ(mkdir(dir_.file("real").c_str(), 0755), 0);
    std::string link = dir_.file("conf.json");
    ASSERT_EQ(symlink("real/conf.json", link.c_str()), 0);
    std::string real = dir_.file("real/conf.json");
    ValuePtr doc = document("new");
    for (bool exists : {true, false}) {
        SCOPED_TRACE(exists ? "link to a file" : "link to no file yet");
        if (exists)
            dir_.write("real/conf.json", "old text");
        else
            ASSERT_EQ(unlink(real.c_str()), 0);

        ASSERT_EQ(json_serialize_to_file(doc.get(), link.c_str()), JSONSuccess);
        EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
        char target[64] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "real/conf.json");
        EXPECT_EQ(read_file_bytes(real), text_of(doc.get(), false));
        EXPECT_EQ(directory_entries(dir_.path()), (Strings{"conf.json", "real"}));
        EXPECT_EQ(directory_entries(dir_.file("real")), Strings{"conf.json"});
    }
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

// A directory's default ACL gives every file made in it an ACL of its own;
// the replacement of a file without one must not keep it, or user 65534
// could read what the old file kept from it.
TEST_F(FileReplaceTest, ReplacementLosesAnAclTheDirectoryWouldGiveIt)
{
    RunResult set = run_program("/usr/bin/setfacl", {"-d", "-m", "u:65534:r", dir_.path()});
    if (set.status != 0)
        GTEST_SKIP() << "no default ACL here (setfacl, of the acl package): " << set.err;
    std::string path = dir_.write("conf.json", "old");
    ASSERT_EQ(run_program("/usr/bin/setfacl", {"-b", path}).status, 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    auto before = attributes_of(path);
    ASSERT_EQ(before.count("system.posix_acl_access"), 0u);

    ASSERT_EQ(json_serialize_to_file(document("new").get(), path.c_str()), JSONSuccess);
    EXPECT_EQ(attributes_of(path), before);
    EXPECT_EQ(lstat_of(path).st_mode, S_IFREG | 0640u);
}

}  // namespace
