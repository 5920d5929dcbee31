// The filter path allocates nothing per record: once a decoder of the format
// exists, feeding records of every format through the filter (input sample,
// Transform, output sample, delivery) makes no heap call.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "filter_runner.h"
#include "heap_counter.h"
#include "stream/frame_format.h"

namespace {

// A record of `format` with a payload of `bytes` bytes of varied values.
std::vector<uint8_t> Record(uint8_t format, uint32_t bytes) {
    std::vector<uint8_t> record(velkorix::stream::kHeaderSize + bytes);
    velkorix::stream::WriteHeader(record.data(), format, static_cast<int32_t>(bytes));
    for (uint32_t i = 0; i < bytes; ++i) record[velkorix::stream::kHeaderSize + i] = static_cast<uint8_t>(i * 37 + 11);
    return record;
}

TEST(FilterHeap, RecordsOfEveryFormatAllocateNothing) {
    struct Case {
        uint8_t format;
        uint32_t bytes;
    } cases[] = {{0, 120}, {1, 160}, {2, 320}, {3, 40}, {6, 164}};
    std::size_t delivered = 0;
    velkorix::cli::FilterRunner runner(8000, 1, [&](const uint8_t *, std::size_t size) { delivered += size; });
    ASSERT_EQ(runner.Status(), S_OK);
    for (const Case &c : cases) {
        const auto record = Record(c.format, c.bytes);
        // The first record of a format creates its decoder; the rest must not allocate.
        ASSERT_EQ(runner.Feed(record.data(), record.size()), S_OK);
        const long calls = velkorix::test::HeapCallsDuring([&] {
            for (int n = 0; n < 50; ++n) runner.Feed(record.data(), record.size());
        });
        EXPECT_EQ(calls, 0) << "format " << int(c.format);
    }
    EXPECT_GT(delivered, 0u);
}

}  // namespace
