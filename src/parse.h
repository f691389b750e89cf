// Text to tree, for the modules that prepare text before parsing it.
#ifndef JSONTREE_PARSE_H
#define JSONTREE_PARSE_H

#include "value.h"

namespace jsontree::detail {

// The document of NUL-terminated `text`: its root is an object or an array;
// whatever follows it is ignored, and so is everything after a NUL.
JSON_Value *parse_root(const char *text);

}  // namespace jsontree::detail

#endif
