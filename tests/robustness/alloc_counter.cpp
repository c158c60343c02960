#include "alloc_counter.h"

#include <cstddef>
#include <new>

namespace vyr::test {
namespace {
std::atomic<uint64_t> gCounted{0};
constinit thread_local bool tCounting = false;
}  // namespace

std::atomic<uint64_t>& countedAllocations() {
    return gCounted;
}
void countAllocationsOnThisThread(bool on) {
    tCounting = on;
}

}  // namespace vyr::test

#if VYR_ALLOC_COUNTER

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {
inline void note() {
    if (vyr::test::tCounting) vyr::test::gCounted.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    note();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    note();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    note();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    note();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* p) {
    __libc_free(p);
}
}

void* operator new(size_t size) {
    note();
    void* p = __libc_malloc(size != 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    __libc_free(p);
}
void operator delete[](void* p) noexcept {
    __libc_free(p);
}
void operator delete(void* p, size_t) noexcept {
    __libc_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    __libc_free(p);
}

#endif
