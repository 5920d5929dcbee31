// One fuzz input through a codec slot of a video type: the input is cut into
// units the way `velkorix video decode` cuts a stream, each unit is decoded
// (a unit past the staging size is refused), the pictures held back are
// drained, and every picture that comes out is read whole and checked
// against its reported size.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "velkorix/codec_slot.h"
#include "video_units.h"

namespace velkorix::fuzz {

inline void NameVideoModule() { setenv("VELKORIX_VIDEO_MODULE", VELKORIX_VIDEO_MODULE_FILE, 0); }

// Reads every byte of the current picture (the sanitizer sees any read past
// it) and checks its size.
inline void CheckPicture(CodecSlot *slot) {
    int32_t w = 0, h = 0, bytes = 0;
    if (CodecSlotGetFrameSize(slot, &w, &h, &bytes) != 1) __builtin_trap();
    const auto *frame = static_cast<const volatile uint8_t *>(CodecSlotGetFrame(slot));
    if (!frame || w <= 0 || h <= 0) __builtin_trap();
    if (int64_t{bytes} != int64_t{w} * h + 2 * int64_t{(w + 1) / 2} * ((h + 1) / 2)) __builtin_trap();
    unsigned sum = 0;
    for (int32_t i = 0; i < bytes; ++i) sum += frame[i];
    (void)sum;
}

inline int DecodeThroughSlot(int32_t type, cli::video::UnitFormat format, const uint8_t *data, std::size_t size) {
    std::vector<cli::video::UnitSpan> units;
    std::string error;
    cli::video::SplitUnits(format, data, size, &units, &error);
    auto slot = std::make_unique<CodecSlot>();
    std::memset(slot.get(), 0, sizeof(CodecSlot));
    if (CodecSlotCreate(slot.get(), 0, 0, type) != 1 || !slot->instance) __builtin_trap();  // module missing
    // The unit's own copy, so that a read past it is seen.
    std::vector<uint8_t> unit;
    for (const cli::video::UnitSpan &span : units) {
        unit.assign(data + span.offset, data + span.offset + span.size);
        slot->input = unit.data();
        slot->inputLength = static_cast<int32_t>(unit.size());
        if (CodecSlotDecode(slot.get())) CheckPicture(slot.get());
        CodecSlotQueryDecoder(slot.get());
    }
    slot->input = nullptr;
    slot->inputLength = 0;
    for (int left = 64; left > 0 && CodecSlotDecode(slot.get()); --left) CheckPicture(slot.get());
    if (CodecSlotDestroy(slot.get()) != 1) __builtin_trap();
    return 0;
}

}  // namespace velkorix::fuzz

// The seed corpora (fuzz/corpus/video_*) are short streams made with ffmpeg:
//   ffmpeg -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 8 -pix_fmt yuv420p \
//          -c:v mpeg4 -bf 2 -g 4 -f m4v bframes.m4v
//   (48x32, 4 frames, no B-VOPs: plain.m4v)
//   ffmpeg ... -c:v libx264 -bf 2 -g 4 -x264-params aud=1 -f h264 bframes.h264
//   (48x32, 4 frames, -preset ultrafast: ultrafast.h264)
// and bframes.h264p is bframes.h264 cut at its access unit delimiters, each
// unit after its length as 4 big-endian bytes.
