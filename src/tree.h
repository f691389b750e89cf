// Tree services other modules rely on.
#ifndef JSONTREE_TREE_H
#define JSONTREE_TREE_H

#include "value.h"

namespace jsontree::detail {

// `target` is `tree` or lies inside it, or `tree` is too deep to tell.
bool may_hold(const JSON_Value *tree, const JSON_Value *target);

}  // namespace jsontree::detail

#endif
