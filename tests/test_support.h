// Helpers shared by the tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "common/cpu_features.h"
#include "common/debug_channel.h"
#include "support/generators.h"

namespace velkorix::test {

// Collects every debugger-channel message while it lives.
class DebugCapture {
public:
    DebugCapture() { SetDebugSink(&DebugCapture::Sink, this, &previous_, &previousContext_); }
    ~DebugCapture() { SetDebugSink(previous_, previousContext_); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    std::vector<std::string> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    int Count(const std::string &text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto &m : messages_) n += m == text;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

private:
    static void Sink(void *context, const char *text) {
        auto *self = static_cast<DebugCapture *>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->messages_.emplace_back(text);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    DebugSink previous_ = nullptr;
    void *previousContext_ = nullptr;
};

// Number of upcoming `new (std::nothrow)` allocations that fail, for tests of
// creation functions under memory exhaustion. The test binary's replacement
// of the allocation functions (heap_counter.cpp) consumes it.
inline std::atomic<int> failingNothrowAllocations{0};
inline bool TakeNothrowAllocationFailure() {
    int left = failingNothrowAllocations.load();
    while (left > 0)
        if (failingNothrowAllocations.compare_exchange_weak(left, left - 1)) return true;
    return false;
}

}  // namespace velkorix::test

namespace velkorix {

// Names the kernel level in parameterised test names and messages.
inline void PrintTo(SimdLevel level, std::ostream *out) {
    *out << (level == SimdLevel::Portable ? "portable" : "AVX2");
}

}  // namespace velkorix
