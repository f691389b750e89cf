#include "causes.h"

#include "logger.h"
#include "owners.h"

#include <cerrno>
#include <cstring>

namespace {

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

}  // namespace

size_t column_in_argument(size_t skipped, const JSON_Error &error)
{
    return (error.line == 1 ? skipped : 0) + error.column;
}

void explain_out_of_memory()
{
    log_line(LOGGER_NOTICE, "%s\n", strerror(ENOMEM));
}

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

void explain_stop(const char *name, const PathStop &stop)
{
    const int shown = int(stop.end);
    if (!stop.value)
        log_line(LOGGER_NOTICE, "%.*s: no such member\n", shown, name);
    else
        log_line(LOGGER_NOTICE, "%.*s is %s, not an object\n", shown, name,
                 type_phrase(stop.value));
}

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

void explain_unserializable()
{
    log_line(LOGGER_NOTICE,
             "No JSON text: a number in it has none (an infinity or not-a-number), "
             "or memory ran out\n");
}
