// Whether storing a value could make a cycle or release the value stored:
// walks of the tree below a value, bounded by the depth limit.
#include "container.h"

using namespace jsontree::detail;

namespace {

// Calls `visit` on every entry of a container value; stops at the first
// entry for which it returns false, and then returns false too.
template <typename Visit>
bool every_entry(const JSON_Value *value, Visit visit)
{
    if (const JSON_Object *object = json_value_get_object(value)) {
        for (size_t i = 0; i < object->count; i++) {
            if (!visit(object->values[i]))
                return false;
        }
    } else if (const JSON_Array *array = json_value_get_array(value)) {
        for (size_t i = 0; i < array->count; i++) {
            if (!visit(array->items[i]))
                return false;
        }
    }
    return true;
}

// False once a value `found` accepts is found or the walk would pass the
// depth limit.
template <typename Found>
bool surely_lacks(const JSON_Value *tree, Found found, size_t depth)
{
    if (found(tree) || depth > JSON_MAX_DEPTH)
        return false;
    return every_entry(
        tree, [&](const JSON_Value *entry) { return surely_lacks(entry, found, depth + 1); });
}

}  // namespace

bool jsontree::detail::may_hold(const JSON_Value *tree, const JSON_Value *target)
{
    return !surely_lacks(
        tree, [target](const JSON_Value *value) { return value == target; }, 0);
}

bool jsontree::detail::may_hold_container(const JSON_Value *tree, const void *container)
{
    return !surely_lacks(
        tree,
        [container](const JSON_Value *value) {
            return json_value_get_object(value) == container ||
                   json_value_get_array(value) == container;
        },
        0);
}
