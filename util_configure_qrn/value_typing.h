// VALUE typed by its shape alone.
#ifndef CONFIGURE_QRN_VALUE_TYPING_H
#define CONFIGURE_QRN_VALUE_TYPING_H

#include "jsontree.h"

// The value that the VALUE `argument` stands for: a number, an array or
// object, a boolean, null, or else a string. Null, said with its cause, when
// it cannot be made.
JSON_Value *value_from_argument(const char *argument);

#endif
