// The stand-in platform's sample allocator: the lifetime of an allocator with
// samples still out, decommitting with samples out, and callers blocked in
// GetBuffer. The sanitizer run of the test command catches a sample used
// after its allocator went away and buffers that are never freed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "media_sample.h"

namespace {

using velkorix::MemAllocator;

MemAllocator *Committed(LONG buffers, LONG size) {
    MemAllocator *allocator = MemAllocator::Create();
    ALLOCATOR_PROPERTIES request{buffers, size, 1, 0}, actual{};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(allocator->Commit(), S_OK);
    return allocator;
}

TEST(Allocator, AnOutstandingSampleOutlivesTheLastReference) {
    MemAllocator *allocator = Committed(2, 4096);
    IMediaSample *sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(allocator->Release(), 0u);
    // The allocator and the sample's buffer are still there ...
    BYTE *data = nullptr;
    ASSERT_EQ(sample->GetPointer(&data), S_OK);
    std::memset(data, 0x5A, 4096);
    EXPECT_EQ(sample->SetActualDataLength(4096), S_OK);
    // ... until the sample comes back, which takes both down.
    EXPECT_EQ(sample->Release(), 0u);
}

TEST(Allocator, DecommitWithSamplesOutFreesWhenTheyComeBack) {
    MemAllocator *allocator = Committed(1, 512);
    IMediaSample *sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    IMediaSample *another = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&another, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(another, nullptr);
    sample->Release();
    // Committing again gives working buffers.
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    sample->Release();
    allocator->Release();
}

TEST(Allocator, ConcurrencyCommitAgainBeforeTheSamplesComeBack) {
    MemAllocator *allocator = Committed(1, 512);
    IMediaSample *sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE *first = nullptr;
    sample->GetPointer(&first);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    // The sizes cannot change while a sample of the old ones is out ...
    ALLOCATOR_PROPERTIES request{4, 64, 1, 0}, actual{};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    // ... and committing again keeps the one buffer: once it is back it is
    // the only one there is, so a second caller waits for the first.
    ASSERT_EQ(allocator->Commit(), S_OK);
    sample->Release();
    IMediaSample *again = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&again, nullptr, nullptr, 0), S_OK);
    BYTE *p = nullptr;
    again->GetPointer(&p);
    EXPECT_EQ(p, first);
    std::atomic<bool> got{false};
    std::thread second([&] {
        IMediaSample *s = nullptr;
        if (allocator->GetBuffer(&s, nullptr, nullptr, 0) == S_OK) {
            got = true;
            s->Release();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    again->Release();
    second.join();
    EXPECT_TRUE(got.load());
    allocator->Release();
}

TEST(Allocator, ConcurrencyBlockedCallerGetsTheReturnedSample) {
    MemAllocator *allocator = Committed(1, 256);
    IMediaSample *held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    std::atomic<bool> got{false};
    IMediaSample *received = nullptr;
    std::thread caller([&] {
        EXPECT_EQ(allocator->GetBuffer(&received, nullptr, nullptr, 0), S_OK);
        got = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());  // the only buffer is out
    held->Release();
    caller.join();
    EXPECT_EQ(received, held);  // the same sample, handed on
    received->Release();

    // Decommitting wakes a blocked caller with an error.
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    HRESULT result = S_OK;
    std::thread refused([&] { result = allocator->GetBuffer(&received, nullptr, nullptr, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    allocator->Decommit();
    refused.join();
    EXPECT_EQ(result, VFW_E_NOT_COMMITTED);
    held->Release();
    allocator->Release();
}

TEST(Allocator, ConcurrencyNoSampleIsHandedOutTwice) {
    MemAllocator *allocator = Committed(2, 64);
    std::atomic<int> owners[2] = {0, 0};
    std::vector<BYTE *> buffers;
    {
        IMediaSample *a = nullptr, *b = nullptr;
        allocator->GetBuffer(&a, nullptr, nullptr, 0);
        allocator->GetBuffer(&b, nullptr, nullptr, 0);
        BYTE *p = nullptr;
        a->GetPointer(&p);
        buffers.push_back(p);
        b->GetPointer(&p);
        buffers.push_back(p);
        a->Release();
        b->Release();
    }
    std::atomic<bool> twice{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                IMediaSample *s = nullptr;
                if (allocator->GetBuffer(&s, nullptr, nullptr, 0) != S_OK) continue;
                BYTE *p = nullptr;
                s->GetPointer(&p);
                const int k = p == buffers[0] ? 0 : 1;
                if (owners[k].fetch_add(1) != 0) twice = true;
                p[0] = static_cast<BYTE>(i);  // a plain write: two owners would race
                owners[k].fetch_sub(1);
                s->Release();
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_FALSE(twice.load());
    allocator->Release();
}

}  // namespace
