// The G.726 packed stream decoder with arbitrary payloads and lengths, in
// consecutive calls on one decoder.
#include <cstdint>
#include <vector>

#include "g726_stream/g726_stream.h"

using namespace velkorix::g726_stream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    G726StreamDecoder *decoder = G726StreamDecoderCreate();
    if (!decoder) return 0;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t wanted = data[at++];
        const std::size_t length = std::min<std::size_t>(wanted, size - at);
        std::vector<uint8_t> payload(data + at, data + at + length);
        std::vector<int16_t> out(length * 8 / 3);
        const int32_t n = G726StreamDecoderDecode(decoder, payload.data(), out.data(), static_cast<int32_t>(length));
        if (n != static_cast<int32_t>(length * 8 / 3)) __builtin_trap();
        if (decoder->YU < 544 || decoder->YU > 5120 || decoder->A2 < -12288 || decoder->A2 > 12288) __builtin_trap();
        at += length;
    }
    G726StreamDecoderDestroy(decoder);
    return 0;
}
