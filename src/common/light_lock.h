// A mutual-exclusion lock for a path that takes it once per media sample and
// almost never meets a contender: taking and giving it back cost one atomic
// operation each, where a general-purpose mutex spends several times that in
// bookkeeping. A contender sleeps on the state word (no spinning), and only
// then does giving the lock back wake someone. Not recursive.
#pragma once

#include <atomic>

namespace velkorix {

class LightLock {
public:
    void lock() {
        int expected = kFree;
        if (state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire)) return;
        // Mark the lock contended before sleeping, so that the holder wakes us.
        while (state_.exchange(kContended, std::memory_order_acquire) != kFree)
            state_.wait(kContended, std::memory_order_relaxed);
    }

    bool try_lock() {
        int expected = kFree;
        return state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire);
    }

    void unlock() {
        if (state_.exchange(kFree, std::memory_order_release) == kContended) state_.notify_one();
    }

private:
    static constexpr int kFree = 0, kHeld = 1, kContended = 2;
    std::atomic<int> state_{kFree};
};

}  // namespace velkorix
