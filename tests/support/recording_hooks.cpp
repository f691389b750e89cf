#include "recording_hooks.h"

#include "jsontree.h"

#include <cstdlib>
#include <unordered_set>

namespace recording_hooks {
namespace {

std::unordered_set<void *> live;
std::vector<size_t> sizes;
std::vector<void *> blocks;
std::vector<void *> released;
size_t allocations = 0;
size_t fail_at = 0;  // allocation number that fails; 0 = none
bool fail_every = false;
bool fired = false;

}  // namespace

void *allocate(size_t size)
{
    allocations++;
    if (fail_every || (fail_at != 0 && allocations == fail_at)) {
        fired = true;
        return nullptr;
    }
    void *block = std::malloc(size);
    if (block) {
        live.insert(block);
        sizes.push_back(size);
        blocks.push_back(block);
    }
    return block;
}

void release(void *block)
{
    released.push_back(block);
    if (block) {
        EXPECT_EQ(live.erase(block), 1u) << "release of a block the hooks never gave out";
        std::free(block);
    }
}

void install()
{
    live.clear();
    reset_records();
    json_set_allocation_functions(allocate, release);
}

void uninstall()
{
    json_set_allocation_functions(std::malloc, std::free);
}

void reset_records()
{
    sizes.clear();
    blocks.clear();
    released.clear();
    allocations = 0;
    fail_at = 0;
    fail_every = false;
    fired = false;
}

size_t live_blocks()
{
    return live.size();
}
size_t allocation_count()
{
    return allocations;
}
const std::vector<size_t> &allocation_sizes()
{
    return sizes;
}
const std::vector<void *> &allocated_blocks()
{
    return blocks;
}
const std::vector<void *> &releases()
{
    return released;
}

void fail_allocation(size_t n)
{
    fail_every = false;
    fired = false;
    fail_at = n == 0 ? 0 : allocations + n;
}

void fail_all_allocations()
{
    fired = false;
    fail_every = true;
}

bool failure_fired()
{
    return fired;
}

size_t sweep_failing_allocations(const std::function<JSON_Value *()> &attempt)
{
    size_t failing = 1;
    for (;; failing++) {
        fail_allocation(failing);
        JSON_Value *value = attempt();
        bool failed = failure_fired();
        fail_allocation(0);
        if (!failed) {
            EXPECT_NE(value, nullptr);
            json_value_free(value);
            return failing - 1;
        }
        EXPECT_EQ(value, nullptr) << "allocation " << failing;
        json_value_free(value);
        EXPECT_EQ(live_blocks(), 0u) << "allocation " << failing;
    }
}

}  // namespace recording_hooks
