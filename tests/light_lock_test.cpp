// The per-sample lock of the codec context: mutual exclusion under heavy
// contention, sleepers woken when the holder lets go, try_lock. Run under
// ThreadSanitizer in the test command, which reports any access the lock
// fails to order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "common/light_lock.h"

namespace {

using velkorix::LightLock;

TEST(LightLock, ConcurrencyKeepsOneHolderAtATime) {
    LightLock lock;
    long counter = 0;  // plain: only the lock orders the increments
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    constexpr int kThreads = 4, kRounds = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard<LightLock> guard(lock);
                if (inside.fetch_add(1, std::memory_order_relaxed) != 0) overlapped = true;
                ++counter;
                // Now and then hold it long enough for the others to go to sleep.
                if (i % 4096 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
                inside.fetch_sub(1, std::memory_order_relaxed);
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_FALSE(overlapped.load());
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

TEST(LightLock, ConcurrencyWakesASleeperWhenReleased) {
    LightLock lock;
    lock.lock();
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        lock.lock();
        acquired = true;
        lock.unlock();
    });
    // The waiter cannot get in while the lock is held ...
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load());
    EXPECT_FALSE(lock.try_lock());
    // ... and gets in once it is given back.
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
}

}  // namespace
