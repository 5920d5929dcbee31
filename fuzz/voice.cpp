// The voice library's frame functions with arbitrary frames, types, counts and
// states. The input is a script: a header chooses how the state starts (reset
// to a type, or raw bytes), then a sequence of decode, encode and transcode
// calls follows. Frames and sample buffers are allocated at exactly the size
// the caller contract gives them, so any access beyond is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "velkorix/qx_voice.h"

namespace {

class Reader {
public:
    Reader(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() {
        const uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | Byte() << 8);
    }
    void Bytes(void *out, std::size_t n) {
        auto *p = static_cast<uint8_t *>(out);
        for (std::size_t i = 0; i < n; ++i) p[i] = Byte();
    }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

const int16_t kTypes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68, 0, 8, 100};

void StartState(Reader &in, VoiceState *state, bool encoder) {
    const uint8_t mode = in.Byte();
    if (mode & 0x80) {
        // Raw state bytes: the type word and the first bytes of the codec state.
        std::memset(state, 0, sizeof(VoiceState));
        in.Bytes(state, 2 + (mode & 0x3F));
    } else {
        const int16_t type = kTypes[mode % (sizeof(kTypes) / sizeof(kTypes[0]))];
        if (encoder)
            QX_VOICE_EncReset(state, type);
        else
            QX_VOICE_DecReset(state, type);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    Reader in(data, size);
    auto *decoder = new VoiceState;
    auto *encoder = new VoiceState;
    auto *trans = new VoiceTransState;
    StartState(in, decoder, false);
    StartState(in, encoder, true);
    QX_VOICE_TransCodeReset(trans, static_cast<int16_t>(96 + in.Byte() % 6));

    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        const uint8_t op = in.Byte();
        switch (op % 4) {
            case 0:
            case 1: {  // decode, or transcode, one frame of the declared size
                const uint8_t len = in.Byte();
                const bool transcode = op % 4 == 1;
                std::vector<uint8_t> frame(4 + 2u * len + (transcode ? 4 : 0));
                const uint16_t flags = in.Word();
                frame[0] = static_cast<uint8_t>(flags);
                frame[1] = static_cast<uint8_t>(flags >> 8);
                frame[2] = len;
                frame[3] = in.Byte();
                in.Bytes(frame.data() + 4, 2u * len);
                if (transcode) {
                    QX_VOICE_TransCodeFrame(trans, reinterpret_cast<VoiceFrame *>(frame.data()));
                } else {
                    std::vector<int16_t> pcm(VOICE_MAX_SAMPLES);
                    int16_t count = -1;
                    const int32_t result =
                        QX_VOICE_DecodeFrame(decoder, reinterpret_cast<VoiceFrame *>(frame.data()), pcm.data(), &count);
                    if (count < 0 || count > VOICE_MAX_SAMPLES || (result != 0 && count != 0)) __builtin_trap();
                }
                break;
            }
            case 2: {  // encode a count of samples, any count
                const int16_t count = static_cast<int16_t>(in.Word());
                const std::size_t n = count > 0 && count <= VOICE_MAX_SAMPLES ? static_cast<std::size_t>(count) : 1;
                std::vector<int16_t> pcm(n);
                for (auto &s : pcm) s = static_cast<int16_t>(in.Word());
                std::vector<uint8_t> frame(VOICE_FRAME_MAX_BYTES);
                const int32_t result = QX_VOICE_EncodeFrame(encoder, pcm.data(),
                                                            reinterpret_cast<VoiceFrame *>(frame.data()), count);
                if (result == 0 && (frame[2] > 240 || frame[0] != 0 || frame[1] != 1)) __builtin_trap();
                break;
            }
            case 3:  // restart a state
                StartState(in, (op & 4) ? encoder : decoder, (op & 4) != 0);
                break;
        }
    }
    delete decoder;
    delete encoder;
    delete trans;
    return 0;
}
