// Aligned heap blocks and the processor probe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/aligned.h"
#include "common/cpu_features.h"
#include "test_support.h"

namespace {

using velkorix::AlignedAlloc;
using velkorix::AlignedFree;
using velkorix::CpuLevel;

// A raw allocator that records request sizes and can hand out blocks at a
// chosen offset from a 256-byte boundary.
struct Recorder {
    static inline std::vector<std::size_t> requests;
    static inline std::vector<void *> released;
    static inline std::size_t offset = 0;  // distance past a 256-byte boundary
    static inline std::vector<void *> arenas;

    static void *Allocate(std::size_t size) {
        requests.push_back(size);
        void *arena = std::aligned_alloc(256, ((size + offset + 255) / 256 + 1) * 256);
        arenas.push_back(arena);
        return static_cast<unsigned char *>(arena) + offset;
    }
    static void Release(void *block) { released.push_back(block); }
};

class AlignedAllocTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::requests.clear();
        Recorder::released.clear();
        Recorder::offset = 0;
        previous_ = velkorix::SetRawAllocator({&Recorder::Allocate, &Recorder::Release});
    }
    void TearDown() override {
        velkorix::SetRawAllocator(previous_);
        for (void *a : Recorder::arenas) std::free(a);
        Recorder::arenas.clear();
    }
    velkorix::RawAllocator previous_{};
};

TEST_F(AlignedAllocTest, RequestsExactlySizePlusAlignment) {
    void *a = AlignedAlloc(8, 4);
    void *b = AlignedAlloc(1000, 16);
    void *c = AlignedAlloc(5, 0);
    EXPECT_EQ(Recorder::requests, (std::vector<std::size_t>{12, 1016, 6}));
    AlignedFree(a);
    AlignedFree(b);
    AlignedFree(c);
}

TEST_F(AlignedAllocTest, AlreadyAlignedBlockMovesAFullAlignmentForward) {
    for (uint32_t alignment : {4u, 16u, 128u}) {
        Recorder::released.clear();
        auto *p = static_cast<unsigned char *>(AlignedAlloc(64, alignment));
        const auto *block = static_cast<unsigned char *>(Recorder::arenas.back());
        EXPECT_EQ(p, block + alignment);
        EXPECT_EQ(p[-1], alignment);
        AlignedFree(p);
        ASSERT_EQ(Recorder::released.size(), 1u);
        EXPECT_EQ(Recorder::released[0], block);
    }
}

TEST_F(AlignedAllocTest, MisalignedBlockGetsTheDistanceInItsHeaderByte) {
    for (std::size_t offset : {1u, 3u, 7u, 15u}) {
        Recorder::offset = offset;
        Recorder::released.clear();
        auto *p = static_cast<unsigned char *>(AlignedAlloc(10, 16));
        const auto *start = static_cast<unsigned char *>(Recorder::arenas.back()) + offset;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_EQ(p[-1], static_cast<unsigned>(p - start));
        EXPECT_GE(p[-1], 1);
        EXPECT_LE(p[-1], 16);
        AlignedFree(p);
        EXPECT_EQ(Recorder::released[0], start);
    }
}

TEST_F(AlignedAllocTest, AlignmentZeroStoresOneInFront) {
    auto *p = static_cast<unsigned char *>(AlignedAlloc(3, 0));
    EXPECT_EQ(p, static_cast<unsigned char *>(Recorder::arenas.back()) + 1);
    EXPECT_EQ(p[-1], 1);
    AlignedFree(p);
    EXPECT_EQ(Recorder::released[0], Recorder::arenas.back());
}

TEST_F(AlignedAllocTest, OnlyTheLowEightBitsOfTheAlignmentCount) {
    void *p = AlignedAlloc(8, 0x104);  // counts as 4
    EXPECT_EQ(Recorder::requests.back(), 12u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
    AlignedFree(p);
}

TEST_F(AlignedAllocTest, FreeOfNullDoesNothing) {
    AlignedFree(nullptr);
    EXPECT_TRUE(Recorder::released.empty());
}

TEST(AlignedAlloc, HeapFailureGivesNull) {
    const auto previous = velkorix::SetRawAllocator({[](std::size_t) -> void * { return nullptr; }, nullptr});
    EXPECT_EQ(AlignedAlloc(16, 16), nullptr);
    EXPECT_EQ(AlignedAlloc(16, 0), nullptr);
    velkorix::SetRawAllocator(previous);
}

TEST(AlignedAlloc, RealHeapBlocksAreUsableAndAligned) {
    std::vector<void *> blocks;
    for (int i = 0; i < 200; ++i) {
        const uint32_t alignment = 1u << (i % 8);
        void *p = AlignedAlloc(static_cast<std::size_t>(i * 7 + 1), alignment);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        std::memset(p, 0xA5, static_cast<std::size_t>(i * 7 + 1));
        blocks.push_back(p);
    }
    for (void *p : blocks) AlignedFree(p);
}

TEST(CpuLevel, DecisionTableTakesTheBestFeatureInOrder) {
    const char *label = nullptr;
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0x201, 0x6800000, &label), 16);
    EXPECT_STREQ(label, "SSSE3=16");
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0x1, 0x6800000, &label), 8);
    EXPECT_STREQ(label, "SSE3=8");
    // SSE2 without SSE3 and SSSE3.
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0, 0x6800000, &label), 4);
    EXPECT_STREQ(label, "SSE2=4");
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0, 0x2800000, &label), 2);
    EXPECT_STREQ(label, "SSE=2");
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0, 0x800000, &label), 1);
    EXPECT_STREQ(label, "MMX=1");
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(0, 0, &label), 0);
    EXPECT_EQ(label, nullptr);
    // Unrelated bits do not count.
    EXPECT_EQ(velkorix::CpuLevelFromFeatures(~0x201u, ~0x6800000u, &label), 0);
}

TEST(CpuLevel, ReportsItsLevelOnTheDebuggerChannel) {
    velkorix::test::DebugCapture capture;
    const int level = CpuLevel();
    const auto messages = capture.Messages();
    if (level == 0) {
        EXPECT_TRUE(messages.empty());
    } else {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], std::string(messages[0].substr(0, messages[0].find('='))) + "=" + std::to_string(level));
    }
#if defined(__x86_64__)
    EXPECT_GE(level, 4);  // every x86-64 processor has SSE2
#endif
}

}  // namespace
