#ifndef OMBRIX_HOST_ENGINE_FREEMEMORY_HPP
#define OMBRIX_HOST_ENGINE_FREEMEMORY_HPP

// Large phases of a run (a workbook's load, a full ordering) leave pages the C library keeps for
// later allocations; handed back, the phases' peaks do not stack up. Only glibc's own allocator
// has such pages: a sanitizer replaces it, and glibc's trim would then walk arenas that a thread
// never set up.

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace host::engine {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define OMBRIX_MALLOC_REPLACED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OMBRIX_MALLOC_REPLACED 1
#endif

inline void give_back_free_memory() {
#if defined(__GLIBC__) && !defined(OMBRIX_MALLOC_REPLACED)
    malloc_trim(0);
#endif
}

// Large blocks mapped apart from the heap, so that freeing them hands them back at once.
inline void map_large_blocks_apart(int threshold) {
#if defined(__GLIBC__) && !defined(OMBRIX_MALLOC_REPLACED)
    mallopt(M_MMAP_THRESHOLD, threshold);
#else
    (void)threshold;
#endif
}

} // namespace host::engine

#endif
