// Decoding allocates nothing once the decoder exists. Every heap entry point
// of this test binary counts the calls made on a thread while that thread has
// counting switched on: global operator new, and on glibc (outside the
// sanitizers, which own the allocator) malloc, calloc and realloc too. The
// decoder's own blocks come through AlignedAlloc, watched through its
// allocator hook as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec_slot/aligned.h"
#include "g729_support.h"
#include "velkorix/codec_slot.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define G729_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define G729_TEST_SANITIZED 1
#endif
#endif

namespace {

thread_local bool counting = false;
thread_local long heapCalls = 0;

inline void Count() {
    if (counting) ++heapCalls;
}

class CountHeapCalls {
public:
    CountHeapCalls() {
        heapCalls = 0;
        counting = true;
    }
    ~CountHeapCalls() { counting = false; }
    long Calls() const { return heapCalls; }
};

}  // namespace

#if defined(__GLIBC__) && !defined(G729_TEST_SANITIZED)
#define G729_TEST_COUNTS_MALLOC 1
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


namespace {

using namespace g729test;

std::atomic<long> alignedCalls{0};
void *CountingAllocate(std::size_t size) {
    ++alignedCalls;
    return __builtin_malloc(size);
}
void CountingRelease(void *block) { __builtin_free(block); }

// Counts only the warnings; writes nothing and stores nothing.
std::atomic<long> warnings{0};
void CountWarning(void *, const char *) { ++warnings; }

TEST(G729Allocation, DecodingAllocatesNothingAfterCreation) {
    const velkorix::RawAllocator previous = velkorix::SetRawAllocator({CountingAllocate, CountingRelease});
    G729DiagnosticSink previousSink = nullptr;
    void *previousContext = nullptr;
    G729SetDiagnosticSink(CountWarning, nullptr, &previousSink, &previousContext);

    // The counter notices a heap call when there is one.
    {
        CountHeapCalls probe;
        void *volatile p = ::operator new(16);
        ::operator delete(p);
        EXPECT_EQ(probe.Calls(), 1) << "operator new is counted";
    }
#ifdef G729_TEST_COUNTS_MALLOC
    {
        CountHeapCalls probe;
        void *volatile p = std::malloc(16);
        std::free(p);
        EXPECT_EQ(probe.Calls(), 1) << "malloc is counted";
    }
#endif

    alignedCalls = 0;
    G729Decoder *d = G729Decoder_Create();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(alignedCalls.load(), 2) << "the record and its bit reader";
    CodecSlot *slot = new CodecSlot{};
    ASSERT_EQ(CodecSlotCreate(slot, 0, 0, 8), 1);

    // Random frames, and frames that reach both LSP clamps (whose warnings
    // run through the diagnostics hook).
    Lcg rng(31);
    std::vector<uint8_t> frames(10 * 400);
    for (auto &b : frames) b = static_cast<uint8_t>(rng.Next() >> 24);
    const uint8_t low[3] = {0x11, 0x8C, 0x40}, high[3] = {0x79, 0x5A, 0xC0};
    for (int i = 0; i < 20; ++i) {
        std::memcpy(&frames[10 * (100 + i)], low, 3);
        std::memcpy(&frames[10 * (200 + i)], high, 3);
    }
    std::vector<uint8_t> output(640);
    alignedCalls = 0;
    warnings = 0;
    {
        CountHeapCalls count;
        for (std::size_t f = 0; f < frames.size() / 10; ++f) {
            std::memcpy(d->inputFrame, &frames[10 * f], 10);
            G729Decoder_DecodeFrame(d);
        }
        for (std::size_t f = 0; f + 4 <= frames.size() / 10; f += 4) {
            slot->input = &frames[10 * f];
            slot->inputLength = 40;
            slot->output = output.data();
            CodecSlotDecode(slot);
        }
        EXPECT_EQ(count.Calls(), 0) << "heap calls while decoding";
    }
    EXPECT_EQ(alignedCalls.load(), 0);
    EXPECT_GT(warnings.load(), 0) << "the warning path ran";

    CodecSlotDestroy(slot);
    delete slot;
    G729Decoder_Destroy(d);
    G729SetDiagnosticSink(previousSink, previousContext);
    velkorix::SetRawAllocator(previous);
}

}  // namespace
