// The text the serializer makes of a value, for comparisons and messages.
#ifndef TESTS_SERIALIZED_H
#define TESTS_SERIALIZED_H

#include "jsontree.h"

#include <string>

// The text of `value` from the allocating call of one form; "<null>" when
// that call gives none.
std::string text_of(const JSON_Value *value, bool pretty = false);

#endif
