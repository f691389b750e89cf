// The interface's edits of a text: locations given as dotted paths or as
// pointers, and the file form, which edits a held file's text and replaces
// the same file.
#include "edit.h"
#include "parse_fault.h"
#include "pointer.h"
#include "value.h"

#include <cerrno>
#include <cstring>

using namespace jsontree::detail;

namespace {

// As long as the tool waits: a file's other writers hold its lock briefly.
constexpr int LOCK_WAIT_MS = 10000;

// One step more; a location deeper than a text can hold fails.
bool add_step(Steps &steps, std::string_view step, JSON_Error *error)
{
    if (steps.count == JSON_MAX_NESTING) {
        ReasonLine reason;
        reason.append("a location of more than ").number(JSON_MAX_NESTING).append(" steps");
        report_failure(reason.text(), error);
        return false;
    }
    steps.step[steps.count++] = step;
    return true;
}

// The segments of a dotted path, as the dotted tree calls split it.
bool dotted_steps(const char *path, Steps &steps, JSON_Error *error)
{
    for (const char *segment = path;;) {
        const char *dot = strchr(segment, '.');
        if (!add_step(steps, {segment, dot ? size_t(dot - segment) : strlen(segment)}, error))
            return false;
        if (!dot)
            return true;
        segment = dot + 1;
    }
}

// A pointer's tokens, decoded, each in a block of its own.
struct PointerSteps {
    Steps steps;
    TextPtr tokens[JSON_MAX_NESTING];
};

bool pointer_steps(const char *pointer, PointerSteps &read, JSON_Error *error)
{
    if (!is_pointer(pointer)) {
        report_failure("not a JSON Pointer: a \"/\" must open it, \"~\" be followed by 0 or 1",
                       error);
        return false;
    }
    for (std::string_view token : ReferenceTokens(pointer)) {
        if (read.steps.count == JSON_MAX_NESTING)
            return add_step(read.steps, token, error);
        TextPtr &decoded = read.tokens[read.steps.count];
        decoded.reset(decode_token(token));
        if (!decoded) {
            report_failure("out of memory", error);
            return false;
        }
        add_step(read.steps, decoded.get(), error);
    }
    return true;
}

JSON_Status pointer_add(JSON_Value *root, const char *pointer, JSON_Value *value)
{
    return json_pointer_add(root, pointer, value);
}

JSON_Status pointer_remove(JSON_Value *root, const char *pointer, JSON_Value *)
{
    return json_pointer_remove(root, pointer);
}

char *pointer_edit(const char *text, size_t length, const char *pointer, const Change &change,
                   size_t *new_length, JSON_Error *error)
{
    if (!pointer) {
        report_failure("no pointer", error);
        return nullptr;
    }
    PointerSteps read;
    return pointer_steps(pointer, read, error)
               ? edit_text(text, length, read.steps, change, new_length, error)
               : nullptr;
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

char *json_edit_pointer_set(const char *text, size_t length, const char *pointer,
                            const JSON_Value *value, size_t *new_length, JSON_Error *error)
{
    if (!value) {
        report_failure("no value", error);
        return nullptr;
    }
    Change change;
    change.value = value;
    change.through_arrays = true;
    change.apply = pointer_add;
    change.location = pointer;
    return pointer_edit(text, length, pointer, change, new_length, error);
}

char *json_edit_pointer_remove(const char *text, size_t length, const char *pointer,
                               size_t *new_length, JSON_Error *error)
{
    Change change;
    change.through_arrays = true;
    change.apply = pointer_remove;
    change.location = pointer;
    return pointer_edit(text, length, pointer, change, new_length, error);
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
