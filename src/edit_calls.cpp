// The interface's edits of a text: locations given as dotted paths, and the
// file form, which edits a held file's text and replaces the same file.
#include "edit.h"
#include "parse_fault.h"
#include "value.h"

#include <cerrno>
#include <cstring>

using namespace jsontree::detail;

namespace {

// As long as the tool waits: a file's other writers hold its lock briefly.
constexpr int LOCK_WAIT_MS = 10000;

// The segments of a dotted path, as the dotted tree calls split it.
bool dotted_steps(const char *path, Steps &steps, JSON_Error *error)
{
    for (const char *segment = path;;) {
        if (steps.count == JSON_MAX_NESTING) {
            ReasonLine reason;
            reason.append("a path of more than ").number(JSON_MAX_NESTING).append(" segments");
            report_failure(reason.text(), error);
            return false;
        }
        const char *dot = strchr(segment, '.');
        steps.step[steps.count++] = {segment, dot ? size_t(dot - segment) : strlen(segment)};
        if (!dot)
            return true;
        segment = dot + 1;
    }
}

JSON_Status dotted_set(JSON_Value *root, const char *path, JSON_Value *value)
{
    return json_object_dotset_value(json_value_get_object(root), path, value);
}

JSON_Status dotted_remove(JSON_Value *root, const char *path, JSON_Value *)
{
    return json_object_dotremove(json_value_get_object(root), path);
}

char *dotted_edit(const char *text, size_t length, const char *path, const Change &change,
                  size_t *new_length, JSON_Error *error)
{
    if (!path) {
        report_failure("no path", error);
        return nullptr;
    }
    Steps steps;
    return dotted_steps(path, steps, error)
               ? edit_text(text, length, steps, change, new_length, error)
               : nullptr;
}

}  // namespace

char *json_edit_dotset(const char *text, size_t length, const char *path, const JSON_Value *value,
                       size_t *new_length, JSON_Error *error)
{
    if (!value) {
        report_failure("no value", error);
        return nullptr;
    }
    Change change;
    change.value = value;
    change.makes_objects = true;
    change.apply = dotted_set;
    change.location = path;
    return dotted_edit(text, length, path, change, new_length, error);
}

char *json_edit_dotremove(const char *text, size_t length, const char *path, size_t *new_length,
                          JSON_Error *error)
{
    Change change;
    change.apply = dotted_remove;
    change.location = path;
    return dotted_edit(text, length, path, change, new_length, error);
}

JSON_Status json_edit_file_dotset(const char *filename, const char *path, const JSON_Value *value,
                                  JSON_Error *error)
{
    if (!filename || !path || !value) {
        report_failure(!filename ? "no file name" : !path ? "no path" : "no value", error);
        errno = EINVAL;
        return JSONFailure;
    }
    HeldFile file(json_file_open(filename, LOCK_WAIT_MS));
    TextPtr edited(file ? json_edit_dotset(json_file_text(file.get()), json_file_length(file.get()),
                                           path, value, nullptr, error)
                        : nullptr);
    if (file && !edited)
        return JSONFailure;
    if (!file || json_file_replace(file.get(), edited.get()) != JSONSuccess) {
        const int cause = errno;
        report_failure(strerror(cause), error);
        errno = cause;
        return JSONFailure;
    }
    return JSONSuccess;
}
