// Interim maker of the bundled sample stream: encodes 8 kHz mono 16-bit raw
// PCM from standard input with spandsp's G.726 24 kbit/s encoder (RFC 3551
// packing) and writes format-0 records of 120-byte payloads (320 samples).
// To be replaced by the project's own encoder.
#include <spandsp.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
    std::vector<int16_t> pcm;
    int16_t buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 2, 4096, stdin)) > 0) pcm.insert(pcm.end(), buffer, buffer + n);
    pcm.resize((pcm.size() + 319) / 320 * 320, 0);
    g726_state_t *state = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    for (std::size_t at = 0; at < pcm.size(); at += 320) {
        uint8_t record[18 + 120] = {};
        record[13] = 0;  // audio format 0
        record[14] = 120;
        g726_encode(state, record + 18, pcm.data() + at, 320);
        std::fwrite(record, 1, sizeof(record), stdout);
    }
    g726_free(state);
    return 0;
}
