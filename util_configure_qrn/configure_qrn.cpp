// configure_qrn: prints or changes one value inside a JSON configuration file.
//
// One request per run: with JSON_PATH alone the value found there is printed;
// with JSON_PATH and VALUE the value is stored and the whole file rewritten.
#include "jsontree.h"
#include "logger.h"
#include "owners.h"

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
bool flush_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    log_line(LOGGER_ERROR, "Failed to write output: %s\n", strerror(errno));
    return false;
}

// ---- Causes: after a failure's own line, one line at LOGGER_NOTICE (shown
// from one -v on) says why, so an operator never mends the wrong thing.

// The column in VALUE or JSON_PATH of a fault the library placed in the
// part of it that begins `skipped` bytes in (white space and a quotation
// mark, a column each); in a VALUE of several lines, the column in its line.
size_t column_in_argument(size_t skipped, const JSON_Error &error)
{
    return (error.line == 1 ? skipped : 0) + error.column;
}

const char *type_phrase(const JSON_Value *value)
{
    switch (json_type(value)) {
    case JSONNull:
        return "null";
    case JSONString:
        return "a string";
    case JSONNumber:
        return "a number";
    case JSONObject:
        return "an object";
    case JSONArray:
        return "an array";
    case JSONBoolean:
        return "a boolean";
    default:
        return "of no known type";
    }
}

void explain_out_of_memory()
{
    log_line(LOGGER_NOTICE, "%s\n", strerror(ENOMEM));
}

// Where a dotted path stops in an object: the segment from `start` to `end`
// (offsets in the path), looked up in `parent`, holds `value` (null when it
// is missing). A walk stops at the first segment that is missing or, before
// the last, holds no object; else at the last.
struct PathStop {
    size_t start = 0;
    size_t end = 0;
    const JSON_Object *parent = nullptr;
    const JSON_Value *value = nullptr;
};

// Walks `name` as a dotted lookup does; false when there is no memory for it.
bool walk_path(const JSON_Object *root, const char *name, PathStop &stop)
{
    CString path(strdup(name));
    if (!path)
        return false;
    const JSON_Object *object = root;
    for (char *segment = path.get();;) {
        char *dot = strchr(segment, '.');
        if (dot)
            *dot = '\0';
        stop.start = size_t(segment - path.get());
        stop.end = stop.start + strlen(segment);
        stop.parent = object;
        stop.value = json_object_get_value(object, segment);
        if (!dot || json_type(stop.value) != JSONObject)
            return true;
        object = json_object(stop.value);
        segment = dot + 1;
    }
}

// The stop of a walk that found nothing, or that a store cannot pass.
void explain_stop(const char *name, const PathStop &stop)
{
    const int shown = int(stop.end);
    if (!stop.value)
        log_line(LOGGER_NOTICE, "%.*s: no such member\n", shown, name);
    else
        log_line(LOGGER_NOTICE, "%.*s is %s, not an object\n", shown, name,
                 type_phrase(stop.value));
}

// The configuration file as loaded: its canonical name and the file held.
struct ConfigFile {
    const char *name;
    JSON_File *held;
};

// Where the first text that the document read leaves out begins (hidden by
// the comment rules, after the root, cut at \u0000 or at a NUL byte); false
// when it holds all of the file.
bool find_lost_text(const ConfigFile &file, JSON_Error &lost)
{
    return json_verify_lossless_with_comments_report(
               json_file_text(file.held), json_file_length(file.held), &lost) != JSONSuccess;
}

bool root_is_object(const JSON_Value *root)
{
    if (json_type(root) == JSONObject)
        return true;
    log_line(LOGGER_ERROR, "Invalid value type\n");
    log_line(LOGGER_NOTICE, "The document's root is %s, not an object\n", type_phrase(root));
    return false;
}

// ---- Reading

// Stands for the path in a run with three or more arguments, which has none.
constexpr const char NO_PATH[] = "(null)";

// Why nothing was found at `name`, and whether text the document left out
// might have held it.
void explain_missing(const JSON_Value *root, const char *name, const ConfigFile &file)
{
    PathStop stop;
    JSON_Error lost;
    if (!name)
        log_line(LOGGER_NOTICE, "No path: three or more arguments were given\n");
    else if (!walk_path(json_object(root), name, stop))
        explain_out_of_memory();
    else if (find_lost_text(file, lost))
        log_line(LOGGER_NOTICE, "%.*s: %s; %s:%zu:%zu: %s\n", int(stop.end), name,
                 stop.value ? "not an object" : "no such member", file.name, lost.line, lost.column,
                 lost.reason);
    else
        explain_stop(name, stop);
}

JSON_Value *find_at_path(JSON_Value *root, const char *name, const ConfigFile &file)
{
    if (!root_is_object(root))
        return nullptr;
    JSON_Value *found = json_object_dotget_value(json_object(root), name);
    if (!found) {
        log_line(LOGGER_ERROR, "Failed to get json value: %s\n", name ? name : NO_PATH);
        explain_missing(root, name, file);
    }
    return found;
}

void explain_unserializable()
{
    log_line(LOGGER_NOTICE,
             "No JSON text: a number in it has none (an infinity or not-a-number), "
             "or memory ran out\n");
}

bool print_value(JSON_Value *value)
{
    switch (json_type(value)) {
    case JSONNull:
        return true;
    case JSONString:
        printf("%s\n", json_string(value));
        return true;
    case JSONNumber:
        // A number no double holds is shown as the file has it.
        if (const char *literal = json_value_get_number_text(value))
            printf("%s\n", literal);
        else
            printf("%1.17g\n", json_number(value));
        return true;
    case JSONObject:
    case JSONArray: {
        TextPtr text(json_serialize_to_string(value));
        if (!text) {
            log_line(LOGGER_ERROR, "Failed to serialize json value\n");
            explain_unserializable();
            return false;
        }
        printf("%s\n", text.get());
        return true;
    }
    case JSONBoolean:
        printf("%s\n", json_boolean(value) ? "true" : "false");
        return true;
    default:
        log_line(LOGGER_ERROR, "Invalid value type\n");
        return false;
    }
}

bool print_at_path(JSON_Value *root, const char *name, const ConfigFile &file)
{
    JSON_Value *found = find_at_path(root, name, file);
    return found && print_value(found) && flush_output();
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

// Why the number `text` cannot be stored, or null when it can. inf, nan and
// overflowing numbers have no JSON text: storing one would leave a file that
// can never be loaded again. A non-zero number too small for a double, or a
// whole number it only rounds, would be stored as another number.
const char *number_refusal(const char *text, double &number)
{
    errno = 0;
    number = strtod(text, nullptr);
    if (!std::isfinite(number))
        return "is not a finite number: JSON has no text for it";
    if (number == 0 && errno == ERANGE)
        return "is too small for a double: it would be stored as 0";
    if (rounds_a_whole_number(text, number))
        return "is a whole number a double holds only rounded";
    return nullptr;
}

// `text` is the string's own text when the shape is a string.
JSON_Value *build_value(ValueShape shape, const char *text)
{
    switch (shape) {
    case ValueShape::number: {
        double number;
        return number_refusal(text, number) ? nullptr : json_value_init_number(number);
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

// Why the array or object text `text`, `text_start` bytes into VALUE, does
// not parse, as the parser reports it.
void explain_unparsed(const char *text, size_t text_start)
{
    JSON_Error error;
    ValuePtr parsed(json_parse_string_report(text, &error));
    if (error.line == 0)  // no place: memory ran out
        log_line(LOGGER_NOTICE, "VALUE: %s\n", error.reason);
    else
        log_line(LOGGER_NOTICE, "VALUE is not acceptable JSON at column %zu: %s\n",
                 column_in_argument(text_start, error), error.reason);
}

// Why a value of `shape` could not be made from `text`, which begins
// `text_start` bytes into VALUE.
void explain_unbuilt(ValueShape shape, const char *text, size_t text_start)
{
    if (shape == ValueShape::container)
        return explain_unparsed(text, text_start);
    double number;
    const char *refusal = shape == ValueShape::number ? number_refusal(text, number) : nullptr;
    JSON_Error error;
    if (refusal)
        log_line(LOGGER_NOTICE, "VALUE %s %s\n", text, refusal);
    else if (shape == ValueShape::string && json_verify_utf8_report(text, &error) != JSONSuccess)
        log_line(LOGGER_NOTICE, "VALUE is not valid UTF-8 at column %zu\n",
                 column_in_argument(text_start, error));
    else
        explain_out_of_memory();
}

// Types VALUE by its shape: number, array or object, boolean, null, string.
JSON_Value *value_from_argument(const char *argument)
{
    const char *rest = argument;
    while (isspace(static_cast<unsigned char>(*rest)))
        rest++;
    const ValueShape shape = classify_value(rest);
    CString unquoted(shape == ValueShape::string ? unquote_string(rest) : nullptr);
    if (shape == ValueShape::string && !unquoted)
        return nullptr;  // unquote_string has said why
    JSON_Value *value = build_value(shape, unquoted ? unquoted.get() : rest);
    if (!value) {
        log_line(LOGGER_ERROR, "%s", BUILD_FAILURES[static_cast<int>(shape)]);
        // The string's text begins after the opening quote, if any.
        size_t text_start = size_t(rest - argument) + (unquoted && rest[0] == '"');
        explain_unbuilt(shape, unquoted ? unquoted.get() : rest, text_start);
    }
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

// Why a store at `name` in `root` failed: a path that is not UTF-8, a
// member on the way that holds no object, an object with no room for
// another member, or no memory.
void explain_refused_store(const JSON_Value *root, const char *name)
{
    JSON_Error error;
    PathStop stop;
    if (json_verify_utf8_report(name, &error) != JSONSuccess) {
        log_line(LOGGER_NOTICE, "JSON_PATH is not valid UTF-8 at column %zu\n",
                 column_in_argument(0, error));
    } else if (!walk_path(json_object(root), name, stop)) {
        explain_out_of_memory();
    } else if (stop.value && name[stop.end] != '\0') {
        explain_stop(name, stop);
    } else if (!stop.value && json_object_get_count(stop.parent) >= JSON_MAX_MEMBERS) {
        // The parent's own path ends before the dot that opens this segment.
        const int parent_end = stop.start > 0 ? int(stop.start) - 1 : 0;
        log_line(LOGGER_NOTICE, "%.*s%s holds %d members, the most an object holds\n", parent_end,
                 name, stop.start > 0 ? "" : "The root object", JSON_MAX_MEMBERS);
    } else {
        explain_out_of_memory();
    }
}

bool store_at_path(JSON_Value *root, const char *name, JSON_Value *stored)
{
    if (!root_is_object(root))
        return false;
    // Nothing may be stored deeper than the parser reads: the file could not
    // be loaded again.
    const size_t depth = path_segments(name) + nested_depth(stored);
    if (depth > JSON_MAX_NESTING) {
        log_line(LOGGER_ERROR, "Failed to set json value: %s\n", name);
        log_line(LOGGER_NOTICE, "The value would nest %zu levels deep; a file holds at most %d\n",
                 depth, JSON_MAX_NESTING);
        return false;
    }
    if (json_object_dotset_value(json_object(root), name, stored) != JSONSuccess) {
        log_line(LOGGER_ERROR, "Failed to set json value: %s\n", name);
        explain_refused_store(root, name);
        return false;
    }
    return true;
}

// Which step of a failed replacement went wrong. After a failure the
// handle holds the new text only when that text took the name.
void explain_failed_replace(const ConfigFile &file, const char *text)
{
    const int error = errno;
    if (error == ESTALE)
        log_line(LOGGER_NOTICE, "%s: another file took the name during the store\n", file.name);
    else if (strcmp(json_file_text(file.held), text) == 0)
        log_line(LOGGER_NOTICE,
                 "%s: the new text is in place, but syncing its directory failed: %s\n", file.name,
                 strerror(error));
    else
        log_line(LOGGER_NOTICE, "%s: writing the new text failed: %s\n", file.name,
                 strerror(error));
}

bool store_and_rewrite(JSON_Value *root, const char *name, const char *argument,
                       const ConfigFile &file)
{
    ValuePtr stored(value_from_argument(argument));
    if (!stored || !store_at_path(root, name, stored.get()))
        return false;
    stored.release();  // the document owns it now
    TextPtr text(json_serialize_to_string_pretty(root));
    // The document was read from the file's text, and a rewrite from it must
    // not drop more than comments and layout.
    JSON_Error lost;
    if (text && find_lost_text(file, lost)) {
        log_line(LOGGER_ERROR, "File holds text a rewrite would lose\n");
        log_line(LOGGER_NOTICE, "%s:%zu:%zu: %s\n", file.name, lost.line, lost.column, lost.reason);
        return false;
    }
    if (!text || json_file_replace(file.held, text.get()) != JSONSuccess) {
        log_line(LOGGER_ERROR, "Failed to serialize json value\n");
        if (text)
            explain_failed_replace(file, text.get());
        else
            explain_unserializable();
        return false;
    }
    return true;
}

// ---- The configuration file

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

Request read_command_line(int argc, char **argv)
{
    Request request;
    request.settled = !read_options(argc, argv, request) ||
                      !take_arguments(argc - optind, argv + optind, argv[0], request);
    return request;
}

// The canonical name comes from the library, which follows a symbolic link
// only where no other user can have planted it (EACCES otherwise).
bool serve(const Request &request)
{
    logger_glevel = request.threshold;
    char filename[PATH_MAX];
    if (json_canonical_filename(request.filename_as_given.get(), filename, sizeof filename) !=
        JSONSuccess) {
        log_line(LOGGER_CRITICAL, "Failed to get canonical filename: %s: %s\n",
                 request.filename_as_given.get(), strerror(errno));
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
