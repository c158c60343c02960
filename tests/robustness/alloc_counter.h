// Heap calls made on one thread, counted by replacing the allocation
// functions of the whole test program (they forward to the C library's own
// __libc_* entry points). A thread opts in with countAllocationsOnThisThread();
// allocations on other threads are not counted. Not available under the
// sanitizers, which replace the same functions themselves.
#pragma once

#include <atomic>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VYR_ALLOC_COUNTER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VYR_ALLOC_COUNTER 0
#endif
#endif
#ifndef VYR_ALLOC_COUNTER
#define VYR_ALLOC_COUNTER 1
#endif

namespace vyr::test {

// Calls of malloc, calloc, realloc, memalign-style functions and operator
// new made on counting threads.
std::atomic<uint64_t>& countedAllocations();
void countAllocationsOnThisThread(bool on);

}  // namespace vyr::test
