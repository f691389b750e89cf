// Growth and lookup of objects and arrays, for the modules that build trees.
#ifndef JSONTREE_CONTAINER_H
#define JSONTREE_CONTAINER_H

#include "value.h"

namespace jsontree::detail {

// A container that grows takes 15 slots first, then doubles: 15, 30, 60, ...
// Each keeps its slots in one block, and on a small device the block of one
// container has to stay modest, so growth is bounded: it stops at a limit,
// and an insertion into a container full at its limit is refused. Growth from
// empty reaches the limits exactly: 960 = 15 * 2^6 members and
// 122880 = 15 * 2^13 items. The parser gives a container exactly the slots
// its entries take; from there it grows to twice its capacity (at least 15),
// never past the limit, so a parsed container too takes entries up to the
// same limits.
constexpr size_t FIRST_CAPACITY = 15;
constexpr size_t OBJECT_MAX_CAPACITY = FIRST_CAPACITY << 6;
static_assert(OBJECT_MAX_CAPACITY == JSON_MAX_MEMBERS);
constexpr size_t ARRAY_MAX_CAPACITY = FIRST_CAPACITY << 13;

// Slot arrays of exactly `new_capacity` (not 0), keeping the entries.
bool resize_members(JSON_Object *object, size_t new_capacity);
bool resize_items(JSON_Array *array, size_t new_capacity);

// Appends without the public checks for a value already in a tree; an
// object refuses a name it holds.
bool add_member(JSON_Object *object, const char *name, JSON_Value *value);
bool append_item(JSON_Array *array, JSON_Value *value);

// The member named by the first `n` bytes of `name`.
JSON_Value *find_member(const JSON_Object *object, const char *name, size_t n);

// `target` is `tree` or lies inside it, or `tree` is too deep to tell.
bool may_hold(const JSON_Value *tree, const JSON_Value *target);

// `container` (an object or array) is `tree`'s or lies inside it, or `tree`
// is too deep to tell: storing `tree` into it would make a cycle, which
// releasing the tree would walk for ever.
bool may_hold_container(const JSON_Value *tree, const void *container);

}  // namespace jsontree::detail

#endif
