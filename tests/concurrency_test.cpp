// Several filter instances decoding different streams on their own threads
// while another thread keeps querying their media types and reading and
// writing their levels. Every stream's output must equal its single-threaded
// decode byte for byte. Run under ThreadSanitizer in the test command, where
// any race is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "filter/guids.h"
#include "runner/filter_runner.h"
#include "platform/media_type.h"
#include "test_support.h"

namespace {

using velkorix::runner::FilterRunner;

std::vector<std::vector<uint8_t>> MakeStream(uint32_t seed, int records) {
    velkorix::test::Lcg rng(seed);
    // Formats whose decoders this build carries, with the payload sizes they take.
    const struct {
        uint8_t format;
        int32_t size;
    } kinds[] = {{0, 120}, {0, 60}, {1, 160}, {2, 240}, {3, 40}, {6, 164}, {4, 30}};
    std::vector<std::vector<uint8_t>> stream;
    for (int i = 0; i < records; ++i) {
        // Runs of one format, so decoders keep state for a while before switching.
        const auto &kind = kinds[(i / 8 + seed) % (sizeof(kinds) / sizeof(kinds[0]))];
        std::vector<uint8_t> r(18 + static_cast<std::size_t>(kind.size));
        r[13] = kind.format;
        std::memcpy(r.data() + 14, &kind.size, 4);
        for (std::size_t k = 18; k < r.size(); ++k) r[k] = static_cast<uint8_t>(rng.Next() >> 24);
        stream.push_back(std::move(r));
    }
    return stream;
}

std::vector<uint8_t> DecodeAll(FilterRunner &runner, std::vector<uint8_t> &out,
                               const std::vector<std::vector<uint8_t>> &stream) {
    for (const auto &r : stream) runner.Feed(r.data(), r.size());
    return out;
}

TEST(Concurrency, ParallelFiltersMatchTheirSingleThreadedDecode) {
    constexpr int kFilters = 4;
    constexpr int kRecords = 400;
    std::vector<std::vector<std::vector<uint8_t>>> streams;
    std::vector<std::vector<uint8_t>> expected(kFilters);
    for (int f = 0; f < kFilters; ++f) {
        streams.push_back(MakeStream(100 + static_cast<uint32_t>(f), kRecords));
        std::vector<uint8_t> out;
        FilterRunner alone(8000, 1, [&](const uint8_t *d, std::size_t n) { out.insert(out.end(), d, d + n); });
        expected[static_cast<std::size_t>(f)] = DecodeAll(alone, out, streams.back());
        ASSERT_FALSE(expected[static_cast<std::size_t>(f)].empty());
    }

    std::vector<std::vector<uint8_t>> outputs(kFilters);
    std::vector<std::unique_ptr<FilterRunner>> runners;
    for (int f = 0; f < kFilters; ++f) {
        auto *out = &outputs[static_cast<std::size_t>(f)];
        runners.push_back(std::make_unique<FilterRunner>(
            8000, 1, [out](const uint8_t *d, std::size_t n) { out->insert(out->end(), d, d + n); }));
        ASSERT_EQ(runners.back()->Status(), S_OK);
    }

    std::atomic<bool> done{false};
    std::atomic<long> checks{0};
    std::thread checker([&] {
        while (!done) {
            for (auto &runner : runners) {
                auto &filter = runner->Filter();
                AM_MEDIA_TYPE type{};
                if (filter.GetMediaType(0, &type) == S_OK) {
                    if (filter.CheckTransform(filter.InputConnectionType(), &type) != S_OK) std::abort();
                    velkorix::FreeMediaType(type);
                }
                // The level is written while samples flow: the streaming
                // thread's level step reads it on every sample. The audio
                // does not depend on it.
                signed char level = 0;
                filter.GetLevel(&level);
                const long n = checks.fetch_add(1);
                if (n % 5 == 4)
                    filter.ResetLevel();
                else
                    filter.SetLevel(static_cast<LONG>(n % 255) - 127, 0);
            }
        }
    });
    std::vector<std::thread> workers;
    for (int f = 0; f < kFilters; ++f) {
        workers.emplace_back([&, f] {
            for (const auto &r : streams[static_cast<std::size_t>(f)]) runners[static_cast<std::size_t>(f)]->Feed(r.data(), r.size());
        });
    }
    for (auto &w : workers) w.join();
    done = true;
    checker.join();

    EXPECT_GT(checks.load(), 0);
    for (int f = 0; f < kFilters; ++f)
        EXPECT_TRUE(outputs[static_cast<std::size_t>(f)] == expected[static_cast<std::size_t>(f)]) << "filter " << f;
}

}  // namespace
