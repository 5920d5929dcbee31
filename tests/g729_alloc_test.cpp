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

#include "common/aligned.h"
#include "g729_support.h"
#include "heap_counter.h"
#include "velkorix/codec_slot.h"

namespace {

using namespace g729test;
using velkorix::test::CountHeapCalls;

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
    if (velkorix::test::CountsMalloc()) {
        CountHeapCalls probe;
        void *volatile p = std::malloc(16);
        std::free(p);
        EXPECT_EQ(probe.Calls(), 1) << "malloc is counted";
    }

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
