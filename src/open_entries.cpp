// The open entries' release and growth, off the parser's path.
#include "open_entries.h"

using namespace jsontree::detail;

// Whatever a failed parse still held.
OpenEntries::~OpenEntries()
{
    for (size_t i = count_; i-- > 0;) {
        jsontree_free(entries_[i].name);
        json_value_free(entries_[i].value);
    }
    if (entries_ != inline_entries_)
        jsontree_free(entries_);
}

bool OpenEntries::grow()
{
    size_t capacity = capacity_ * 2;
    Entry *entries = static_cast<Entry *>(jsontree_malloc(capacity * sizeof(Entry)));
    if (!entries)
        return false;
    memcpy(entries, entries_, count_ * sizeof(Entry));
    if (entries_ != inline_entries_)
        jsontree_free(entries_);
    entries_ = entries;
    capacity_ = capacity;
    return true;
}
