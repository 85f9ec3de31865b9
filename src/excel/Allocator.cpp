#include "excel/Allocator.hpp"

#include <cstring>
#include <new>

namespace excel {

void BlockAllocator::create() {
    const std::size_t blocks = std::size_t(block_count) * block_size;
    char* memory = static_cast<char*>(::operator new(blocks + block_count * sizeof(std::uint32_t)));
    in_use = reinterpret_cast<std::uint32_t*>(memory + blocks);
    std::memset(in_use, 0, block_count * sizeof(std::uint32_t));
    base = memory;
}

void* BlockAllocator::raw_allocate(std::uint32_t bytes) {
    if (base == nullptr)
        create();
    for (std::uint32_t i = 0; i < block_count; ++i) {
        if (in_use[i] == 0) {
            in_use[i] = bytes;
            allocations += 1;
            return base + std::size_t(i) * block_size;
        }
    }
    return nullptr;
}

bool BlockAllocator::owns(const void* p) const {
    // Compared as addresses: p usually points into some other object.
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    return base != nullptr && a >= reinterpret_cast<std::uintptr_t>(base) &&
           a < reinterpret_cast<std::uintptr_t>(in_use);
}

std::uint32_t BlockAllocator::raw_deallocate(const void* p) {
    if (!owns(p))
        return 0;
    const std::size_t i = (reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base)) / block_size;
    const std::uint32_t bytes = in_use[i];
    in_use[i] = 0;
    releases += 1;
    return bytes;
}

std::uint32_t BlockAllocator::blocks_in_use() const {
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; base != nullptr && i < block_count; ++i)
        n += in_use[i] != 0;
    return n;
}

void* Allocator::raw_allocate(std::uint32_t bytes) {
    void* p = nullptr;
    if (bytes <= small.block_size)
        p = small.raw_allocate(bytes);
    if (p == nullptr && bytes <= large.block_size)
        p = large.raw_allocate(bytes);
    return p;
}

std::uint32_t Allocator::raw_deallocate(const void* p) {
    std::uint32_t bytes = small.raw_deallocate(p);
    if (bytes == 0)
        bytes = large.raw_deallocate(p);
    return bytes;
}

void* Allocator::allocate(std::uint32_t bytes) {
    void* p = raw_allocate(bytes);
    if (p == nullptr) {
        p = new char[bytes];
        heap_allocations += 1;
    }
    return p;
}

void Allocator::deallocate(void* p) {
    if (p == nullptr || raw_deallocate(p) != 0)
        return;
    // A pooled pointer whose block was already free would land here too; it is not ours
    // to give to the heap.
    if (small.owns(p) || large.owns(p))
        return;
    heap_releases += 1;
    delete[] static_cast<char*>(p);
}

} // namespace excel
