#include "command_line.h"

#include "read.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char DEFAULT_FILENAME[] = "/mnt/fsuser-1/qrn/etc/global_conf.json";
constexpr const char VERSION_LINE[] = "configure_qrn " CONFIGURE_QRN_VERSION "\n";
constexpr const char USAGE_TEXT[] =
    "Usage: configure_qrn [OPTION...] JSON_PATH [VALUE]\n"
    "\n"
    "-f, --file FILE           Read this file instead of the default one.\n"
    "-v, --verbose             Turn on verbose output.\n"
    "                          This option can be used multiple times.\n"
    "    --version             Print version information and exit.\n"
    "-h, --help                Print this help message and exit.\n";

const struct option opts[] = {
    {"file", required_argument, nullptr, 'f'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 0},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// False when an option settles the run: --version, --help, an unknown
// option, or a file name that cannot be copied.
bool read_options(int argc, char **argv, Request &request)
{
    request.filename_as_given.reset(strdup(DEFAULT_FILENAME));
    if (!request.filename_as_given) {
        log_line(LOGGER_CRITICAL, "Failed to duplicate default filename: %s\n", strerror(errno));
        return false;
    }
    unsigned verbosity = LOGGER_WARNING;
    int opt;
    int iopt = 0;
    while ((opt = getopt_long(argc, argv, "f:vh", opts, &iopt)) != -1) {
        switch (opt) {
        case 'f':
            request.filename_as_given.reset(strdup(optarg));
            if (!request.filename_as_given) {
                log_line(LOGGER_CRITICAL, "Failed to duplicate filename: %s\n", strerror(errno));
                return false;
            }
            break;
        case 'v':
            verbosity++;
            break;
        case 0:
            if (strcmp(opts[iopt].name, "version") == 0) {
                fputs(VERSION_LINE, stdout);
                request.succeeded = flush_output();
                return false;
            }
            [[fallthrough]];
        default:
            fputs(USAGE_TEXT, stderr);
            return false;
        }
    }
    request.threshold =
        verbosity >= LOGGER_DEBUG ? LOGGER_DEBUG : static_cast<logger_level>(verbosity);
    return true;
}

// False when there is no positional argument at all.
bool take_arguments(int count, char **arguments, const char *program, Request &request)
{
    switch (count) {
    case 0:
        fprintf(stderr, "%s: requires at least one argument\n", program);
        fputs(USAGE_TEXT, stderr);
        return false;
    case 2:
        request.json_value = arguments[1];
        [[fallthrough]];
    case 1:
        request.json_path = arguments[0];
        return true;
    default:  // three or more: a read with no path, which finds nothing
        return true;
    }
}

}  // namespace

Request read_command_line(int argc, char **argv)
{
    Request request;
    request.settled = !read_options(argc, argv, request) ||
                      !take_arguments(argc - optind, argv + optind, argv[0], request);
    return request;
}
