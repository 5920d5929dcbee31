// Video test streams and the two ways of decoding them that the video tests
// compare: libavcodec called directly (the oracle) and the codec slot (through
// the video module). Streams are made here with libavcodec's own encoders
// (mpeg4, and libx264 for H.264).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "velkorix/codec_slot.h"

namespace velkorix::test {

using Unit = std::vector<uint8_t>;

// One picture in the slot's layout: Y, U, V planes contiguous, unpadded.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Picture &other) const {
        return width == other.width && height == other.height && bytes == other.bytes;
    }
};

enum class VideoCodec { Mpeg4, H264 };

struct StreamSpec {
    VideoCodec codec = VideoCodec::Mpeg4;
    int width = 176;
    int height = 144;
    int frames = 24;
    int bFrames = 2;       // B pictures between references
    int keyInterval = 12;  // pictures from one key picture to the next
    uint32_t seed = 1;     // the moving pattern's noise
};

// The encoder's packets: one unit each (a VOP with the headers before it; an
// H.264 access unit), headers in the stream. Empty when the encoder is
// missing.
std::vector<Unit> EncodeStream(const StreamSpec &spec);
// Whether libavcodec here has the encoder of `codec`.
bool HaveEncoder(VideoCodec codec);

// Decoder options, applied the same way to both decoders.
struct DecodeOptions {
    bool lowDelay = false;          // slot: CodecSlotSetDelay(0)
    bool skipNonReference = false;  // slot: CodecSlotSetDecoderFlag(1)
    int concealment = -1;           // slot: CodecSlotSetOutputOptions(bit 0, bit 1); -1 leaves the default
};

// libavcodec's own decode of `units`, one packet each, then drained: every
// picture in output order.
std::vector<Picture> DecodeDirect(VideoCodec codec, const std::vector<Unit> &units, const DecodeOptions &options = {});

// The same through a codec slot of `type` (0, 1 or 16; type 16 puts
// `prefix` before every unit), then drained with empty input. `answers`
// gets each decode call's answer when given.
std::vector<Picture> DecodeThroughSlot(int32_t type, const std::vector<Unit> &units,
                                       const DecodeOptions &options = {}, std::vector<int> *answers = nullptr,
                                       uint32_t prefix = 0);

// The current picture of a slot, checked against its frame size; fails the
// calling test (and returns an empty picture) when they disagree.
Picture CurrentPicture(CodecSlot *slot);

// Decodes one unit (type 16: after a 4-byte prefix) through the slot.
int32_t DecodeUnit(CodecSlot *slot, const uint8_t *data, std::size_t size);

// Where the tests find the video module of this build; set in the environment
// before the first video decoder is created.
const char *VideoModulePath();

// Fails the test under CI (CI=true), skips it otherwise, when libavcodec has
// no encoder for `codec`.
#define VELKORIX_REQUIRE_ENCODER(codec)                                                        \
    do {                                                                                       \
        if (!::velkorix::test::HaveEncoder(codec)) {                                           \
            const char *ci = std::getenv("CI");                                                \
            if (ci && std::string(ci) == "true") FAIL() << "libavcodec has no encoder for this codec"; \
            GTEST_SKIP() << "libavcodec has no encoder for this codec";                        \
        }                                                                                      \
    } while (0)

}  // namespace velkorix::test
