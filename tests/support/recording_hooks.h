// Allocation hooks for tests: they count live blocks, record every release in
// order and can make the Nth allocation fail.
#ifndef TESTS_RECORDING_HOOKS_H
#define TESTS_RECORDING_HOOKS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <vector>

typedef struct json_value_t JSON_Value;

namespace recording_hooks {

// Installs the recording hooks and clears every record.
void install();
// Puts the C library's malloc and free back.
void uninstall();
// The hooks themselves, for tests that wrap them in hooks of their own.
void *allocate(size_t size);
void release(void *block);
// Forgets all records (live blocks are kept) and disarms failure.
void reset_records();

size_t live_blocks();
size_t allocation_count();  // since the last reset
const std::vector<size_t> &allocation_sizes();
const std::vector<void *> &allocated_blocks();  // in order, as allocation_sizes
const std::vector<void *> &releases();          // in order, null pointers included
// Makes allocation number n (1-based, counted from now) fail; 0 disarms.
void fail_allocation(size_t n);
// Makes every allocation from now on fail (until fail_allocation(0)).
void fail_all_allocations();
// True when the armed failure has fired.
bool failure_fired();

// Runs `attempt` with allocation 1, 2, ... failing, until a run needs no
// failed allocation. Every failing run must give null and leave no block
// alive; the last run must give a value. Returns the count of failing runs.
size_t sweep_failing_allocations(const std::function<JSON_Value *()> &attempt);

}  // namespace recording_hooks

// Fixture: every test runs under the recording hooks and must leave no block
// alive behind it.
class HookedTest : public ::testing::Test {
protected:
    void SetUp() override { recording_hooks::install(); }
    void TearDown() override
    {
        EXPECT_EQ(recording_hooks::live_blocks(), 0u) << "blocks left alive by the test";
        recording_hooks::uninstall();
    }
};

#endif
