// Writes the sample bytes of a WAV file's data chunk, unchanged.
//   wav_data IN.wav OUT.pcm
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wav_data IN.wav OUT.pcm\n");
        return 2;
    }
    std::vector<uint8_t> data;
    FILE *in = std::fopen(argv[1], "rb");
    if (!in) {
        std::fprintf(stderr, "wav_data: cannot read %s\n", argv[1]);
        return 1;
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), in)) > 0) data.insert(data.end(), buffer, buffer + n);
    std::fclose(in);
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 || std::memcmp(data.data() + 8, "WAVE", 4) != 0) {
        std::fprintf(stderr, "wav_data: %s is not a WAV file\n", argv[1]);
        return 1;
    }
    size_t at = 12;
    while (at + 8 <= data.size()) {
        const uint32_t size = data[at + 4] | data[at + 5] << 8 | data[at + 6] << 16 | static_cast<uint32_t>(data[at + 7]) << 24;
        if (std::memcmp(data.data() + at, "data", 4) == 0) {
            // A streamed WAV says "unknown" (0xFFFFFFFF): the rest of the file.
            const size_t length = size == 0xFFFFFFFFu ? data.size() - at - 8 : size;
            if (at + 8 + length > data.size()) {
                std::fprintf(stderr, "wav_data: data chunk of %s is cut short\n", argv[1]);
                return 1;
            }
            FILE *out = std::fopen(argv[2], "wb");
            if (!out || std::fwrite(data.data() + at + 8, 1, length, out) != length) {
                std::fprintf(stderr, "wav_data: cannot write %s\n", argv[2]);
                return 1;
            }
            return std::fclose(out) == 0 ? 0 : 1;
        }
        at += 8 + size + (size & 1);
    }
    std::fprintf(stderr, "wav_data: %s has no data chunk\n", argv[1]);
    return 1;
}
