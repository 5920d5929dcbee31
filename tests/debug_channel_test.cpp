// The debugger channel: a thread's own sink sees that thread's messages and
// no other's, while threads without one reach the process-wide sink.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_channel.h"

namespace {

struct Received {
    std::vector<std::string> texts;
    static void Sink(void *context, const char *text) { static_cast<Received *>(context)->texts.emplace_back(text); }
};

struct Counted {
    std::atomic<long> count{0};
    static void Sink(void *context, const char *) { ++static_cast<Counted *>(context)->count; }
};

TEST(DebugChannelConcurrency, EachThreadSinkSeesOnlyItsOwnThread) {
    Counted global;
    velkorix::DebugSink previous = nullptr;
    void *previousContext = nullptr;
    velkorix::SetDebugSink(&Counted::Sink, &global, &previous, &previousContext);

    constexpr int kThreads = 4, kMessages = 5000;
    std::vector<Received> received(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &received] {
            const std::string mine = "thread " + std::to_string(t);
            velkorix::SetThreadDebugSink(&Received::Sink, &received[static_cast<std::size_t>(t)]);
            for (int i = 0; i < kMessages; ++i) velkorix::DebugOutput(mine.c_str());
            velkorix::SetThreadDebugSink(nullptr, nullptr);
            // Without its own sink the thread reaches the process-wide one.
            velkorix::DebugOutput("after");
        });
    }
    // The main thread has no sink of its own while the others run.
    for (int i = 0; i < 100; ++i) velkorix::DebugOutput("main");
    for (auto &thread : threads) thread.join();
    velkorix::SetDebugSink(previous, previousContext);

    for (int t = 0; t < kThreads; ++t) {
        const auto &texts = received[static_cast<std::size_t>(t)].texts;
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(kMessages)) << "thread " << t;
        for (const auto &text : texts) ASSERT_EQ(text, "thread " + std::to_string(t));
    }
    EXPECT_EQ(global.count.load(), 100 + kThreads);
}

TEST(DebugChannel, ThreadSinkRestoresThePreviousOne) {
    Received outer, inner;
    velkorix::SetThreadDebugSink(&Received::Sink, &outer);
    velkorix::DebugSink previous = nullptr;
    void *previousContext = nullptr;
    velkorix::SetThreadDebugSink(&Received::Sink, &inner, &previous, &previousContext);
    velkorix::DebugOutput("inner");
    velkorix::SetThreadDebugSink(previous, previousContext);
    velkorix::DebugOutput("outer");
    velkorix::SetThreadDebugSink(nullptr, nullptr);
    EXPECT_EQ(inner.texts, std::vector<std::string>{"inner"});
    EXPECT_EQ(outer.texts, std::vector<std::string>{"outer"});
}

}  // namespace
