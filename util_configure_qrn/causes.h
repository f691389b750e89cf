// Causes: after a failure's own line, one line at LOGGER_NOTICE (shown from
// one -v on) says why, so an operator never mends the wrong thing. What the
// reads, the stores and the typing of VALUE share to say it.
#ifndef CONFIGURE_QRN_CAUSES_H
#define CONFIGURE_QRN_CAUSES_H

#include "jsontree.h"

#include <cstddef>

// The configuration file as loaded: its canonical name and the file held.
struct ConfigFile {
    const char *name;
    JSON_File *held;
};

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

// The column in VALUE or JSON_PATH of a fault the library placed in the
// part of it that begins `skipped` bytes in (white space and a quotation
// mark, a column each); in a VALUE of several lines, the column in its line.
size_t column_in_argument(size_t skipped, const JSON_Error &error);

void explain_out_of_memory();

// Walks `name` as a dotted lookup does; false when there is no memory for it.
bool walk_path(const JSON_Object *root, const char *name, PathStop &stop);

// The stop of a walk that found nothing, or that a store cannot pass.
void explain_stop(const char *name, const PathStop &stop);

// Where the first text that the document read leaves out begins (hidden by
// the comment rules, after the root, cut at \u0000 or at a NUL byte); false
// when it holds all of the file. Line 0, no place, when memory ran out
// before the check could tell.
bool find_lost_text(const ConfigFile &file, JSON_Error &lost);

// True for an object; otherwise says that the document's root is none.
bool root_is_object(const JSON_Value *root);

// Why a value has no JSON text.
void explain_unserializable();

#endif
