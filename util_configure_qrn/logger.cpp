#include "logger.h"

#include "owners.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

logger_level logger_glevel = LOGGER_DEBUG;

namespace {

// The length of the UTF-8 sequence at `bytes` (ending at `end`) and its
// code point; 0 when no valid sequence starts there.
int utf8_sequence(const unsigned char *bytes, const unsigned char *end, unsigned &code_point)
{
    // Lead bytes and the range their second byte must fall in, which keeps
    // out overlong forms, surrogates and code points past U+10FFFF.
    struct Lead {
        unsigned char first, last, length, low, high;
    };
    static constexpr Lead LEADS[] = {{0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
                                     {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
                                     {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
                                     {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F}};
    for (const Lead &lead : LEADS) {
        if (bytes[0] < lead.first || bytes[0] > lead.last || end - bytes < lead.length ||
            bytes[1] < lead.low || bytes[1] > lead.high)
            continue;
        code_point = bytes[0] & (0x7F >> lead.length);
        for (int i = 1; i < lead.length; i++) {
            if ((bytes[i] & 0xC0) != 0x80)
                return 0;
            code_point = code_point << 6 | (bytes[i] & 0x3F);
        }
        return lead.length;
    }
    return 0;
}

// Characters a terminal may act on or show as a line break: C1 controls
// (0x9B starts a control sequence as ESC [ does) and the line and paragraph
// separators.
bool acts_on_terminal(unsigned code_point)
{
    return (code_point >= 0x80 && code_point <= 0x9F) || code_point == 0x2028 ||
           code_point == 0x2029;
}

// `byte` escaped: \n, \t, \r, \\ for a backslash, else \xHH.
char *append_escaped(char *out, unsigned char byte)
{
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    *out++ = '\\';
    if (byte == '\n' || byte == '\t' || byte == '\r' || byte == '\\') {
        *out++ = byte == '\n' ? 'n' : byte == '\t' ? 't' : byte == '\r' ? 'r' : '\\';
        return out;
    }
    *out++ = 'x';
    *out++ = HEX_DIGITS[byte >> 4];
    *out++ = HEX_DIGITS[byte & 0x0F];
    return out;
}

// The bytes from `bytes` to `end` as a log line shows them: printable ASCII
// and valid UTF-8 as they are, but for the characters a terminal acts on;
// control bytes, DEL, a backslash and any byte of an invalid or acting
// sequence escaped, one byte at a time. With the backslash escaped too, each
// shown line stands for one text only.
char *append_shown(char *out, const unsigned char *bytes, const unsigned char *end)
{
    while (bytes < end) {
        unsigned code_point = 0;
        int length = bytes[0] >= 0x80 ? utf8_sequence(bytes, end, code_point) : 1;
        bool plain = bytes[0] >= 0x80 ? length > 0 && !acts_on_terminal(code_point)
                                      : bytes[0] >= 0x20 && bytes[0] != 0x7F && bytes[0] != '\\';
        if (!plain) {
            for (int i = 0; i < (length > 0 ? length : 1); i++)
                out = append_escaped(out, *bytes++);
            continue;
        }
        memcpy(out, bytes, size_t(length));
        out += length;
        bytes += length;
    }
    return out;
}

// The text `format` and `args` make, shown escaped but a final line feed; null when there is no memory for it.
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
    auto *bytes = reinterpret_cast<const unsigned char *>(text);
    out = append_shown(out, bytes, bytes + length - ends_line);
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
