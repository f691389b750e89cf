// configure_qrn: prints or changes one value inside a JSON configuration file.
//
// One request per run: with JSON_PATH alone the value found there is printed;
// with JSON_PATH and VALUE the value is stored and the whole file rewritten.
#include "causes.h"
#include "command_line.h"
#include "jsontree.h"
#include "logger.h"
#include "owners.h"
#include "read.h"
#include "store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A store holds the file from its read to its replacement, under an exclusive
// lock, so two writers never rewrite from the same stale copy and the file
// replaced is the one read. Anyone who can read the file can hold a lock on
// it too, so a store waits for the lock only this long.
constexpr int LOCK_WAIT_MS = 10000;

bool load_and_serve(const char *filename, const char *json_path, const char *json_value)
{
    log_line(LOGGER_INFO, "Parsing file: %s\n", filename);
    HeldFile file(json_file_open(filename, json_value ? LOCK_WAIT_MS : -1));
    if (!file) {
        const int error = errno;
        if (json_value && error == EWOULDBLOCK) {
            log_line(LOGGER_ERROR, "Failed to serialize json value\n");
            log_line(LOGGER_NOTICE, "%s: lock not obtained within %d s\n", filename,
                     LOCK_WAIT_MS / 1000);
            return false;
        }
        log_line(LOGGER_CRITICAL, "Invalid json file\n");
        // The library's EINVAL: a file that is there but is not regular.
        log_line(LOGGER_NOTICE, "%s: %s\n", filename,
                 error == EINVAL ? "Not a regular file" : strerror(error));
        return false;
    }
    JSON_Error error;
    ValuePtr root(json_parse_string_with_comments_report(json_file_text(file.get()), &error));
    if (!root) {
        log_line(LOGGER_CRITICAL, "Invalid json file\n");
        // The form compilers use, so an editor can jump to the place.
        log_line(LOGGER_NOTICE, "%s:%zu:%zu: %s\n", filename, error.line, error.column,
                 error.reason);
        return false;
    }
    const ConfigFile loaded{filename, file.get()};
    if (!json_value)
        return print_at_path(root.get(), json_path, loaded);
    return store_and_rewrite(root.get(), json_path, json_value, loaded);
}

// The step of `name` at which resolving it fails: its shortest leading part,
// cut at a slash, that does not resolve, and why. A link refused is named
// where the name given reaches it.
void explain_unresolved(const char *name, int error)
{
    char step[PATH_MAX], canonical[PATH_MAX];
    const size_t length = strlen(name);
    for (size_t end = 1; end <= length && end < sizeof step; end++) {
        if (end < length && name[end] != '/')
            continue;
        memcpy(step, name, end);
        step[end] = '\0';
        if (json_canonical_filename(step, canonical, sizeof canonical) != JSONSuccess) {
            log_line(LOGGER_NOTICE, "%s: stops at %s: %s\n", name, step, strerror(errno));
            return;
        }
    }
    log_line(LOGGER_NOTICE, "%s: %s\n", name, strerror(error));
}

// The canonical name comes from the library, which follows a symbolic link
// only where no other user can have planted it (EACCES otherwise).
bool serve(const Request &request)
{
    logger_glevel = request.threshold;
    char filename[PATH_MAX];
    const char *given = request.filename_as_given.get();
    if (json_canonical_filename(given, filename, sizeof filename) != JSONSuccess) {
        const int error = errno;
        log_line(LOGGER_CRITICAL, "Failed to get canonical filename: %s: %s\n", given,
                 strerror(error));
        if (logger_glevel >= LOGGER_NOTICE)
            explain_unresolved(given, error);
        return false;
    }
    return load_and_serve(filename, request.json_path, request.json_value);
}

// A descriptor among 0, 1 and 2 left closed by whoever started the tool
// would be the next one opened: the configuration file could become
// standard error and take a message. /dev/null fills each gap, opened for
// reading only so that output sent there still fails as it did when closed.
bool fill_closed_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lower ones are open, so the lowest free descriptor is this one.
        if (open("/dev/null", O_RDONLY | O_NOCTTY) != fd)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!fill_closed_standard_descriptors())
        return EXIT_FAILURE;
    const Request request = read_command_line(argc, argv);
    const bool succeeded = request.settled ? request.succeeded : serve(request);
    return succeeded ? EXIT_SUCCESS : EXIT_FAILURE;
}
