// The entries of the containers a parse holds open.
#ifndef JSONTREE_OPEN_ENTRIES_H
#define JSONTREE_OPEN_ENTRIES_H

#include "container.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace jsontree::detail {

// Members and items of the containers still open, innermost last. A
// container's entries gather at the top while it is read and move into slot
// arrays of exactly their count when it closes, so no container grows or
// shrinks on the way and a name moves from the text into the object without
// a copy. Whatever is still held when a parse fails is released here.
class OpenEntries {
public:
    OpenEntries() = default;
    ~OpenEntries();
    OpenEntries(const OpenEntries &) = delete;
    OpenEntries &operator=(const OpenEntries &) = delete;

    size_t size() const { return count_; }

    // Takes `name` (null for an array item) and `value` on success only;
    // `hash` is name_hash of the name.
    bool push(char *name, uint32_t hash, JSON_Value *value)
    {
        if (count_ == capacity_ && !grow())
            return false;
        entries_[count_++] = {name, value, hash};
        return true;
    }

    // Names are unique within an object; they compare after decoding. The
    // hashes kept beside the names spare reading most of them.
    bool holds_name(size_t first, std::string_view name, uint32_t hash) const
    {
        for (size_t i = first; i < count_; i++) {
            const char *held = entries_[i].name;
            if (entries_[i].hash == hash && strncmp(held, name.data(), name.size()) == 0 &&
                held[name.size()] == '\0')
                return true;
        }
        return false;
    }

    // Hands the entries from `first` on to `object` as its members.
    bool move_members(size_t first, JSON_Object *object)
    {
        size_t count = count_ - first;
        if (count == 0)
            return true;
        if (!resize_members(object, count))
            return false;
        for (size_t i = 0; i < count; i++) {
            object->names[i] = entries_[first + i].name;
            object->values[i] = entries_[first + i].value;
        }
        object->count = count;
        count_ = first;
        return true;
    }

    // Hands the entries from `first` on to `array` as its items.
    bool move_items(size_t first, JSON_Array *array)
    {
        size_t count = count_ - first;
        if (count == 0)
            return true;
        if (!resize_items(array, count))
            return false;
        for (size_t i = 0; i < count; i++)
            array->items[i] = entries_[first + i].value;
        array->count = count;
        count_ = first;
        return true;
    }

private:
    struct Entry {
        char *name;
        JSON_Value *value;
        uint32_t hash;
    };

    // Doubles the room, into a heap block once the inline room is full.
    bool grow();

    // Most documents never hold more entries open at once than fit here, so
    // a parse asks for no large block (docs/performance.md: large blocks set
    // off glibc's merging of the blocks a release freed).
    static constexpr size_t INLINE_ENTRIES = 512;
    Entry inline_entries_[INLINE_ENTRIES];
    Entry *entries_ = inline_entries_;
    size_t count_ = 0;
    size_t capacity_ = INLINE_ENTRIES;
};

}  // namespace jsontree::detail

#endif
