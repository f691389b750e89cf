#include "read.h"

#include "logger.h"
#include "owners.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool flush_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    log_line(LOGGER_ERROR, "Failed to write output: %s\n", strerror(errno));
    return false;
}

namespace {

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
    else if (find_lost_text(file, lost) && lost.line != 0)
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

}  // namespace

bool print_at_path(JSON_Value *root, const char *name, const ConfigFile &file)
{
    JSON_Value *found = find_at_path(root, name, file);
    return found && print_value(found) && flush_output();
}
