// The voice binding of the codec slot (types 6, 9, 10) and formats 1, 2 and 6
// end to end through the decoding filter.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common/aligned.h"
#include "filter/audio_decoder_filter.h"
#include "velkorix/codec_slot.h"
#include "velkorix/qx_voice.h"
#include "voice/g711.h"
#include "voice_signals.h"

namespace {

using velkorix::AudioDecoderFilter;
using velkorix::MediaSample;

std::vector<int16_t> AsSamples(const uint8_t *bytes, std::size_t count) {
    std::vector<int16_t> v(count);
    std::memcpy(v.data(), bytes, 2 * count);
    return v;
}

// A slot on the heap (it carries a large staging area), destroyed at the end.
struct Slot {
    Slot() : slot(std::make_unique<CodecSlot>()) { std::memset(slot.get(), 0, sizeof(CodecSlot)); }
    ~Slot() { CodecSlotDestroy(slot.get()); }
    int32_t Decode(const uint8_t *input, int32_t length, uint8_t *output) {
        slot->input = input;
        slot->inputLength = length;
        slot->output = output;
        return CodecSlotDecode(slot.get());
    }
    std::unique_ptr<CodecSlot> slot;
};

// One ADPCM_FIRST frame of 321 samples; returns its 164-byte payload.
std::vector<uint8_t> AdpcmPayload(const int16_t *pcm) {
    VoiceState state;
    QX_VOICE_EncReset(&state, ADPCM_FIRST);
    VoiceFrame frame;
    EXPECT_EQ(QX_VOICE_EncodeFrame(&state, pcm, &frame, 321), VOICE_OK);
    EXPECT_EQ(frame.length, 82);
    return std::vector<uint8_t>(frame.payload, frame.payload + 164);
}

// The library's decoding of an 82-word ADPCM_FIRST payload.
std::vector<int16_t> DecodeAdpcmPayload(const uint8_t *payload) {
    VoiceFrame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.flags[1] = 0x01;
    frame.length = 82;
    std::memcpy(frame.payload, payload, 164);
    VoiceState state;
    QX_VOICE_DecReset(&state, ADPCM_FIRST);
    int16_t pcm[VOICE_MAX_SAMPLES];
    int16_t count = 0;
    EXPECT_EQ(QX_VOICE_DecodeFrame(&state, &frame, pcm, &count), VOICE_OK);
    return std::vector<int16_t>(pcm, pcm + count);
}

TEST(VoiceBinding, AdpcmPayloadDecodesTo321Samples) {
    const auto pcm = velkorix::test::SpeechLike(321, 61);
    const auto payload = AdpcmPayload(pcm.data());
    Slot s;
    ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, 6), 1);
    std::vector<uint8_t> output(1000, 0xEE);
    ASSERT_EQ(s.Decode(payload.data(), 164, output.data()), 1);
    const auto decoded = AsSamples(output.data(), 321);
    EXPECT_EQ(decoded, DecodeAdpcmPayload(payload.data()));
    EXPECT_EQ(decoded[0], pcm[0]);
    for (std::size_t i = 642; i < output.size(); ++i) ASSERT_EQ(output[i], 0xEE) << i;
}

TEST(VoiceBinding, AShortAdpcmPayloadIsCompletedWithZeros) {
    const auto pcm = velkorix::test::SpeechLike(321, 62);
    const auto payload = AdpcmPayload(pcm.data());
    std::vector<uint8_t> padded(164, 0);
    std::memcpy(padded.data(), payload.data(), 100);
    const auto expected = DecodeAdpcmPayload(padded.data());

    Slot s;
    ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, 6), 1);
    std::vector<uint8_t> output(642);
    // A full payload of other bytes first: nothing of it may leak into the
    // next, shorter call.
    std::vector<uint8_t> noise(2044, 0xA7);
    ASSERT_EQ(s.Decode(noise.data(), 2044, output.data()), 1);
    // Exactly 100 bytes on the heap, so a read beyond them would be caught by
    // the address sanitizer.
    std::unique_ptr<uint8_t[]> input(new uint8_t[100]);
    std::memcpy(input.get(), payload.data(), 100);
    ASSERT_EQ(s.Decode(input.get(), 100, output.data()), 1);
    EXPECT_EQ(AsSamples(output.data(), 321), expected);
}

TEST(VoiceBinding, AnAdpcmPayloadBeyondTheScratchFrameIsCut) {
    const auto pcm = velkorix::test::SpeechLike(321, 63);
    auto payload = AdpcmPayload(pcm.data());
    payload.resize(5000, 0x99);
    Slot s;
    ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, 6), 1);
    std::vector<uint8_t> output(642);
    ASSERT_EQ(s.Decode(payload.data(), 5000, output.data()), 1);
    EXPECT_EQ(AsSamples(output.data(), 321), DecodeAdpcmPayload(payload.data()));
}

TEST(VoiceBinding, G711PayloadsDecodeOneSamplePerByte) {
    velkorix::test::XorShift32 random(64);
    for (int32_t type : {9, 10}) {
        const auto &table = type == 9 ? velkorix::voice::kAlawToLinear : velkorix::voice::kUlawToLinear;
        Slot s;
        ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, type), 1);
        for (int32_t length : {1, 64, 79, 80, 128, 160, 320, 479, 480, 481, 1000, 1024, 2047, 50000}) {
            // Exactly `length` bytes on the heap.
            std::unique_ptr<uint8_t[]> input(new uint8_t[static_cast<std::size_t>(length)]);
            for (int32_t i = 0; i < length; ++i) input[static_cast<std::size_t>(i)] = static_cast<uint8_t>(random.Next());
            std::vector<uint8_t> output(2 * static_cast<std::size_t>(length) + 8, 0xEE);
            ASSERT_EQ(s.Decode(input.get(), length, output.data()), 1);
            const auto samples = AsSamples(output.data(), static_cast<std::size_t>(length));
            for (int32_t i = 0; i < length; ++i)
                ASSERT_EQ(samples[static_cast<std::size_t>(i)], table[input[static_cast<std::size_t>(i)]])
                    << "type " << type << ", length " << length << ", sample " << i;
            for (std::size_t i = 2 * static_cast<std::size_t>(length); i < output.size(); ++i)
                ASSERT_EQ(output[i], 0xEE) << "type " << type << ", length " << length;
        }
    }
}

// An output pointer at an odd address (a caller's byte buffer) is written
// through a copy: the same bytes as into an aligned buffer, and not one byte
// before or after them.
TEST(VoiceBinding, AnUnalignedOutputGetsTheSameSamples) {
    const auto pcm = velkorix::test::SpeechLike(321, 69);
    const auto adpcm = AdpcmPayload(pcm.data());
    velkorix::test::XorShift32 random(70);
    std::vector<uint8_t> codes(2047);
    for (auto &b : codes) b = static_cast<uint8_t>(random.Next());
    struct Case {
        int32_t type;
        const uint8_t *input;
        int32_t length;
        std::size_t bytes;  // written to the output
    } cases[] = {
        {6, adpcm.data(), 164, 642},  // a whole payload
        {6, adpcm.data(), 100, 642},  // a short one, completed with zeros
        {9, codes.data(), 1, 2},     {9, codes.data(), 479, 958},   {9, codes.data(), 480, 960},
        {9, codes.data(), 481, 962}, {10, codes.data(), 1000, 2000}, {10, codes.data(), 2047, 4094},
    };
    for (const Case &c : cases) {
        Slot aligned, unaligned;
        ASSERT_EQ(CodecSlotCreate(aligned.slot.get(), 0, 0, c.type), 1);
        ASSERT_EQ(CodecSlotCreate(unaligned.slot.get(), 0, 0, c.type), 1);
        std::vector<int16_t> expected(c.bytes / 2 + 1);
        auto *expectedBytes = reinterpret_cast<uint8_t *>(expected.data());
        std::vector<int16_t> room(c.bytes / 2 + 2, static_cast<int16_t>(0xEEEE));
        uint8_t *odd = reinterpret_cast<uint8_t *>(room.data()) + 1;
        // Twice, so that the second call runs on the state the first left.
        for (int call = 0; call < 2; ++call) {
            ASSERT_EQ(aligned.Decode(c.input, c.length, expectedBytes), 1);
            ASSERT_EQ(unaligned.Decode(c.input, c.length, odd), 1);
            EXPECT_EQ(std::memcmp(odd, expectedBytes, c.bytes), 0) << "type " << c.type << ", length " << c.length;
            EXPECT_EQ(odd[-1], 0xEE) << "type " << c.type << ", length " << c.length;
            for (std::size_t i = c.bytes; i < 2 * room.size() - 1; ++i)
                ASSERT_EQ(odd[i], 0xEE) << "type " << c.type << ", length " << c.length << ", byte " << i;
        }
    }
}

TEST(VoiceBinding, NothingToReadWritesNothing) {
    for (int32_t type : {6, 9, 10}) {
        Slot s;
        ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, type), 1);
        std::vector<uint8_t> output(1000, 0xEE);
        const uint8_t byte = 0xD5;
        EXPECT_EQ(s.Decode(nullptr, 200, output.data()), 1);
        if (type != 6) {
            // No input: no samples. (Type 6 still decodes its all-zero frame.)
            for (uint8_t b : output) ASSERT_EQ(b, 0xEE);
        }
        std::fill(output.begin(), output.end(), 0xEE);
        EXPECT_EQ(s.Decode(&byte, -5, output.data()), 1);
        if (type != 6) {
            for (uint8_t b : output) ASSERT_EQ(b, 0xEE);
        }
        EXPECT_EQ(s.Decode(&byte, 1, nullptr), 1);
    }
}

TEST(VoiceBinding, CreationKeepsAnExistingStateAndSurvivesAllocationFailure) {
    Slot s;
    ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, 6), 1);
    void *first = s.slot->instance;
    ASSERT_EQ(CodecSlotCreate(s.slot.get(), 0, 0, 6), 1);
    EXPECT_EQ(s.slot->instance, first);

    const auto previous = velkorix::SetRawAllocator({[](std::size_t) -> void * { return nullptr; }, nullptr});
    Slot failed;
    EXPECT_EQ(CodecSlotCreate(failed.slot.get(), 0, 0, 9), 1);
    velkorix::SetRawAllocator(previous);
    EXPECT_EQ(failed.slot->instance, nullptr);
    uint8_t in[80] = {}, out[160];
    EXPECT_EQ(failed.Decode(in, 80, out), 0);
}

// ---- Through the filter ----

class FilterHarness {
public:
    FilterHarness() {
        HRESULT result = S_OK;
        filter_ = static_cast<AudioDecoderFilter *>(AudioDecoderFilter::Create(nullptr, &result));
        filter_->NonDelegatingAddRef();
    }
    ~FilterHarness() { filter_->NonDelegatingRelease(); }

    // One input sample (header + payload) into an output buffer of `capacity`
    // bytes; returns the output sample's bytes.
    std::vector<uint8_t> Transform(uint8_t format, const std::vector<uint8_t> &payload, long capacity = 100000) {
        std::vector<uint8_t> record(18 + payload.size(), 0);
        record[13] = format;
        const uint32_t length = static_cast<uint32_t>(payload.size());
        for (int i = 0; i < 4; ++i) record[14 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
        if (!payload.empty()) std::memcpy(record.data() + 18, payload.data(), payload.size());
        std::vector<uint8_t> out(static_cast<std::size_t>(capacity), 0xEE);
        MediaSample *in = MediaSample::Wrap(record.data(), static_cast<LONG>(record.size()));
        in->SetActualDataLength(static_cast<LONG>(record.size()));
        MediaSample *o = MediaSample::Wrap(out.data(), static_cast<LONG>(capacity));
        EXPECT_EQ(filter_->Transform(in, o), S_OK);
        out.resize(static_cast<std::size_t>(o->GetActualDataLength()));
        in->Release();
        o->Release();
        return out;
    }

private:
    AudioDecoderFilter *filter_;
};

TEST(VoiceThroughFilter, Format6DeliversTheFrame) {
    const auto pcm = velkorix::test::SpeechLike(321 * 5, 65);
    FilterHarness filter;
    for (int f = 0; f < 5; ++f) {
        const auto payload = AdpcmPayload(pcm.data() + 321 * f);
        const auto out = filter.Transform(6, payload);
        ASSERT_EQ(out.size(), 640u);  // the format's output length: 320 samples
        const auto expected = DecodeAdpcmPayload(payload.data());
        EXPECT_EQ(AsSamples(out.data(), 320), std::vector<int16_t>(expected.begin(), expected.begin() + 320));
    }
}

TEST(VoiceThroughFilter, Format6NeedsRoomFor321Samples) {
    const auto pcm = velkorix::test::SpeechLike(321, 66);
    FilterHarness filter;
    const auto out = filter.Transform(6, AdpcmPayload(pcm.data()), 641);
    ASSERT_EQ(out.size(), 640u);
    for (uint8_t b : out) ASSERT_EQ(b, 0);  // silence: nothing decoded
}

TEST(VoiceThroughFilter, Formats1And2DeliverEveryPayloadByte) {
    velkorix::test::XorShift32 random(67);
    FilterHarness filter;
    for (uint8_t format : {1, 2, 1}) {
        const auto &table = format == 1 ? velkorix::voice::kAlawToLinear : velkorix::voice::kUlawToLinear;
        for (std::size_t length : {320u, 128u, 77u, 2000u}) {
            std::vector<uint8_t> payload(length);
            for (auto &b : payload) b = static_cast<uint8_t>(random.Next());
            const auto out = filter.Transform(format, payload);
            ASSERT_EQ(out.size(), 2 * length);
            const auto samples = AsSamples(out.data(), length);
            for (std::size_t i = 0; i < length; ++i)
                ASSERT_EQ(samples[i], table[payload[i]]) << "format " << int{format} << " sample " << i;
        }
    }
    // A payload larger than the output buffer is cut to what fits.
    std::vector<uint8_t> payload(1000, 0xD5);
    const auto out = filter.Transform(1, payload, 600);
    ASSERT_EQ(out.size(), 600u);
    for (int16_t v : AsSamples(out.data(), 300)) ASSERT_EQ(v, 8);
}

TEST(VoiceThroughFilter, G711RoundTripThroughTheFilter) {
    const auto pcm = velkorix::test::SpeechLike(320, 68);
    for (uint8_t format : {1, 2}) {
        VoiceState state;
        QX_VOICE_EncReset(&state, format == 1 ? G711_A : G711_U);
        VoiceFrame frame;
        ASSERT_EQ(QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, 320), VOICE_OK);
        FilterHarness filter;
        const auto out = filter.Transform(format, std::vector<uint8_t>(frame.payload, frame.payload + 320));
        ASSERT_EQ(out.size(), 640u);
        const auto samples = AsSamples(out.data(), 320);
        for (std::size_t i = 0; i < 320; ++i) {
            // G.711 keeps every sample within half a quantization step.
            const int step = std::abs(pcm[i]) < 256 ? 16 : std::abs(pcm[i]) / 8;
            ASSERT_LE(std::abs(samples[i] - pcm[i]), step) << i;
        }
    }
}

}  // namespace
