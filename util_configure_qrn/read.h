// Reading: the value at a dotted path, printed on standard output.
#ifndef CONFIGURE_QRN_READ_H
#define CONFIGURE_QRN_READ_H

#include "causes.h"
#include "jsontree.h"

// What was printed must have reached standard output: a script reading it
// would take missing text for an empty value. False, said, when it did not.
bool flush_output();

// Prints the value at `name` (null: none was given) in the document `root`
// read from `file`; false, said with its cause, when there is none to print.
bool print_at_path(JSON_Value *root, const char *name, const ConfigFile &file);

#endif
