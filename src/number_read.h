// Reading number texts.
#ifndef JSONTREE_NUMBER_READ_H
#define JSONTREE_NUMBER_READ_H

namespace jsontree::detail {

// The double strtod gives for the number at `text`, and where it stops
// reading (`*end`), with exact shortcuts for the common forms.
double read_number(const char *text, const char **end);

}  // namespace jsontree::detail

#endif
