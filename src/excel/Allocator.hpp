#ifndef OMBRIX_EXCEL_ALLOCATOR_HPP
#define OMBRIX_EXCEL_ALLOCATOR_HPP

#include <cstdint>

namespace excel {

// A pool of block_count equal blocks, handed out lowest free block first. The blocks and
// the per-block in_use words are one heap block: the words follow the last block, so
// in_use also marks the end of the blocks. The pool is made on first use and never
// freed, so statics anywhere may use it during their own construction and destruction.
class BlockAllocator {
public:
    constexpr BlockAllocator(std::uint32_t size, std::uint32_t count)
        : block_size(size), block_count(count), base(nullptr), in_use(nullptr), allocations(0), releases(0) {}

    // The lowest free block, with bytes recorded in its word; null when all are in use.
    // bytes is not compared with block_size and must not be 0: callers see to both.
    void* raw_allocate(std::uint32_t bytes);
    // When p lies within the blocks: frees its block and returns the byte count it was
    // handed out for (0 if it was free). Otherwise returns 0 and changes nothing.
    std::uint32_t raw_deallocate(const void* p);

    // Blocks handed out now.
    std::uint32_t blocks_in_use() const;
    // Whether p lies within this pool's blocks.
    bool owns(const void* p) const;

    std::uint32_t block_size;
    std::uint32_t block_count;
    char* base;
    std::uint32_t* in_use;
    double allocations;
    double releases;

private:
    void create();
};

// Two pools, small then large, with the heap behind them.
class Allocator {
public:
    constexpr Allocator(std::uint32_t small_size, std::uint32_t large_size)
        : small(small_size, 8), large(large_size, 8), heap_allocations(0), heap_releases(0) {}

    // small when bytes fits its blocks; else (or when small is full) large when bytes
    // fits; else null.
    void* raw_allocate(std::uint32_t bytes);
    // small first, then large; what the pool holding p returned, 0 when neither did.
    std::uint32_t raw_deallocate(const void* p);

    // What the wrappers use: a pooled block, or a heap array when the pools cannot help.
    void* allocate(std::uint32_t bytes);
    // Takes back what allocate gave: to its pool, or to the heap. Null is ignored.
    void deallocate(void* p);

    BlockAllocator small;
    BlockAllocator large;
    double heap_allocations;
    double heap_releases;
};

} // namespace excel

#endif
