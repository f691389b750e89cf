// Allocation hooks for the benchmarks: a heap that counts what passes
// through a library's hooks, and the record and replay of one parse's
// mallocs and frees, which give the allocation floor.
#ifndef BENCH_HEAPS_H
#define BENCH_HEAPS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace bench {

// Allocation hooks that keep a size header in front of each block, so the
// release hook knows how many bytes leave. Counts only what passes through
// the hooks of the library under test.
class CountingHeap {
public:
    static void *allocate(size_t size)
    {
        auto *block = static_cast<unsigned char *>(std::malloc(header_size + size));
        if (!block)
            return nullptr;
        std::memcpy(block, &size, sizeof size);
        current_bytes += size;
        allocated_bytes += size;
        peak_bytes = std::max(peak_bytes, current_bytes);
        ++allocation_count;
        return block + header_size;
    }

    static void release(void *pointer)
    {
        if (!pointer)
            return;
        auto *block = static_cast<unsigned char *>(pointer) - header_size;
        size_t size;
        std::memcpy(&size, block, sizeof size);
        current_bytes -= size;
        std::free(block);
    }

    static void reset() { current_bytes = allocated_bytes = peak_bytes = allocation_count = 0; }

    static inline size_t current_bytes = 0;
    static inline size_t allocated_bytes = 0;  // every allocation's bytes, released or not
    static inline size_t peak_bytes = 0;
    static inline size_t allocation_count = 0;

private:
    static constexpr size_t header_size = alignof(std::max_align_t);
};

// Allocation hooks that cut blocks one after the other from one arena and
// release nothing: a parse through them costs what the library itself does,
// with the C library's allocator taken away.
class ArenaHeap {
public:
    static void prepare(size_t bytes)
    {
        arena.assign(bytes, 0);
        used = 0;
        exhausted = false;
    }

    static void reset() { used = 0; }

    static void *allocate(size_t size)
    {
        size_t rounded = (size + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
        if (rounded > arena.size() - used) {
            exhausted = true;
            return nullptr;
        }
        void *block = arena.data() + used;
        used += rounded;
        return block;
    }

    static void release(void *) {}

    static inline bool exhausted = false;

private:
    // operator new, behind the vector, aligns its blocks this far.
    static constexpr size_t ALIGNMENT = alignof(std::max_align_t);
    static inline std::vector<unsigned char> arena;
    static inline size_t used = 0;
};

using Allocate = void *(*)(size_t);
using Release = void (*)(void *);

// Allocation hooks that record every call in order, so that a replay can
// make exactly the same mallocs and frees with nothing else around them.
// Recording allocates nothing while the library runs (room for the calls is
// reserved first), so the heap sees the library's calls only.
class RecordingHeap {
public:
    struct Call {
        bool allocates;
        void *block;
        size_t size;  // bytes requested by an allocation
    };

    static void start(size_t most_calls)
    {
        calls.clear();
        calls.reserve(most_calls);
    }

    static void *allocate(size_t size)
    {
        void *block = std::malloc(size);
        if (block)
            record({true, block, size});
        return block;
    }

    static void release(void *block)
    {
        record({false, block, 0});
        std::free(block);
    }

    static inline std::vector<Call> calls;
    static inline bool overflowed = false;

private:
    static void record(Call call)
    {
        if (calls.size() == calls.capacity())
            overflowed = true;
        else
            calls.push_back(call);
    }
};

// Makes recorded calls again with the C library's malloc and free, each
// block known by its allocation number rather than its old address. A call
// takes eight bytes, so that the replay streams through less memory than
// the parse streams through its text.
//
// In the reversed order every block is obtained first, in the exact reverse
// of the order it is released, and then released as recorded: each small
// block's release then hands the next round the address it had, and the
// heap stays as ordered as it can be. It is the best order the same blocks
// can come in, and one no single forward pass can produce: it obtains a
// container's slot arrays before its first entry, when their size is still
// unknown.
class AllocationReplay {
public:
    enum class Order {
        as_recorded,
        reverse_of_release
    };

    AllocationReplay(const std::vector<RecordingHeap::Call> &recorded, Order order)
    {
        std::unordered_map<void *, uint32_t> numbers;
        std::vector<uint32_t> sizes(1, 0);  // by block number; slot 0 always holds null
        for (const RecordingHeap::Call &call : recorded) {
            if (call.allocates) {
                numbers[call.block] = uint32_t(sizes.size());
                calls_.push_back({uint32_t(sizes.size()), uint32_t(call.size)});
                sizes.push_back(uint32_t(call.size));
            } else if (!call.block) {
                calls_.push_back({0, RELEASE});
            } else {
                auto number = numbers.find(call.block);
                calls_.push_back({number->second, RELEASE});
                numbers.erase(number);
            }
        }
        if (order == Order::reverse_of_release)
            reverse_allocations(sizes);
        blocks_.assign(sizes.size(), nullptr);
    }

    void operator()()
    {
        for (const Call &call : calls_) {
            if (call.size != RELEASE)
                blocks_[call.block] = std::malloc(call.size);
            else
                std::free(blocks_[call.block]);
        }
    }

private:
    static constexpr uint32_t RELEASE = UINT32_MAX;  // in place of a size
    struct Call {
        uint32_t block;
        uint32_t size;
    };

    void reverse_allocations(const std::vector<uint32_t> &sizes)
    {
        std::vector<Call> releases;
        for (const Call &call : calls_) {
            if (call.size == RELEASE)
                releases.push_back(call);
        }
        calls_.clear();
        for (auto release = releases.rbegin(); release != releases.rend(); ++release) {
            if (release->block != 0)
                calls_.push_back({release->block, sizes[release->block]});
        }
        calls_.insert(calls_.end(), releases.begin(), releases.end());
    }
    std::vector<Call> calls_;
    std::vector<void *> blocks_;
};

}  // namespace bench

#endif  // BENCH_HEAPS_H
