// configure_qrn: prints or changes one value inside a JSON configuration file.
//
// One request per run: with JSON_PATH alone the value found there is printed;
// with JSON_PATH and VALUE the value is stored and the whole file rewritten.
#include "jsontree.h"
#include "logger.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

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

// What was printed must have reached standard output: a script reading it
// would take missing text for an empty value.
int flush_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return 0;
    log_line(LOGGER_ERROR, "Failed to write output: %s\n", strerror(errno));
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

// Stands for the path in a run with three or more arguments, which has none.
constexpr const char NO_PATH[] = "(null)";

JSON_Value *json_value_dotget_value(JSON_Value *value, const char *name)
{
    if (json_type(value) != JSONObject) {
        log_line(LOGGER_ERROR, "Invalid value type\n");
        return nullptr;
    }
    JSON_Value *found = json_object_dotget_value(json_object(value), name);
    if (!found)
        log_line(LOGGER_ERROR, "Failed to get json value: %s\n", name ? name : NO_PATH);
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
        // A number no double holds is shown as the file has it.
        if (const char *literal = json_value_get_number_text(value))
            printf("%s\n", literal);
        else
            printf("%1.17g\n", json_number(value));
        return 0;
    case JSONObject:
    case JSONArray: {
        char *text = json_serialize_to_string(value);
        if (!text) {
            log_line(LOGGER_ERROR, "Failed to serialize json value\n");
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
        log_line(LOGGER_ERROR, "Invalid value type\n");
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
        log_line(LOGGER_ERROR, "Failed to duplicate string: %s\n", strerror(errno));
    return copy;
}

// What VALUE holds, told by its shape alone.
enum class ValueShape {
    number,
    container,
    boolean,
    null,
    string
};

// Why a value of each shape could not be made, in the order of ValueShape.
constexpr const char *BUILD_FAILURES[] = {
    "Failed to init json number\n",  "Failed to parse json string\n",
    "Failed to init json boolean\n", "Failed to init json null\n",
    "Failed to init json string\n",
};
static_assert(std::size(BUILD_FAILURES) == static_cast<size_t>(ValueShape::string) + 1);

ValueShape classify_value(const char *text)
{
    char *number_end = nullptr;
    strtod(text, &number_end);
    if (number_end != text && *number_end == '\0')
        return ValueShape::number;
    if (text[0] == '[' || text[0] == '{')
        return ValueShape::container;
    if (strcmp(text, "true") == 0 || strcmp(text, "false") == 0)
        return ValueShape::boolean;
    if (strcmp(text, "null") == 0)
        return ValueShape::null;
    return ValueShape::string;
}

// A whole number beyond the integers a double holds exactly would be stored
// as another number (12345678901234567890 as ...168).
bool rounds_a_whole_number(const char *text, double number)
{
    constexpr double EXACT_INTEGERS_BELOW = 0x1p53;
    const char *digits = text + (*text == '+' || *text == '-');
    double magnitude = std::fabs(number);
    if (magnitude < EXACT_INTEGERS_BELOW)
        return false;
    if ((digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) &&
        digits[2 + strspn(digits + 2, "0123456789abcdefABCDEF")] == '\0') {
        errno = 0;
        unsigned long long whole = strtoull(digits + 2, nullptr, 16);
        return errno == ERANGE || magnitude >= 0x1p64 ||
               static_cast<unsigned long long>(magnitude) != whole;
    }
    if (digits[strspn(digits, "0123456789")] != '\0')
        return false;  // a fraction or an exponent: not a whole-number text
    digits += strspn(digits, "0");
    // "%.0f" prints every digit of a whole double.
    char exact[DBL_MAX_10_EXP + 2];
    snprintf(exact, sizeof exact, "%.0f", magnitude);
    return strcmp(exact, digits) != 0;
}

// `text` is the string's own text when the shape is a string.
JSON_Value *build_value(ValueShape shape, const char *text)
{
    switch (shape) {
    case ValueShape::number: {
        // inf, nan and overflowing numbers have no JSON text: storing one
        // would leave a file that can never be loaded again. A non-zero
        // number too small for a double, or a whole number it only rounds,
        // would be stored as another number.
        errno = 0;
        double number = strtod(text, nullptr);
        bool underflowed_to_zero = number == 0 && errno == ERANGE;
        bool held =
            std::isfinite(number) && !underflowed_to_zero && !rounds_a_whole_number(text, number);
        return held ? json_value_init_number(number) : nullptr;
    }
    case ValueShape::container:
        return json_parse_string(text);
    case ValueShape::boolean:
        return json_value_init_boolean(text[0] == 't');
    case ValueShape::null:
        return json_value_init_null();
    case ValueShape::string:
        return json_value_init_string(text);
    }
    return nullptr;
}

// Types VALUE by its shape: number, array or object, boolean, null, string.
JSON_Value *json_parse_value(const char *string)
{
    const char *rest = string;
    while (isspace(static_cast<unsigned char>(*rest)))
        rest++;
    const ValueShape shape = classify_value(rest);
    CString unquoted(shape == ValueShape::string ? unquote_string(rest) : nullptr);
    if (shape == ValueShape::string && !unquoted)
        return nullptr;  // unquote_string has said why
    JSON_Value *value = build_value(shape, unquoted ? unquoted.get() : rest);
    if (!value)
        log_line(LOGGER_ERROR, "%s", BUILD_FAILURES[static_cast<int>(shape)]);
    return value;
}

// Depth of the deepest value inside `value`, `value` itself being depth 0.
// Values here come from the parser or a constructor, so recursion is bounded.
size_t nested_depth(const JSON_Value *value)
{
    size_t deepest = 0;
    if (const JSON_Object *object = json_object(value)) {
        for (size_t i = 0; i < json_object_get_count(object); i++) {
            const JSON_Value *member =
                json_object_get_value(object, json_object_get_name(object, i));
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
        log_line(LOGGER_ERROR, "Invalid value type\n");
        return 1;
    }
    // Nothing may be stored deeper than the parser reads: the file could not
    // be loaded again.
    bool loadable = path_segments(name) + nested_depth(val) <= JSON_MAX_NESTING;
    if (!loadable || json_object_dotset_value(json_object(value), name, val) < 0) {
        log_line(LOGGER_ERROR, "Failed to set json value: %s\n", name);
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
        log_line(LOGGER_ERROR, "File holds text a rewrite would lose\n");
        return 1;
    }
    if (!text || json_file_replace(file, text.get()) != JSONSuccess) {
        log_line(LOGGER_ERROR, "Failed to serialize json value\n");
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
    log_line(LOGGER_INFO, "Parsing file: %s\n", filename);
    HeldFile file(json_file_open(filename, json_value ? LOCK_WAIT_MS : -1));
    if (!file && json_value && errno == EWOULDBLOCK) {
        log_line(LOGGER_ERROR, "Failed to serialize json value\n");
        return 1;
    }
    root.reset(file ? json_parse_string_with_comments(json_file_text(file.get())) : nullptr);
    if (!root) {
        log_line(LOGGER_CRITICAL, "Invalid json file\n");
        return 1;
    }
    if (!json_value)
        return json_get_and_print(root.get(), json_path);
    return json_set_and_write(root.get(), json_path, json_value, file.get());
}

// One run's request as the command line gives it, or, where the options or
// the argument count already settled the run, its exit status.
struct Request {
    CString linkname;                  // the file as named, before canonicalisation
    const char *json_path = nullptr;   // null with three or more arguments
    const char *json_value = nullptr;  // null for a read
    logger_level threshold = LOGGER_WARNING;
    bool settled = false;
    int status = 1;  // of a settled run
};

// False when an option settles the run: --version, --help, an unknown
// option, or a file name that cannot be copied.
bool read_options(int argc, char **argv, Request &request)
{
    request.linkname.reset(strdup(DEFAULT_FILENAME));
    if (!request.linkname) {
        log_line(LOGGER_CRITICAL, "Failed to duplicate default filename: %s\n", strerror(errno));
        return false;
    }
    unsigned verbosity = LOGGER_WARNING;
    int opt;
    int iopt = 0;
    while ((opt = getopt_long(argc, argv, "f:vh", opts, &iopt)) != -1) {
        switch (opt) {
        case 'f':
            request.linkname.reset(strdup(optarg));
            if (!request.linkname) {
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
                request.status = flush_output();
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

Request read_command_line(int argc, char **argv)
{
    Request request;
    request.settled = !read_options(argc, argv, request) ||
                      !take_arguments(argc - optind, argv + optind, argv[0], request);
    return request;
}

// The canonical name comes from the library, which follows a symbolic link
// only where no other user can have planted it (EACCES otherwise). The
// document is released on every way out, then (by the caller) the given name.
int serve(const Request &request)
{
    logger_glevel = request.threshold;
    char filename[PATH_MAX];
    if (json_canonical_filename(request.linkname.get(), filename, sizeof filename) != JSONSuccess) {
        log_line(LOGGER_CRITICAL, "Failed to get canonical filename: %s: %s\n",
                 request.linkname.get(), strerror(errno));
        return 1;
    }
    ValueOwner root;
    return load_and_serve(filename, request.json_path, request.json_value, root);
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
        return 1;
    const Request request = read_command_line(argc, argv);
    return request.settled ? request.status : serve(request);
}
