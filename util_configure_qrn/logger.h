// The tool's log lines on standard error.
#ifndef CONFIGURE_QRN_LOGGER_H
#define CONFIGURE_QRN_LOGGER_H

enum logger_level : unsigned {
    LOGGER_CRITICAL = 0,
    LOGGER_ERROR = 1,
    LOGGER_WARNING = 2,
    LOGGER_NOTICE = 3,
    LOGGER_INFO = 4,
    LOGGER_DEBUG = 5,
};

// The threshold: a line is written only when this is at least its level.
extern logger_level logger_glevel;

// One line on standard error, its level first as "<level> ", written only
// when the threshold lets that level through. Control bytes, C1 controls,
// line separators and backslashes that arguments bring in are escaped, so
// that no path or file name can end the line, forge another, drive the
// terminal or pass for another name.
[[gnu::format(printf, 2, 3)]] void log_line(logger_level level, const char *format, ...);

#endif
