/*
 * jsontree: a small, self-contained JSON library.
 *
 * A document is a tree of JSON_Value records. Objects and arrays own their
 * members; a value handed to a container belongs to it from then on, and is
 * released with it, or when it is replaced or removed. A value is held by one
 * container at most, and only a value that no container holds (a root, or a
 * value not stored yet) is released by its caller. Every block the library
 * obtains goes through the allocation hooks, which start out as the C
 * library's malloc and free.
 *
 * Results: operations that change something return JSON_Status; constructors,
 * parsers and lookups return a pointer that is null on failure; typed getters
 * return a neutral result (null, 0.0, -1, JSONError) for missing input. Every
 * function accepts null for any pointer argument; each says what it then
 * gives. Nothing is printed or logged, and errno means something only after
 * the calls that work on files.
 *
 * Lifetimes: a pointer a getter returns (a value, an object, an array, a
 * string, a member name, a number's text) points into the tree and stays
 * valid until that value or member is released: replaced, removed, cleared,
 * or freed with its tree. Changing other members or items moves no value and
 * no text, even when the container grows or a removal fills a gap.
 *
 * Threads: the only state the library keeps is its two allocation hooks.
 * Different trees may be used by different threads at once, and a tree that
 * no call changes meanwhile may be read by several threads at once: every
 * function that takes a tree through a const pointer only reads it
 * (serializing, copying and comparing included). A tree being changed, like a
 * JSON_File, is used by one thread at a time. The hooks are then called from
 * several threads at once, as malloc and free may be.
 *
 * Locale: numbers are read and written with "." as the decimal point
 * whatever locale the program has set (setlocale, uselocale), in every
 * thread; the library never changes the program's locale.
 */
#ifndef JSONTREE_H
#define JSONTREE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define JSONTREE_API __attribute__((visibility("default")))
#else
#define JSONTREE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct json_object_t JSON_Object;
typedef struct json_array_t JSON_Array;
typedef struct json_value_t JSON_Value;

enum json_value_type {
    JSONError = -1,
    JSONNull = 1,
    JSONString = 2,
    JSONNumber = 3,
    JSONObject = 4,
    JSONArray = 5,
    JSONBoolean = 6
};
typedef int JSON_Value_Type;

enum json_result_t {
    JSONSuccess = 0,
    JSONFailure = -1
};
typedef int JSON_Status;

/* Deepest nesting that serialization, deep copy, equality and validation
 * follow, a value's members and items lying one level below it. They walk a
 * tree by recursion, so a tree with anything deeper is refused: serializing
 * it gives size 0, null or JSONFailure, a copy null, equality 0 and
 * validation JSONFailure. The limit keeps each call within 32 KB of stack in
 * an optimised build (sanitizer builds need several times that), and is far
 * beyond configuration files: the parser refuses nesting past 19 levels.
 * Trees built through the interface can be deeper (a dotted store makes one
 * level per segment); json_value_free releases any depth without recursion.
 * Replacing a value that holds anything deeper than the limit fails, since
 * it cannot be searched for the value that would take its place. */
#define JSON_MAX_DEPTH 128

/* Deepest nesting the parsers accept, the root being at depth 0: text with
 * a value deeper than this does not parse. A tree stored deeper still
 * serializes, but its text can never be loaded again. */
#define JSON_MAX_NESTING 19

/* Most members an object holds: adding one more fails. */
#define JSON_MAX_MEMBERS 960

typedef void *(*JSON_Malloc_Function)(size_t);
typedef void (*JSON_Free_Function)(void *);

/* Replaces both hooks. A null hook falls back to the C library's malloc or
 * free. The allocation hook may return null: a call that cannot go on
 * without the block fails, releasing what it had obtained (a dotted store
 * keeps the objects it made on the way). The release hook is also handed null, for instance for a
 * container that never held an entry, and must ignore it as free does.
 * Blocks alive at the time of the call are later released through the new
 * release hook, so change hooks only while no tree, serialized text or
 * JSON_File is alive. The hooks are plain globals that every call reads:
 * change them only while no other thread is inside the library. */
JSONTREE_API void json_set_allocation_functions(JSON_Malloc_Function malloc_fun,
                                                JSON_Free_Function free_fun);

/* ---- Values ----------------------------------------------------------- */

/* New values, which belong to the caller until stored into a container; one
 * never stored is released with json_value_free. Null when memory runs out.
 * json_value_init_string copies `string` (through the allocation hook) and
 * gives null for a null string or one that is not valid UTF-8 (overlong
 * forms, surrogates and code points past U+10FFFF included), and for one of
 * 4 GiB or more. json_value_init_number takes any double, but an infinite or NaN one cannot
 * be serialized and equals nothing, itself included. json_value_init_boolean
 * stores 1 for any non-zero `boolean`, else 0. */
JSONTREE_API JSON_Value *json_value_init_object(void);
JSONTREE_API JSON_Value *json_value_init_array(void);
JSONTREE_API JSON_Value *json_value_init_string(const char *string);
JSONTREE_API JSON_Value *json_value_init_number(double number);
JSONTREE_API JSON_Value *json_value_init_boolean(int boolean);
JSONTREE_API JSON_Value *json_value_init_null(void);
/* A new tree that repeats `value`: types, texts, numbers, member order and
 * kept number literals. It belongs to the caller. Null for null, for a value
 * that nests deeper than JSON_MAX_DEPTH, or when memory runs out; a failed
 * copy leaves nothing allocated. */
JSONTREE_API JSON_Value *json_value_deep_copy(const JSON_Value *value);
/* Releases `value` and everything it holds, at any depth; every pointer into
 * it becomes invalid. Only for a value that no container holds: a stored
 * value is released by its container. Null is handed on to the release
 * hook, which ignores it. */
JSONTREE_API void json_value_free(JSON_Value *value);

/* JSONSuccess when `value` has the shape `schema` gives, by types only: a
 * null in the schema matches any value; other scalars in the schema match any
 * value of their type; the first item of a schema array is the schema of
 * every item, further ones being ignored; a schema object matches an object
 * that has each of its members, each matching (other members may follow);
 * empty schema containers accept any container of their kind. JSONFailure
 * otherwise, for a null argument, and past JSON_MAX_DEPTH. */
JSONTREE_API JSON_Status json_validate(const JSON_Value *schema, const JSON_Value *value);
/* Returns 1 when equal, 0 when not, whatever the declared type says: 0 is
 * JSONSuccess, so test the result against 1. Equal means of the same type
 * and: strings byte for byte, booleans alike, objects with the same names
 * (in any order) and equal values, arrays with equal items in the same order,
 * numbers within an absolute 1e-6 of each other (so large numbers must be
 * nearly identical, and the test is not transitive). A number that keeps its
 * literal (json_value_get_number_text) equals a number that keeps the same
 * literal text, and no other, unless it was read as 0 ("1e-400"), which
 * compares as 0 does. Other infinite and NaN numbers equal nothing, not even
 * themselves. Two null pointers are equal; null and a value are not. 0 past
 * JSON_MAX_DEPTH. */
JSONTREE_API JSON_Status json_value_equals(const JSON_Value *a, const JSON_Value *b);

/* Applies `patch` to `target` as an RFC 7386 merge patch, in place: an
 * object patch merges into an object target member by member, a null member
 * removing the target's member of that name, an object member merging into
 * the target's object member, any other member replacing the target's (or
 * being added) as a copy; an object patch merges into any other target as
 * into an empty object; any other patch replaces the target by a copy of
 * itself (arrays are replaced whole, never merged). The target's record
 * stays where it is. Members the target keeps keep their order and, unless
 * the patch changes them, their values; objects merged into keep their
 * JSON_Object; new members follow in the patch's order. What the patch
 * replaces or removes is released, and pointers into it become invalid; the
 * patch is only read, and stays the caller's.
 *
 * JSONFailure, changing nothing, for a null argument, when either value is
 * the other or lies inside the other's tree (or nests deeper than
 * JSON_MAX_DEPTH), when an object would pass 960 members, for a patch that
 * is a number keeping its literal (json_value_get_number_text) which would
 * replace the target whole, and when memory runs out: every block the
 * result needs is obtained through the allocation hooks before the target
 * is touched. */
JSONTREE_API JSON_Status json_value_merge_patch(JSON_Value *target, const JSON_Value *patch);

/* JSON Pointers (RFC 6901) address any value of a tree, array items and
 * member names holding a full stop included: "" is `root` itself, and each
 * "/token" steps into the member of that name or, in an array, the item at
 * that index ("0", or digits with no leading zero). In a token "~1" stands
 * for "/" and "~0" for "~"; a "~" followed by anything else, or a non-empty
 * pointer that does not begin with a slash, is no pointer, and every call
 * fails on it. Dotted paths are unchanged by all this.
 *
 * json_pointer_get gives the value the pointer leads to, borrowed as the
 * getters' results are (see Lifetimes); null when it leads nowhere (a
 * missing member, an index of the count or more, "-", a step into a
 * string, number, boolean or null) or an argument is null. It allocates
 * nothing.
 *
 * json_pointer_add stores `value` as RFC 6902's "add" does: the pointer's
 * last token names a place in a container that must exist already. In an
 * object the member of that name takes the value, as json_object_set_value
 * stores it (a member of that name keeps its place). In an array the value
 * is inserted at that index, from 0 to the count, moving the items from there
 * on up by one; "-" appends. On success the value belongs to the tree; on
 * failure it stays the caller's. JSONFailure, changing nothing, for a null
 * argument, a malformed pointer, the empty pointer (a root cannot be
 * replaced inside its own record), a container that is missing or not an
 * object or array, an index past the count, a full container, a value that
 * is or holds the container (a cycle), or when memory runs out. The value
 * must not be held by a container already, as for the setters.
 *
 * json_pointer_remove releases the member or item the pointer leads to; the
 * other members or items keep their order (unlike json_object_remove and
 * json_array_remove, which move the last one into the gap). JSONFailure,
 * changing nothing, when it leads nowhere, for the empty pointer, and for a
 * null argument. */
JSONTREE_API JSON_Value *json_pointer_get(const JSON_Value *root, const char *pointer);
JSONTREE_API JSON_Status json_pointer_add(JSON_Value *root, const char *pointer, JSON_Value *value);
JSONTREE_API JSON_Status json_pointer_remove(JSON_Value *root, const char *pointer);

/* The type of `value`, JSONError for null; its object, array, text, number
 * or boolean (1 or 0) when it is of that type, else null, 0.0 or -1. What
 * they return stays the value's (see Lifetimes). */
JSONTREE_API JSON_Value_Type json_value_get_type(const JSON_Value *value);
JSONTREE_API JSON_Object *json_value_get_object(const JSON_Value *value);
JSONTREE_API JSON_Array *json_value_get_array(const JSON_Value *value);
JSONTREE_API const char *json_value_get_string(const JSON_Value *value);
/* The bytes of a string value's text, without its terminating NUL: more than
 * strlen of it when the text holds a NUL (parsed from "\u0000"), which
 * serializing, copying and comparing keep. 0 when the value is null or not a
 * string, as json_value_get_string then gives null. The _get_string_len
 * lookups of objects, dotted paths and arrays give this for the value they
 * find, and 0 where their _get_string gives null. */
JSONTREE_API size_t json_value_get_string_len(const JSON_Value *value);
JSONTREE_API double json_value_get_number(const JSON_Value *value);
/* The text a parsed number was written as, when its double does not hold it:
 * an integer literal the double holds only rounded (9007199254740993), or a
 * non-zero literal that became 0 (1e-400) or infinite (2e308). Serializing
 * writes this text, so such a number is rewritten as it was read; a deep copy
 * keeps it too. Null for every other value, and for numbers made by
 * json_value_init_number. The text lives as long as the value. */
JSONTREE_API const char *json_value_get_number_text(const JSON_Value *value);
/* 1 or 0 for a boolean value, else -1 (null included). */
JSONTREE_API int json_value_get_boolean(const JSON_Value *value);

/* Checked reads, for callers that must tell a missing or unsuitable value
 * from a stored one: JSONSuccess with the result in `*out`, or JSONFailure
 * with `*out` untouched. json_value_read_boolean gives 1 or 0 for a boolean.
 * The integer reads take a number that is whole and within the range of
 * their type: a fraction (1.5), a number out of range (a negative one for
 * uint64_t), an infinity or NaN fails. A parsed literal that no double holds
 * (json_value_get_number_text) is read from its text, every digit counting,
 * so 9007199254740993 reads exactly; one that became 0 or infinite
 * ("1e-400", "2e308") fails. Any other number is read from its double, so
 * the literal 9007199254740993.0, which the double rounds, gives
 * 9007199254740992. JSONFailure also for any other type, and for a null
 * argument. The _object_, _dotread_ and _array_ forms read what the
 * lookups by name, dotted path and index find, and fail where those find
 * nothing. */
JSONTREE_API JSON_Status json_value_read_boolean(const JSON_Value *value, int *out);
JSONTREE_API JSON_Status json_value_read_int64(const JSON_Value *value, int64_t *out);
JSONTREE_API JSON_Status json_value_read_uint64(const JSON_Value *value, uint64_t *out);

/* Short names for json_value_get_type, _object, _array, _string, _number
 * and _boolean, with the same results. */
JSONTREE_API JSON_Value_Type json_type(const JSON_Value *value);
JSONTREE_API JSON_Object *json_object(const JSON_Value *value);
JSONTREE_API JSON_Array *json_array(const JSON_Value *value);
JSONTREE_API const char *json_string(const JSON_Value *value);
JSONTREE_API double json_number(const JSON_Value *value);
JSONTREE_API int json_boolean(const JSON_Value *value);

#ifdef __cplusplus
}
#endif

/* The calls of each job are declared in a part of their own, which needs
 * what this header defined above: a part included alone stops with #error. */
#include "jsontree/array.h"
#include "jsontree/object.h"
#include "jsontree/parse.h"
#include "jsontree/serialize.h"

/* After the others: edits report in a JSON_Error, which parse.h defines. */
#include "jsontree/edit.h"

#endif /* JSONTREE_H */
