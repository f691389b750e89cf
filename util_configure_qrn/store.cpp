#include "store.h"

#include "logger.h"
#include "owners.h"
#include "value_typing.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

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
    char journal[NAME_MAX + 1];
    if (error == ESTALE) {
        log_line(LOGGER_NOTICE, "%s: another file took the name during the store\n", file.name);
    } else if (error == EEXIST &&
               json_file_journal_name(file.held, journal, sizeof journal) == JSONSuccess) {
        // The name is canonical: its directory is the journal's.
        const int directory = int(strrchr(file.name, '/') - file.name) + 1;
        log_line(LOGGER_NOTICE, "%s: the name of its journal, %.*s%s, is taken: %s\n", file.name,
                 directory, file.name, journal, strerror(error));
    } else if (strcmp(json_file_text(file.held), text) == 0) {
        log_line(LOGGER_NOTICE,
                 "%s: the new text is in place, but syncing its directory failed: %s\n", file.name,
                 strerror(error));
    } else {
        log_line(LOGGER_NOTICE, "%s: writing the new text failed: %s\n", file.name,
                 strerror(error));
    }
}

}  // namespace

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
        // No place: memory ran out before the check could tell.
        if (lost.line == 0) {
            log_line(LOGGER_ERROR, "Failed to serialize json value\n");
            log_line(LOGGER_NOTICE, "%s: checking what a rewrite keeps: %s\n", file.name,
                     lost.reason);
            return false;
        }
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
