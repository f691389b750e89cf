// The text the serializer makes of a value, for comparisons and messages, and
// the value a text makes.
#ifndef TESTS_SERIALIZED_H
#define TESTS_SERIALIZED_H

#include "jsontree.h"
#include "owners.h"

#include <string>

// The text of `value` from the allocating call of one form; "<null>" when
// that call gives none.
std::string text_of(const JSON_Value *value, bool pretty = false);

// Any JSON text as a value of its own, a bare scalar too.
ValuePtr value_of(const std::string &text);

#endif
