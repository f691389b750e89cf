/*
 * jsontree: objects: lookups by name and dotted path, stores and removals.
 *
 * One part of the public interface, declared for every consumer by
 * <jsontree.h>, which defines the types, limits and JSONTREE_API these
 * declarations use and includes this file after them.
 */
#ifndef JSONTREE_PUBLIC_OBJECT_H
#define JSONTREE_PUBLIC_OBJECT_H

#ifndef JSONTREE_H
#error "include <jsontree.h>, which includes <jsontree/object.h> itself"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Objects ---------------------------------------------------------- */

/* An object holds at most 960 members, each name once (names compare byte
 * for byte). A lookup by name, and every call that takes a name or a dotted
 * path (stores and removals too), compares the name with the members' in
 * turn: its cost grows with the member count, there being no hash table. To
 * visit every member, walk by index (json_object_get_name and
 * json_object_get_value_at). Lookups by name: the value of the member `name`, or its object,
 * array, text, number or boolean (1 or 0) when the value is of that type.
 * Null, 0.0 or -1 (booleans) when the object or the name is null, no member
 * has that name, or its value is of another type. What they return stays the
 * tree's (see Lifetimes). */
JSONTREE_API JSON_Value *json_object_get_value(const JSON_Object *object, const char *name);
JSONTREE_API const char *json_object_get_string(const JSON_Object *object, const char *name);
JSONTREE_API size_t json_object_get_string_len(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Object *json_object_get_object(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Array *json_object_get_array(const JSON_Object *object, const char *name);
JSONTREE_API double json_object_get_number(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_get_boolean(const JSON_Object *object, const char *name);
/* 1 when the object has a member `name`, or (_of_type) one whose value is
 * of type `type`; else 0, for a null object or name and for JSONError too.
 * A member that holds null, 0 or false exists, which the lookups above
 * cannot tell from a missing one. */
JSONTREE_API int json_object_has_value(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_has_value_of_type(const JSON_Object *object, const char *name,
                                               JSON_Value_Type type);

/* json_value_read_boolean, _int64 and _uint64 for the member `name`:
 * JSONFailure, `*out` untouched, when there is none. */
JSONTREE_API JSON_Status json_object_read_boolean(const JSON_Object *object, const char *name,
                                                  int *out);
JSONTREE_API JSON_Status json_object_read_int64(const JSON_Object *object, const char *name,
                                                int64_t *out);
JSONTREE_API JSON_Status json_object_read_uint64(const JSON_Object *object, const char *name,
                                                 uint64_t *out);

/* Dotted paths: "outer.inner.leaf" steps through member objects only. The
 * path is split at every full stop, with no escape, so a member whose name
 * holds a full stop cannot be reached, and an empty segment names the member
 * with the empty name. A member on the way that is missing or holds anything
 * but an object (an array too) ends the walk. The lookups give what the
 * lookups by name give for the last segment in the object the walk reached,
 * or the same neutral result when the walk ended early or an argument is
 * null. They allocate nothing. */
JSONTREE_API JSON_Value *json_object_dotget_value(const JSON_Object *object, const char *name);
JSONTREE_API const char *json_object_dotget_string(const JSON_Object *object, const char *name);
JSONTREE_API size_t json_object_dotget_string_len(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Object *json_object_dotget_object(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Array *json_object_dotget_array(const JSON_Object *object, const char *name);
JSONTREE_API double json_object_dotget_number(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_dotget_boolean(const JSON_Object *object, const char *name);
/* The checked reads of the member the path leads to: JSONFailure, `*out`
 * untouched, when the walk ends early. */
JSONTREE_API JSON_Status json_object_dotread_boolean(const JSON_Object *object, const char *name,
                                                     int *out);
JSONTREE_API JSON_Status json_object_dotread_int64(const JSON_Object *object, const char *name,
                                                   int64_t *out);
JSONTREE_API JSON_Status json_object_dotread_uint64(const JSON_Object *object, const char *name,
                                                    uint64_t *out);
/* json_object_has_value and _of_type for the member the path leads to; 0
 * when the walk ends early. */
JSONTREE_API int json_object_dothas_value(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_dothas_value_of_type(const JSON_Object *object, const char *name,
                                                  JSON_Value_Type type);

/* The number of members (0 for null), and the name of the member at `index`
 * (null for null or an index of the count or more). Members keep the order
 * they were added in (a parsed object: the order of its text) until a
 * removal moves the last member into the gap; a member whose value is
 * replaced keeps its place. A name stays valid until its member is removed,
 * or the object cleared or released. */
JSONTREE_API size_t json_object_get_count(const JSON_Object *object);
JSONTREE_API const char *json_object_get_name(const JSON_Object *object, size_t index);
/* The value of the member at `index`, whose name json_object_get_name gives
 * (null for null or an index of the count or more): with the count, a walk
 * over every member that looks up no name. */
JSONTREE_API JSON_Value *json_object_get_value_at(const JSON_Object *object, size_t index);

/* json_object_set_value stores `value` as the member `name`: a member of
 * that name keeps its place and takes the value, else a new member is added
 * after the others, with a copy of the name. On success the value belongs to
 * the object; on failure it stays the caller's. JSONFailure for a null
 * argument, a 961st member, or when memory runs out. A value that is or
 * holds this object (or one nested deeper than JSON_MAX_DEPTH) is refused:
 * it would make a cycle. The value must not be held by a container already;
 * that is not checked, and breaking the rule corrupts the tree. The typed
 * forms make the
 * value first (a copy of `string`, refused when null or not valid UTF-8; 1
 * for any non-zero `boolean`), and release it again when the store fails.
 *
 * Setting (or replacing) releases the value that was there. Storing that very
 * value again succeeds and changes nothing; storing a value that lies inside
 * the one it would replace fails and changes nothing. The same holds for
 * json_array_replace_value and the dotted stores. A name (or dotted path) that
 * is not valid UTF-8 is refused, as such a string is, and changes nothing;
 * names read from JSON text are kept as the parser decodes them. */
JSONTREE_API JSON_Status json_object_set_value(JSON_Object *object, const char *name,
                                               JSON_Value *value);
JSONTREE_API JSON_Status json_object_set_string(JSON_Object *object, const char *name,
                                                const char *string);
JSONTREE_API JSON_Status json_object_set_number(JSON_Object *object, const char *name,
                                                double number);
JSONTREE_API JSON_Status json_object_set_boolean(JSON_Object *object, const char *name,
                                                 int boolean);
JSONTREE_API JSON_Status json_object_set_null(JSON_Object *object, const char *name);

/* The dotted stores walk the path as the dotted lookups do, but add an empty
 * object for each member on the way that is missing; a member on the way
 * that holds anything but an object makes the store fail, and stays as it
 * was. The last segment is stored as json_object_set_value does. JSONFailure
 * also for a null argument, and when an object on the way is full. A failed
 * dotset leaves the value with the caller; the typed forms release the value
 * they made. Objects created on the way stay after a failure. */
JSONTREE_API JSON_Status json_object_dotset_value(JSON_Object *object, const char *name,
                                                  JSON_Value *value);
JSONTREE_API JSON_Status json_object_dotset_string(JSON_Object *object, const char *name,
                                                   const char *string);
JSONTREE_API JSON_Status json_object_dotset_number(JSON_Object *object, const char *name,
                                                   double number);
JSONTREE_API JSON_Status json_object_dotset_boolean(JSON_Object *object, const char *name,
                                                    int boolean);
JSONTREE_API JSON_Status json_object_dotset_null(JSON_Object *object, const char *name);

/* json_object_remove releases the member `name`, its name and its value;
 * json_object_dotremove the member the path leads to, never the objects on
 * the way, even when they are left empty. JSONFailure, changing nothing,
 * when no such member exists or an argument is null. json_object_clear
 * releases every member, keeping the object's slot storage; JSONFailure only
 * for null. Removal moves the last member into the gap. */
JSONTREE_API JSON_Status json_object_remove(JSON_Object *object, const char *name);
JSONTREE_API JSON_Status json_object_dotremove(JSON_Object *object, const char *name);
JSONTREE_API JSON_Status json_object_clear(JSON_Object *object);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_PUBLIC_OBJECT_H */
