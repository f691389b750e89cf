// Edits of one value in a text: what the calls for each kind of location
// (dotted paths, pointers) hand to the one edit they share.
#ifndef JSONTREE_EDIT_H
#define JSONTREE_EDIT_H

#include "jsontree.h"

#include <string_view>

namespace jsontree::detail {

// A location as the steps from the root: each a member name in an object,
// or, where `Change::through_arrays` allows, an item's index in an array
// ("-" being the end). A value deeper than the parser reads can never be
// read back, so a location has no more steps than that.
struct Steps {
    std::string_view step[JSON_MAX_NESTING];
    size_t count = 0;
};

// What the edit does, and the same change through the tree calls, which
// give the document the new text must hold.
struct Change {
    const JSON_Value *value = nullptr;  // null for a removal
    bool through_arrays = false;
    // Objects missing on the way are made, as a dotted store makes them;
    // otherwise only the last step may be missing.
    bool makes_objects = false;
    // Applies the change to `root`, taking `value` (a copy made for it) on
    // success; null for a removal.
    JSON_Status (*apply)(JSON_Value *root, const char *location, JSON_Value *value) = nullptr;
    const char *location = nullptr;
};

// The edited text in a block from the allocation hook, its length in
// `new_length` (null is ignored); null with `error` filled when the change
// cannot be made or the new text would not give the document it must.
char *edit_text(const char *text, size_t length, const Steps &steps, const Change &change,
                size_t *new_length, JSON_Error *error);

}  // namespace jsontree::detail

#endif
