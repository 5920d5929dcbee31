// G.729 behind the codec slot (type 8) and through the decoding filter
// (audio format 3): four frames per payload, memories chained across
// payloads, short payloads and small outputs kept inside their buffers.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "common/debug_channel.h"
#include "filter/audio_decoder_filter.h"
#include "runner/filter_runner.h"
#include "g729_support.h"
#include "velkorix/codec_slot.h"

namespace {

using namespace g729test;

std::vector<Frame> RandomFrames(std::size_t count, uint32_t seed) {
    Lcg rng(seed);
    std::vector<Frame> frames(count);
    for (auto &f : frames)
        for (auto &b : f) b = static_cast<uint8_t>(rng.Next() >> 24);
    return frames;
}

// The first frames of the speech vector.
std::vector<Frame> SpeechFrames(std::size_t count) {
    ItuBitstream bits = ReadItuBitFile(VectorsDir() + "/speech.bit");
    EXPECT_TRUE(bits.error.empty()) << bits.error;
    EXPECT_GE(bits.frames.size(), count) << "speech.bit";
    bits.frames.resize(count);
    return bits.frames;
}

std::vector<uint8_t> Payload(const std::vector<Frame> &frames, std::size_t first, std::size_t count) {
    std::vector<uint8_t> bytes;
    for (std::size_t k = first; k < first + count; ++k) bytes.insert(bytes.end(), frames[k].begin(), frames[k].end());
    return bytes;
}

std::vector<int16_t> Samples(const uint8_t *bytes, std::size_t count) {
    std::vector<int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return out;
}

struct Slot {
    CodecSlot *slot = new CodecSlot{};
    Slot() { EXPECT_EQ(CodecSlotCreate(slot, 0, 0, 8), 1); }
    ~Slot() {
        CodecSlotDestroy(slot);
        delete slot;
    }
};

TEST(G729Slot, FourFramesPerPayloadWithChainedMemories) {
    const std::vector<Frame> frames = SpeechFrames(40);
    const std::vector<int16_t> direct = DecodeFrames(frames);
    Slot s;
    ASSERT_NE(s.slot->instance, nullptr);
    int32_t width = -1, height = -1, third = -1;
    EXPECT_EQ(CodecSlotGetFrameSize(s.slot, &width, &height, &third), 1);
    EXPECT_EQ(width, 640);
    std::vector<int16_t> chained;
    for (std::size_t first = 0; first < frames.size(); first += 4) {
        const std::vector<uint8_t> payload = Payload(frames, first, 4);
        std::vector<uint8_t> output(640 + 64, 0xAB);
        s.slot->input = payload.data();
        s.slot->inputLength = 40;
        s.slot->output = output.data();
        ASSERT_EQ(CodecSlotDecode(s.slot), 10);
        for (std::size_t i = 640; i < output.size(); ++i) ASSERT_EQ(output[i], 0xAB) << "written past 640 bytes";
        const std::vector<int16_t> samples = Samples(output.data(), 320);
        chained.insert(chained.end(), samples.begin(), samples.end());
    }
    EXPECT_EQ(chained, direct);
    EXPECT_EQ(CodecSlotGetFrame(s.slot), s.slot->output);
}

TEST(G729Slot, DecodesOnlyTheWholeFramesPresent) {
    const std::vector<Frame> frames = RandomFrames(5, 9);
    for (int32_t length : {-1, 0, 1, 9, 10, 19, 20, 25, 30, 39, 40, 41, 49, 50}) {
        const int frameCount = length <= 0 ? 0 : std::min(4, length / 10);
        // The input holds exactly `length` bytes, so a read past it shows under
        // the address sanitizer; the output has room for the frames decoded
        // and then guard bytes.
        std::vector<uint8_t> input = Payload(frames, 0, 5);
        input.resize(static_cast<std::size_t>(std::max(length, 0)));
        input.shrink_to_fit();
        std::vector<uint8_t> output(static_cast<std::size_t>(160 * frameCount) + 160, 0xAB);
        Slot s;
        s.slot->input = input.empty() ? nullptr : input.data();
        s.slot->inputLength = length;
        s.slot->output = output.data();
        EXPECT_EQ(CodecSlotDecode(s.slot), frameCount > 0 ? 10 : 1) << length;
        const std::vector<int16_t> direct =
            DecodeFrames(std::vector<Frame>(frames.begin(), frames.begin() + frameCount));
        EXPECT_EQ(Samples(output.data(), direct.size()), direct) << length;
        for (std::size_t i = 160 * static_cast<std::size_t>(frameCount); i < output.size(); ++i)
            ASSERT_EQ(output[i], 0xAB) << "length " << length << " wrote byte " << i;
    }
}

TEST(G729Slot, UnalignedOutputAndMissingInstance) {
    const std::vector<Frame> frames = RandomFrames(4, 12);
    const std::vector<uint8_t> payload = Payload(frames, 0, 4);
    std::vector<uint8_t> output(641, 0);
    Slot s;
    s.slot->input = payload.data();
    s.slot->inputLength = 40;
    s.slot->output = output.data() + 1;
    EXPECT_EQ(CodecSlotDecode(s.slot), 10);
    EXPECT_EQ(Samples(output.data() + 1, 320), DecodeFrames(frames));

    CodecSlot empty{};
    empty.type = 8;
    empty.input = payload.data();
    empty.inputLength = 40;
    empty.output = output.data();
    EXPECT_EQ(CodecSlotDecode(&empty), 0);
    EXPECT_EQ(CodecSlotDestroy(&empty), 1);
}

// ---- Through the filter ----

struct FilterOutput {
    std::vector<std::vector<uint8_t>> samples;  // one per input sample
};

FilterOutput RunFilter(const std::vector<uint8_t> &stream) {
    FilterOutput out;
    velkorix::runner::FilterRunner runner(8000, 1, [&](const uint8_t *data, std::size_t size) {
        out.samples.emplace_back(data, data + size);
    });
    EXPECT_EQ(runner.Status(), S_OK);
    std::size_t at = 0;
    while (at + 18 <= stream.size()) {
        const uint32_t length = static_cast<uint32_t>(stream[at + 14] | stream[at + 15] << 8 | stream[at + 16] << 16 |
                                                      static_cast<uint32_t>(stream[at + 17]) << 24);
        runner.Feed(stream.data() + at, 18 + length);
        at += 18 + length;
    }
    EXPECT_EQ(at, stream.size());
    return out;
}

class DebugMessages {
public:
    DebugMessages() { velkorix::SetDebugSink(&DebugMessages::Sink, this, &previous_, &context_); }
    ~DebugMessages() { velkorix::SetDebugSink(previous_, context_); }
    int Count(const char *text) const {
        int n = 0;
        for (const auto &m : messages_) n += m == text;
        return n;
    }
    std::size_t Size() const { return messages_.size(); }

private:
    static void Sink(void *context, const char *text) { static_cast<DebugMessages *>(context)->messages_.emplace_back(text); }
    std::vector<std::string> messages_;
    velkorix::DebugSink previous_ = nullptr;
    void *context_ = nullptr;
};

TEST(G729Filter, Format3StreamMatchesDirectDecoding) {
    // 4k + 2 frames: the last record is completed with zero frames.
    const std::vector<Frame> frames = SpeechFrames(402);
    const std::vector<int16_t> direct = DecodeFrames(frames);
    DebugMessages debug;
    const FilterOutput out = RunFilter(MakeFormat3Stream(frames));
    ASSERT_EQ(out.samples.size(), 101u);
    std::vector<int16_t> decoded;
    for (const auto &sample : out.samples) {
        ASSERT_EQ(sample.size(), 640u);
        const std::vector<int16_t> s = Samples(sample.data(), 320);
        decoded.insert(decoded.end(), s.begin(), s.end());
    }
    decoded.resize(direct.size());
    EXPECT_EQ(decoded, direct);
    EXPECT_EQ(debug.Size(), 0u) << "no debugger messages for whole records";
}

TEST(G729Filter, ShortLastRecordDecodesItsFramesAndDeliversSilenceForTheRest) {
    const std::vector<Frame> frames = SpeechFrames(10);
    const std::vector<int16_t> direct = DecodeFrames(frames);
    DebugMessages debug;
    const FilterOutput out = RunFilter(MakeFormat3Stream(frames, LastRecord::Short));
    ASSERT_EQ(out.samples.size(), 3u);
    ASSERT_EQ(out.samples[2].size(), 640u);  // format 3 always delivers 640 bytes
    const std::vector<int16_t> last = Samples(out.samples[2].data(), 320);
    EXPECT_EQ(std::vector<int16_t>(last.begin(), last.begin() + 160),
              std::vector<int16_t>(direct.begin() + 640, direct.end()));
    EXPECT_EQ(std::vector<int16_t>(last.begin() + 160, last.end()), std::vector<int16_t>(160, 0));
    EXPECT_EQ(debug.Count(velkorix::kTruncatedSampleMessage), 1);
    EXPECT_EQ(debug.Count(velkorix::kDecodeErrorMessage), 0);
}

TEST(G729Filter, PayloadShorterThanOneFrame) {
    // A record declaring 40 bytes but carrying 7: nothing is decoded, the
    // output is silence, and the filter says the sample was cut short.
    std::vector<uint8_t> record(18 + 7, 0x55);
    std::memset(record.data(), 0, 18);
    record[13] = 3;
    record[14] = 40;
    DebugMessages debug;
    std::vector<std::vector<uint8_t>> samples;
    velkorix::runner::FilterRunner runner(8000, 1, [&](const uint8_t *data, std::size_t size) {
        samples.emplace_back(data, data + size);
    });
    runner.Feed(record.data(), record.size());
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0], std::vector<uint8_t>(640, 0));
    EXPECT_EQ(debug.Count(velkorix::kTruncatedSampleMessage), 1);
    EXPECT_EQ(debug.Count(velkorix::kDecodeErrorMessage), 0);
}

}  // namespace
