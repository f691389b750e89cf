#include "file_replace.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <csignal>
#include <cstring>

ValuePtr document(const char *text, size_t copies)
{
    ValuePtr root(json_value_init_object());
    JSON_Value *data = json_value_init_array();
    for (size_t i = 0; i < copies; i++)
        EXPECT_EQ(json_array_append_string(json_array(data), text), JSONSuccess);
    EXPECT_EQ(json_object_set_value(json_object(root.get()), "data", data), JSONSuccess);
    return root;
}

struct stat lstat_of(const std::string &path)
{
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path << ": " << strerror(errno);
    return status;
}

int first_failed(std::initializer_list<bool> checks)
{
    int position = 1;
    for (bool check : checks) {
        if (!check)
            return position;
        position++;
    }
    return 0;
}

bool limit_file_size(rlim_t limit)
{
    rlimit rl{limit, limit};
    return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &rl) == 0;
}

Snapshot Snapshot::of(const std::string &path, const std::string &dir)
{
    return {read_file_bytes(path), lstat_of(path).st_ino, directory_entries(dir)};
}

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
