/*
 * jsontree: arrays: lookups by index, replacements, removals and appends.
 *
 * One part of the public interface, declared for every consumer by
 * <jsontree.h>, which defines the types, limits and JSONTREE_API these
 * declarations use and includes this file after them.
 */
#ifndef JSONTREE_PUBLIC_ARRAY_H
#define JSONTREE_PUBLIC_ARRAY_H

#ifndef JSONTREE_H
#error "include <jsontree.h>, which includes <jsontree/array.h> itself"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Arrays ----------------------------------------------------------- */

/* An array holds at most 122880 items. Lookups by index, 0 to count - 1: the
 * item, or its object, array, text, number or boolean (1 or 0) when it is of
 * that type; null, 0.0 or -1 (booleans) for a null array, an index of the
 * count or more, or an item of another type. What they return stays the
 * tree's (see Lifetimes). The count is 0 for null. */
JSONTREE_API JSON_Value *json_array_get_value(const JSON_Array *array, size_t index);
JSONTREE_API const char *json_array_get_string(const JSON_Array *array, size_t index);
JSONTREE_API size_t json_array_get_string_len(const JSON_Array *array, size_t index);
JSONTREE_API JSON_Object *json_array_get_object(const JSON_Array *array, size_t index);
JSONTREE_API JSON_Array *json_array_get_array(const JSON_Array *array, size_t index);
JSONTREE_API double json_array_get_number(const JSON_Array *array, size_t index);
JSONTREE_API int json_array_get_boolean(const JSON_Array *array, size_t index);
JSONTREE_API size_t json_array_get_count(const JSON_Array *array);
/* json_value_read_boolean, _int64 and _uint64 for the item at `index`:
 * JSONFailure, `*out` untouched, for an index of the count or more. */
JSONTREE_API JSON_Status json_array_read_boolean(const JSON_Array *array, size_t index, int *out);
JSONTREE_API JSON_Status json_array_read_int64(const JSON_Array *array, size_t index, int64_t *out);
JSONTREE_API JSON_Status json_array_read_uint64(const JSON_Array *array, size_t index,
                                                uint64_t *out);

/* Releases the item at `ix`; JSONFailure for null or an index of the count
 * or more. Removal moves the last item into the gap. */
JSONTREE_API JSON_Status json_array_remove(JSON_Array *array, size_t ix);

/* Releases the item at `ix` and puts `value` in its place, as the object
 * setters do (the same value again, a value inside the one replaced, who
 * owns the value, what must not be stored). JSONFailure for a null argument
 * or an index of the count or more. The typed forms make the value as the
 * object setters do, and release it when the replacement fails. */
JSONTREE_API JSON_Status json_array_replace_value(JSON_Array *array, size_t ix, JSON_Value *value);
JSONTREE_API JSON_Status json_array_replace_string(JSON_Array *array, size_t i, const char *string);
JSONTREE_API JSON_Status json_array_replace_number(JSON_Array *array, size_t i, double number);
JSONTREE_API JSON_Status json_array_replace_boolean(JSON_Array *array, size_t i, int boolean);
JSONTREE_API JSON_Status json_array_replace_null(JSON_Array *array, size_t i);

/* Releases every item, keeping the array's slot storage; JSONFailure only
 * for null. */
JSONTREE_API JSON_Status json_array_clear(JSON_Array *array);

/* Adds `value` after the last item. On success it belongs to the array; on
 * failure it stays the caller's. JSONFailure for a null argument, a 122881st
 * item, or when memory runs out, and for a value that is or holds this
 * array, as the object setters refuse theirs. The value must not be held by
 * a container already; that is not checked, and breaking the rule corrupts
 * the tree. The typed forms make the value as the object
 * setters do, and release it when the append fails. */
JSONTREE_API JSON_Status json_array_append_value(JSON_Array *array, JSON_Value *value);
JSONTREE_API JSON_Status json_array_append_string(JSON_Array *array, const char *string);
JSONTREE_API JSON_Status json_array_append_number(JSON_Array *array, double number);
JSONTREE_API JSON_Status json_array_append_boolean(JSON_Array *array, int boolean);
JSONTREE_API JSON_Status json_array_append_null(JSON_Array *array);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_PUBLIC_ARRAY_H */
