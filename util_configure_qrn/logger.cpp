#include "logger.h"

#include "owners.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

logger_level logger_glevel = LOGGER_DEBUG;

namespace {

// `byte` as a log line shows it: control bytes escaped (\n, \x01).
char *append_shown(char *out, unsigned char byte)
{
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    if (byte >= 0x20) {
        *out++ = static_cast<char>(byte);
    } else if (byte == '\n' || byte == '\t' || byte == '\r') {
        *out++ = '\\';
        *out++ = byte == '\n' ? 'n' : byte == '\t' ? 't' : 'r';
    } else {
        *out++ = '\\';
        *out++ = 'x';
        *out++ = HEX_DIGITS[byte >> 4];
        *out++ = HEX_DIGITS[byte & 0x0F];
    }
    return out;
}

// The text `format` and `args` make, control bytes escaped but a final line
// feed; null when there is no memory for it.
CString shown_line(const char *format, va_list args)
{
    va_list measuring;
    va_copy(measuring, args);
    const int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0)
        return nullptr;
    // The formatted text, then its escaped form, at most 4 bytes a byte.
    CString block(static_cast<char *>(malloc(5 * size_t(length) + 2)));
    if (!block)
        return nullptr;
    char *text = block.get();
    vsnprintf(text, size_t(length) + 1, format, args);
    const bool ends_line = length > 0 && text[length - 1] == '\n';
    char *shown = text + length + 1;
    char *out = shown;
    for (const char *byte = text; byte < text + length - ends_line; byte++)
        out = append_shown(out, static_cast<unsigned char>(*byte));
    if (ends_line)
        *out++ = '\n';
    *out = '\0';
    memmove(text, shown, size_t(out - shown) + 1);
    return block;
}

}  // namespace

void log_line(logger_level level, const char *format, ...)
{
    if (logger_glevel < level)
        return;
    va_list args;
    va_start(args, format);
    CString line = shown_line(format, args);
    va_end(args);
    fprintf(stderr, "<%u> %s", static_cast<unsigned>(level), line ? line.get() : "(unprintable)\n");
}
