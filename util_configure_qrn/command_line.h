// The command line read into one run's request.
#ifndef CONFIGURE_QRN_COMMAND_LINE_H
#define CONFIGURE_QRN_COMMAND_LINE_H

#include "logger.h"
#include "owners.h"

// One run's request as the command line gives it, or, where the options or
// the argument count already settled the run, whether it succeeded.
struct Request {
    CString filename_as_given;         // by -f, or the default; not yet canonical
    const char *json_path = nullptr;   // null with three or more arguments
    const char *json_value = nullptr;  // null for a read
    logger_level threshold = LOGGER_WARNING;
    bool settled = false;
    bool succeeded = false;  // of a settled run
};

// Options and arguments; --version and --help are answered here.
Request read_command_line(int argc, char **argv);

#endif
