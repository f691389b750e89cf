// Text to tree, for the modules that prepare text before parsing it.
#ifndef JSONTREE_PARSE_H
#define JSONTREE_PARSE_H

#include "value.h"

namespace jsontree::detail {

// The document of NUL-terminated `text`: its root is an object or an array;
// whatever follows it is ignored, and so is everything after a NUL.
JSON_Value *parse_root(const char *text);

// parse_root, its outcome reported in `error` (null is ignored) with places
// counted in `original`: `text` itself, or the text it was blanked from.
JSON_Value *parse_root_reporting(const char *text, const char *original, JSON_Error *error);

// read_file, a failure reported in `error` (null is ignored); the file's
// length in `length`.
char *read_file_reporting(const char *filename, size_t &length, JSON_Error *error);

}  // namespace jsontree::detail

#endif
