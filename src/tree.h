// Tree services other modules rely on.
#ifndef JSONTREE_TREE_H
#define JSONTREE_TREE_H

#include "value.h"

namespace jsontree::detail {

// `target` is `tree` or lies inside it, or `tree` is too deep to tell.
bool may_hold(const JSON_Value *tree, const JSON_Value *target);

// `container` (an object or array) is `tree`'s or lies inside it, or `tree`
// is too deep to tell: storing `tree` into it would make a cycle, which
// releasing the tree would walk for ever.
bool may_hold_container(const JSON_Value *tree, const void *container);

}  // namespace jsontree::detail

#endif
