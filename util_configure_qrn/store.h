// Storing: VALUE typed and stored at a dotted path, and the file rewritten.
#ifndef CONFIGURE_QRN_STORE_H
#define CONFIGURE_QRN_STORE_H

#include "causes.h"
#include "jsontree.h"

// Stores the VALUE `argument` at `name` in the document `root` read from
// `file`, then replaces the file's text; false, said with its cause, when
// the store is refused or the file cannot be rewritten.
bool store_and_rewrite(JSON_Value *root, const char *name, const char *argument,
                       const ConfigFile &file);

#endif
