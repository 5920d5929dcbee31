// The heap-call counter of the test binary: replacements of the global
// allocation functions that count per thread. See heap_counter.h.
#include "heap_counter.h"

#include <cstdlib>
#include <new>

#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELKORIX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VELKORIX_TEST_SANITIZED 1
#endif
#endif

namespace {

thread_local int counting = 0;
thread_local long heapCalls = 0;

inline void Count() {
    if (counting) ++heapCalls;
}

}  // namespace


#if defined(__GLIBC__) && !defined(VELKORIX_TEST_SANITIZED)
#define VELKORIX_TEST_COUNTS_MALLOC 1
// glibc's own entry points stay reachable under these names.
extern "C" void *__libc_malloc(std::size_t);
extern "C" void *__libc_calloc(std::size_t, std::size_t);
extern "C" void *__libc_realloc(void *, std::size_t);
extern "C" void __libc_free(void *);
extern "C" void *malloc(std::size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void *calloc(std::size_t count, std::size_t size) {
    Count();
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *p, std::size_t size) {
    Count();
    return __libc_realloc(p, size);
}
extern "C" void free(void *p) { __libc_free(p); }
namespace {
void *RawMalloc(std::size_t size) { return __libc_malloc(size); }
}  // namespace
#else
namespace {
void *RawMalloc(std::size_t size) { return std::malloc(size); }
}  // namespace
#endif

// Global operator new, every form that allocates.
void *operator new(std::size_t size) {
    Count();
    if (void *p = RawMalloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    Count();
    if (velkorix::test::TakeNothrowAllocationFailure()) return nullptr;
    return RawMalloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void *operator new(std::size_t size, std::align_val_t alignment) {
    Count();
    const std::size_t a = static_cast<std::size_t>(alignment);
    if (void *p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }



namespace velkorix::test {

CountHeapCalls::CountHeapCalls() : start_(heapCalls) { ++counting; }
CountHeapCalls::~CountHeapCalls() { --counting; }
long CountHeapCalls::Calls() const { return heapCalls - start_; }

bool CountsMalloc() {
#ifdef VELKORIX_TEST_COUNTS_MALLOC
    return true;
#else
    return false;
#endif
}

}  // namespace velkorix::test
