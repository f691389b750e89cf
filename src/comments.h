// Comments blanked as the comment-tolerant parsers blank them.
#ifndef JSONTREE_COMMENTS_H
#define JSONTREE_COMMENTS_H

#include "jsontree.h"

#include <string_view>

namespace jsontree::detail {

// Overwrites every comment in `text` with spaces, so that each other byte
// keeps its position.
void blank_comments(char *text);

// The document of `text` (which holds no NUL) read from a private copy,
// with its comments blanked there first when `with_comments` says so; the
// outcome is reported in `error` (null is ignored), places counted in `text`.
JSON_Value *parse_copy(std::string_view text, bool with_comments, JSON_Error *error);

}  // namespace jsontree::detail

#endif
