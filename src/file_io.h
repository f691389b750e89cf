// Whole-file reads and safe replacement, for the parser and the writer: the
// file modules' side of json_parse_file* and json_serialize_to_file*, which
// leave errno telling why they failed.
#ifndef JSONTREE_FILE_IO_H
#define JSONTREE_FILE_IO_H

#include "value.h"

namespace jsontree::detail {

// The whole regular file `filename` as NUL-terminated text; null on failure.
char *read_file(const char *filename);
// The same, its length (more than strlen finds when it holds a NUL byte) in
// `length`.
char *read_file(const char *filename, size_t &length);

// Makes `text` the content of `filename`, as json_serialize_to_file
// describes; whether it did.
bool replace_file(const char *filename, const char *text);

}  // namespace jsontree::detail

#endif
