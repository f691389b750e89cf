// Writing number texts.
#ifndef JSONTREE_NUMBER_WRITE_H
#define JSONTREE_NUMBER_WRITE_H

#include <cfloat>
#include <cstddef>

namespace jsontree::detail {

// Room for the longest text the C library prints for a number, "%f" of
// -DBL_MAX: a sign, 309 integral digits, a point, six decimals and the NUL.
constexpr size_t NUMBER_TEXT_SIZE = 1 + (DBL_MAX_10_EXP + 1) + 1 + 6 + 1;

// The one place that decides how a number looks. Whole numbers of magnitude
// below 2^53 as integers (negative zero as 0); other numbers as "%f" when
// that text reads back exactly, else as the shortest text that does, laid
// out as "%.Ng". Stores the text at `out`, without a NUL, and returns its
// length; -1 for an infinity or NaN, which have no JSON text, and when the C
// library fails. The C library's trial texts go to `scratch`
// (NUMBER_TEXT_SIZE bytes, may be `out`), so `out` needs room for the final
// text only.
int format_number(double number, char *out, char *scratch);

}  // namespace jsontree::detail

#endif
