// configure_qrn: prints or changes one value inside a JSON configuration file.
//
// One request per run: with JSON_PATH alone the value found there is printed;
// with JSON_PATH and VALUE the value is stored and the whole file rewritten.
#include "jsontree.h"

#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

enum logger_level : unsigned {
    LOGGER_CRITICAL = 0,
    LOGGER_ERROR = 1,
    LOGGER_WARNING = 2,
    LOGGER_NOTICE = 3,
    LOGGER_INFO = 4,
    LOGGER_DEBUG = 5,
};

logger_level logger_glevel = LOGGER_DEBUG;

namespace {

constexpr const char DEFAULT_FILENAME[] = "/mnt/fsuser-1/qrn/etc/global_conf.json";
constexpr const char VERSION_LINE[] = "configure_qrn 3.1.0-zbt16\n";
constexpr const char USAGE_TEXT[] =
    "Usage: configure_qrn [OPTION...] JSON_PATH [VALUE]\n"
    "\n"
    "-f, --file FILE           Read this file instead of the default one.\n"
    "-v, --verbose             Turn on verbose output.\n"
    "                          This option can be used multiple times.\n"
    "    --version             Print version information and exit.\n"
    "-h, --help                Print this help message and exit.\n";

// The parser refuses values at this depth or deeper (the root is depth 0), so
// a store must never put anything there: the file could not be loaded again.
constexpr size_t UNLOADABLE_DEPTH = 20;

const struct option opts[] = {
    {"file", required_argument, nullptr, 'f'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 0},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

struct CFree {
    void operator()(char *text) const { free(text); }
};
using CString = std::unique_ptr<char, CFree>;

// A text argument as a log line shows it: bytes below 0x20 escaped (\n,
// \x01), so that no path or file name can end the line and forge another.
class LoggedText {
public:
    explicit LoggedText(const char *text) : text_(text ? text : "(null)")
    {
        size_t length = 0;
        bool needs_escapes = false;
        for (const char *byte = text_; *byte; byte++) {
            needs_escapes |= is_control(*byte);
            length += is_control(*byte) ? 4 : 1;
        }
        if (!needs_escapes)
            return;
        escaped_.reset(static_cast<char *>(malloc(length + 1)));
        if (!escaped_) {
            text_ = "(unprintable)";
            return;
        }
        char *out = escaped_.get();
        for (const char *byte = text_; *byte; byte++)
            out = append_shown(out, static_cast<unsigned char>(*byte));
        *out = '\0';
        text_ = escaped_.get();
    }
    const char *c_str() const { return text_; }

private:
    static bool is_control(char byte) { return static_cast<unsigned char>(byte) < 0x20; }

    static char *append_shown(char *out, unsigned char byte)
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

    const char *text_;
    CString escaped_;
};

// Every log line is one formatted write whose format starts with "<%u> ",
// the line's own level; its other arguments are texts.
template <typename... Args>
void log_line(logger_level level, const char *format, Args... args)
{
    if (logger_glevel >= level)
        fprintf(stderr, format, static_cast<unsigned>(level), LoggedText(args).c_str()...);
}

// What was printed must have reached standard output: a script reading it
// would take missing text for an empty value.
int flush_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return 0;
    log_line(LOGGER_ERROR, "<%u> Failed to write output: %s\n", strerror(errno));
    return 1;
}

struct ValueFree {
    void operator()(JSON_Value *value) const { json_value_free(value); }
};
using ValueOwner = std::unique_ptr<JSON_Value, ValueFree>;

struct SerializedFree {
    void operator()(char *text) const { json_free_serialized_string(text); }
};
using SerializedText = std::unique_ptr<char, SerializedFree>;

// ---- Reading

JSON_Value *json_value_dotget_value(JSON_Value *value, const char *name)
{
    if (json_type(value) != JSONObject) {
        log_line(LOGGER_ERROR, "<%u> Invalid value type\n");
        return nullptr;
    }
    JSON_Value *found = json_object_dotget_value(json_object(value), name);
    if (!found)
        log_line(LOGGER_ERROR, "<%u> Failed to get json value: %s\n", name);
    return found;
}

int json_value_print(JSON_Value *value)
{
    switch (json_type(value)) {
    case JSONNull:
        return 0;
    case JSONString:
        printf("%s\n", json_string(value));
        return 0;
    case JSONNumber:
        printf("%1.17g\n", json_number(value));
        return 0;
    case JSONObject:
    case JSONArray: {
        char *text = json_serialize_to_string(value);
        if (!text) {
            log_line(LOGGER_ERROR, "<%u> Failed to serialize json value\n");
            return 1;
        }
        printf("%s\n", text);
        json_free_serialized_string(text);
        return 0;
    }
    case JSONBoolean:
        printf("%s\n", json_boolean(value) ? "true" : "false");
        return 0;
    default:
        log_line(LOGGER_ERROR, "<%u> Invalid value type\n");
        return 1;
    }
}

int json_get_and_print(JSON_Value *value, const char *name)
{
    JSON_Value *found = json_value_dotget_value(value, name);
    return found && json_value_print(found) == 0 ? flush_output() : 1;
}

// ---- Writing

char *unquote_string(const char *string)
{
    char *copy;
    if (string[0] == '"') {
        // No escapes: the text ends at the next double quote, whatever
        // precedes it, or at the end of the argument.
        const char *start = string + 1;
        const char *closing = strchr(start, '"');
        copy = strndup(start, closing ? size_t(closing - start) : strlen(start));
    } else {
        copy = strdup(string);
    }
    if (!copy)
        log_line(LOGGER_ERROR, "<%u> Failed to duplicate string: %s\n", strerror(errno));
    return copy;
}

// Types VALUE by its shape: number, array or object, boolean, null, string.
JSON_Value *json_parse_value(const char *string)
{
    const char *rest = string;
    while (isspace(static_cast<unsigned char>(*rest)))
        rest++;

    char *number_end = nullptr;
    double number = strtod(rest, &number_end);
    if (number_end != rest && *number_end == '\0') {
        // inf, nan and overflowing numbers have no JSON text: storing one
        // would leave a file that can never be loaded again.
        JSON_Value *value = std::isfinite(number) ? json_value_init_number(number) : nullptr;
        if (!value)
            log_line(LOGGER_ERROR, "<%u> Failed to init json number\n");
        return value;
    }
    if (rest[0] == '[' || rest[0] == '{') {
        JSON_Value *value = json_parse_string(rest);
        if (!value)
            log_line(LOGGER_ERROR, "<%u> Failed to parse json string\n");
        return value;
    }
    if (strcmp(rest, "true") == 0 || strcmp(rest, "false") == 0) {
        JSON_Value *value = json_value_init_boolean(rest[0] == 't');
        if (!value)
            log_line(LOGGER_ERROR, "<%u> Failed to init json boolean\n");
        return value;
    }
    if (strcmp(rest, "null") == 0) {
        JSON_Value *value = json_value_init_null();
        if (!value)
            log_line(LOGGER_ERROR, "<%u> Failed to init json null\n");
        return value;
    }
    CString copy(unquote_string(rest));
    if (!copy)
        return nullptr;
    JSON_Value *value = json_value_init_string(copy.get());
    if (!value)
        log_line(LOGGER_ERROR, "<%u> Failed to init json string\n");
    return value;
}

// Depth of the deepest value inside `value`, `value` itself being depth 0.
// Values here come from the parser or a constructor, so recursion is bounded.
size_t nested_depth(const JSON_Value *value)
{
    size_t deepest = 0;
    if (const JSON_Object *object = json_object(value)) {
        for (size_t i = 0; i < json_object_get_count(object); i++) {
            const JSON_Value *member = json_object_get_value(object, json_object_get_name(object, i));
            size_t depth = 1 + nested_depth(member);
            deepest = depth > deepest ? depth : deepest;
        }
    } else if (const JSON_Array *array = json_array(value)) {
        for (size_t i = 0; i < json_array_get_count(array); i++) {
            size_t depth = 1 + nested_depth(json_array_get_value(array, i));
            deepest = depth > deepest ? depth : deepest;
        }
    }
    return deepest;
}

size_t path_segments(const char *name)
{
    size_t segments = 1;
    for (const char *dot = strchr(name, '.'); dot; dot = strchr(dot + 1, '.'))
        segments++;
    return segments;
}

int json_value_dotset_value(JSON_Value *value, const char *name, JSON_Value *val)
{
    if (json_type(value) != JSONObject) {
        log_line(LOGGER_ERROR, "<%u> Invalid value type\n");
        return 1;
    }
    bool loadable = path_segments(name) + nested_depth(val) < UNLOADABLE_DEPTH;
    if (!loadable || json_object_dotset_value(json_object(value), name, val) < 0) {
        log_line(LOGGER_ERROR, "<%u> Failed to set json value: %s\n", name);
        return 1;
    }
    return 0;
}

// The document was read from the file's text, and a rewrite from it must not
// drop more than comments and layout: text after the root, a string cut at
// \u0000, members hidden by the comment rules, or bytes past a NUL would go.
bool rewrite_keeps_everything(const JSON_File *file)
{
    const char *text = json_file_text(file);
    return json_verify_lossless_with_comments(text) == JSONSuccess &&
           strlen(text) == json_file_length(file);
}

int json_set_and_write(JSON_Value *value, const char *name, const char *string, JSON_File *file)
{
    ValueOwner new_value(json_parse_value(string));
    if (!new_value)
        return 1;
    if (json_value_dotset_value(value, name, new_value.get()) != 0)
        return 1;
    new_value.release();  // the document owns it now
    SerializedText text(json_serialize_to_string_pretty(value));
    if (text && !rewrite_keeps_everything(file)) {
        log_line(LOGGER_ERROR, "<%u> File holds text a rewrite would lose\n");
        return 1;
    }
    if (!text || json_file_replace(file, text.get()) != JSONSuccess) {
        log_line(LOGGER_ERROR, "<%u> Failed to serialize json value\n");
        return 1;
    }
    return 0;
}

// ---- The configuration file

// A store holds the file from its read to its replacement, under an exclusive
// lock, so two writers never rewrite from the same stale copy and the file
// replaced is the one read. Anyone who can read the file can hold a lock on
// it too, so a store waits for the lock only this long.
constexpr int LOCK_WAIT_MS = 10000;

struct FileCloser {
    void operator()(JSON_File *file) const { json_file_close(file); }
};
using HeldFile = std::unique_ptr<JSON_File, FileCloser>;

int load_and_serve(const char *filename, const char *json_path, const char *json_value,
                   ValueOwner &root)
{
    log_line(LOGGER_INFO, "<%u> Parsing file: %s\n", filename);
    HeldFile file(json_file_open(filename, json_value ? LOCK_WAIT_MS : -1));
    if (!file && json_value && errno == EWOULDBLOCK) {
        log_line(LOGGER_ERROR, "<%u> Failed to serialize json value\n");
        return 1;
    }
    root.reset(file ? json_parse_string_with_comments(json_file_text(file.get())) : nullptr);
    if (!root) {
        log_line(LOGGER_CRITICAL, "<%u> Invalid json file\n");
        return 1;
    }
    if (!json_value)
        return json_get_and_print(root.get(), json_path);
    return json_set_and_write(root.get(), json_path, json_value, file.get());
}

// Everything between start and clean-up; the owners release, in this order,
// the document, the canonical name and the given name on every way out.
int run(int argc, char **argv)
{
    CString linkname(strdup(DEFAULT_FILENAME));
    if (!linkname) {
        log_line(LOGGER_CRITICAL, "<%u> Failed to duplicate default filename: %s\n", strerror(errno));
        return 1;
    }
    CString filename;
    ValueOwner root;

    unsigned verbosity = LOGGER_WARNING;
    int opt;
    int iopt = 0;
    while ((opt = getopt_long(argc, argv, "f:vh", opts, &iopt)) != -1) {
        switch (opt) {
        case 'f':
            linkname.reset(strdup(optarg));
            if (!linkname) {
                log_line(LOGGER_CRITICAL, "<%u> Failed to duplicate filename: %s\n", strerror(errno));
                return 1;
            }
            break;
        case 'v':
            verbosity++;
            break;
        case 0:
            if (strcmp(opts[iopt].name, "version") == 0) {
                fputs(VERSION_LINE, stdout);
                return flush_output();
            }
            [[fallthrough]];
        default:
            fputs(USAGE_TEXT, stderr);
            return 1;
        }
    }

    const char *json_path = nullptr;
    const char *json_value = nullptr;
    switch (argc - optind) {
    case 0:
        fprintf(stderr, "%s: requires at least one argument\n", argv[0]);
        fputs(USAGE_TEXT, stderr);
        return 1;
    case 2:
        json_value = argv[optind + 1];
        [[fallthrough]];
    case 1:
        json_path = argv[optind];
        break;
    default:  // three or more: a read with no path, which finds nothing
        break;
    }

    logger_glevel = verbosity >= LOGGER_DEBUG ? LOGGER_DEBUG : static_cast<logger_level>(verbosity);

    filename.reset(realpath(linkname.get(), nullptr));
    if (!filename) {
        log_line(LOGGER_CRITICAL, "<%u> Failed to get canonical filename: %s: %s\n", linkname.get(),
                 strerror(errno));
        return 1;
    }

    return load_and_serve(filename.get(), json_path, json_value, root);
}

}  // namespace

int main(int argc, char **argv)
{
    return run(argc, argv);
}
