// A framed stream fed record by record through the decoding filter: any
// header values, any lengths, format switches. The input is a list of
// samples, each a 16-bit little-endian size followed by that many bytes, so
// that a sample's declared payload length can be larger or smaller than
// what the sample holds.
#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/guids.h"
#include "runner/filter_runner.h"

namespace {

velkorix::runner::FilterRunner &Runner() {
    static velkorix::runner::FilterRunner runner(8000, 1, [](const uint8_t *data, std::size_t size) {
        // Touch every delivered byte so that reads of unwritten memory show.
        volatile uint8_t sink = 0;
        for (std::size_t i = 0; i < size; ++i) sink = sink ^ data[i];
    });
    return runner;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    auto &runner = Runner();
    // Every input starts from a fresh decoder, as after a media-type check.
    runner.Filter().QueryAcceptInput(runner.Filter().InputConnectionType());
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 2) break;
        const std::size_t want = data[at] | static_cast<std::size_t>(data[at + 1]) << 8;
        at += 2;
        const std::size_t take = std::min(want, size - at);
        std::vector<uint8_t> sample(data + at, data + at + take);  // exact size: overreads are caught
        runner.Feed(sample.data(), sample.size());
        at += take;
    }
    return 0;
}
