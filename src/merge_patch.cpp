// RFC 7386 merge patches, in two phases so that a failure changes nothing:
// everything new is built beside the target first, where any allocation may
// fail, then put in place by moves that cannot.
#include "container.h"

#include <utility>

using namespace jsontree::detail;

namespace {

bool removes(const JSON_Value *change)
{
    return json_value_get_type(change) == JSONNull;
}

// A member the patch merges into rather than replaces: both are objects.
bool merges(const JSON_Value *target, const JSON_Value *change)
{
    return json_value_get_object(target) && json_value_get_object(change);
}

JSON_Value *build_object(const JSON_Object *target, const JSON_Object *patch, size_t depth);

// What `target` (null: nothing) becomes under `change`, a value that removes
// nothing: an object merges into it (into nothing when it is no object),
// anything else replaces it by a copy.
JSON_Value *build_value(const JSON_Value *target, const JSON_Value *change, size_t depth)
{
    const JSON_Object *patch = json_value_get_object(change);
    return patch ? build_object(json_value_get_object(target), patch, depth)
                 : json_value_deep_copy(change);
}

// Members of `object`, sized for them, counted in as they are filled, so
// that releasing it releases what was built.
void fill(JSON_Object *object, char *name, JSON_Value *value)
{
    object->names[object->count] = name;
    object->values[object->count++] = value;
}

// The members `patch` gives `target` (null: none), in a new object of
// exactly their count: the target's in their order, less those removed,
// then the patch's new ones in theirs. A member the patch leaves alone is a
// hole (no name, no value), and so is the name of every member the target
// keeps: commit moves the target's own into them.
JSON_Value *build_object(const JSON_Object *target, const JSON_Object *patch, size_t depth)
{
    if (depth > JSON_MAX_DEPTH)
        return nullptr;
    size_t target_count = json_object_get_count(target);
    size_t count = 0;
    for (size_t i = 0; i < target_count; i++)
        count += !removes(json_object_get_value(patch, target->names[i]));
    for (size_t i = 0; i < patch->count; i++)
        count += !removes(patch->values[i]) && !json_object_get_value(target, patch->names[i]);
    if (count > OBJECT_MAX_CAPACITY)
        return nullptr;
    ValuePtr built(json_value_init_object());
    JSON_Object *object = json_value_get_object(built.get());
    if (!object || (count > 0 && !resize_members(object, count)))
        return nullptr;
    for (size_t i = 0; i < target_count; i++) {
        const JSON_Value *change = json_object_get_value(patch, target->names[i]);
        if (removes(change))
            continue;
        JSON_Value *value = change ? build_value(target->values[i], change, depth + 1) : nullptr;
        if (change && !value)
            return nullptr;
        fill(object, nullptr, value);
    }
    for (size_t i = 0; i < patch->count; i++) {
        if (removes(patch->values[i]) || json_object_get_value(target, patch->names[i]))
            continue;
        ValuePtr value(build_value(nullptr, patch->values[i], depth + 1));
        TextPtr name(copy_text(patch->names[i]));
        if (!value || !name)
            return nullptr;
        fill(object, name.release(), value.release());
    }
    return built.release();
}

// Puts what build_object made of `target` and `patch` in place, by moves
// alone: the holes take the target's names and the values it keeps, a
// merged member's built object trades places with the member's own (whose
// record and object stay, merged in turn), then the two objects trade their
// contents. `built` is left holding what the target no longer does.
void commit(JSON_Object *target, JSON_Object *built, const JSON_Object *patch)
{
    size_t slot = 0;
    for (size_t i = 0; i < target->count; i++) {
        const JSON_Value *change = json_object_get_value(patch, target->names[i]);
        if (removes(change))
            continue;
        if (!change) {
            std::swap(built->values[slot], target->values[i]);
        } else if (merges(target->values[i], change)) {
            commit(json_value_get_object(target->values[i]),
                   json_value_get_object(built->values[slot]), json_value_get_object(change));
            std::swap(built->values[slot], target->values[i]);
        }
        std::swap(built->names[slot++], target->names[i]);
    }
    std::swap(*target, *built);
}

}  // namespace

JSON_Status json_value_merge_patch(JSON_Value *target, const JSON_Value *patch)
{
    // A patch inside the target could be released while it is read, and a
    // target inside the patch changed while it is.
    if (!target || !patch || may_hold(target, patch) || may_hold(patch, target))
        return JSONFailure;
    JSON_Object *object = json_value_get_object(target);
    const JSON_Object *changes = json_value_get_object(patch);
    if (object && changes) {
        ValuePtr built(build_object(object, changes, 0));
        if (!built)
            return JSONFailure;
        commit(object, json_value_get_object(built.get()), changes);
        return JSONSuccess;
    }
    // The target's record takes the new contents; a kept number literal
    // lives in its own record's block, which the target's cannot hold.
    if (json_value_get_number_text(patch))
        return JSONFailure;
    ValuePtr replacement(build_value(nullptr, patch, 0));
    if (!replacement)
        return JSONFailure;
    std::swap(*target, *replacement);
    return JSONSuccess;
}
