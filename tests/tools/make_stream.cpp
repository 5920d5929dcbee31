// Makes framed test streams (records of an 18-byte header and a payload).
//   make_stream mixed SOURCE.vks OUT.vks
//   make_stream g729 SPEECH.wav OUT.vks
//   make_stream itu VECTOR.bit OUT.vks
// "mixed": G.726 records taken from SOURCE interleaved with records of every
// other audio format, invalid format bytes, and records whose payload does
// not suit its format (too short, odd lengths, larger than the output
// buffer holds). Payload bytes that SOURCE does not provide come from a
// fixed pseudo-random sequence, so the stream is the same on every run.
// "g729": 8 kHz mono 16-bit speech encoded with bcg729's G.729 Annex A
// encoder (the test oracle), four 10-byte frames to a format-3 record.
// "itu": the frames of an ITU serial bitstream (the G.729 Annex A test
// vectors of tests/data/g729a) as format-3 records, the last one filled up
// with zero frames.
// "odd": G.726 records taken from SOURCE with records whose output ends
// inside a sample (format 0 with 1, 4, 7 or 121 payload bytes: 5, 21, 37 and
// 645 output bytes), so that later samples straddle records, and changes of
// codec before and after such records.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "g729_support.h"

#if defined(VELKORIX_HAVE_BCG729)
extern "C" {
#include <bcg729/encoder.h>
}
#endif

namespace {

using Record = std::vector<uint8_t>;

uint32_t state = 0x2545F491u;
uint8_t NextByte() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 24);
}

Record Make(uint8_t format, int32_t length, const uint8_t *payload = nullptr) {
    Record record(18 + static_cast<size_t>(length), 0);
    record[4] = 1;
    record[13] = format;
    const uint32_t l = static_cast<uint32_t>(length);
    record[14] = static_cast<uint8_t>(l);
    record[15] = static_cast<uint8_t>(l >> 8);
    record[16] = static_cast<uint8_t>(l >> 16);
    record[17] = static_cast<uint8_t>(l >> 24);
    for (int32_t i = 0; i < length; ++i) record[18 + i] = payload ? payload[i] : NextByte();
    return record;
}

bool ReadRecords(const char *path, std::vector<Record> *records) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    std::vector<uint8_t> all;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) all.insert(all.end(), buffer, buffer + n);
    std::fclose(file);
    size_t at = 0;
    while (at + 18 <= all.size()) {
        const uint32_t length = all[at + 14] | all[at + 15] << 8 | all[at + 16] << 16 | static_cast<uint32_t>(all[at + 17]) << 24;
        if (length > all.size() - at - 18) return false;
        records->emplace_back(all.begin() + at, all.begin() + at + 18 + length);
        at += 18 + length;
    }
    return at == all.size() && !records->empty();
}

bool WriteRecords(const char *path, const std::vector<Record> &records) {
    FILE *file = std::fopen(path, "wb");
    if (!file) return false;
    for (const Record &record : records)
        if (std::fwrite(record.data(), 1, record.size(), file) != record.size()) {
            std::fclose(file);
            return false;
        }
    return std::fclose(file) == 0;
}

// The 16-bit samples of a WAV file's data chunk.
bool ReadWavSamples(const char *path, std::vector<int16_t> *samples) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    std::vector<uint8_t> all;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) all.insert(all.end(), buffer, buffer + n);
    std::fclose(file);
    if (all.size() < 12 || std::memcmp(all.data(), "RIFF", 4) != 0) return false;
    size_t at = 12;
    while (at + 8 <= all.size()) {
        const uint32_t size = all[at + 4] | all[at + 5] << 8 | all[at + 6] << 16 | static_cast<uint32_t>(all[at + 7]) << 24;
        if (std::memcmp(all.data() + at, "data", 4) == 0) {
            const size_t length = size > all.size() - at - 8 ? all.size() - at - 8 : size;
            for (size_t i = 0; i + 1 < length; i += 2)
                samples->push_back(static_cast<int16_t>(all[at + 8 + i] | all[at + 9 + i] << 8));
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

int MakeG729(const char *speechPath, const char *outPath) {
#if defined(VELKORIX_HAVE_BCG729)
    std::vector<int16_t> speech;
    if (!ReadWavSamples(speechPath, &speech) || speech.empty()) {
        std::fprintf(stderr, "make_stream: cannot read samples from %s\n", speechPath);
        return 1;
    }
    speech.resize((speech.size() + 319) / 320 * 320, 0);
    bcg729EncoderChannelContextStruct *encoder = initBcg729EncoderChannel(0);
    std::vector<Record> out;
    for (size_t at = 0; at < speech.size(); at += 320) {
        uint8_t payload[40];
        for (int frame = 0; frame < 4; ++frame) {
            uint8_t length = 0;
            bcg729Encoder(encoder, speech.data() + at + 80 * frame, payload + 10 * frame, &length);
            if (length != 10) {
                closeBcg729EncoderChannel(encoder);
                std::fprintf(stderr, "make_stream: the encoder gave a %u-byte frame\n", length);
                return 1;
            }
        }
        out.push_back(Make(3, 40, payload));
    }
    closeBcg729EncoderChannel(encoder);
    if (!WriteRecords(outPath, out)) {
        std::fprintf(stderr, "make_stream: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
#else
    (void)speechPath;
    (void)outPath;
    std::fprintf(stderr, "make_stream: built without bcg729, no G.729 encoder\n");
    return 1;
#endif
}

int MakeFromItuVector(const char *vectorPath, const char *outPath) {
    const g729test::ItuBitstream bits = g729test::ReadItuBitFile(vectorPath);
    if (!bits.error.empty() || bits.frames.empty()) {
        std::fprintf(stderr, "make_stream: %s: %s\n", vectorPath, bits.error.empty() ? "no frames" : bits.error.c_str());
        return 1;
    }
    if (!g729test::WriteFile(outPath, g729test::MakeFormat3Stream(bits.frames))) {
        std::fprintf(stderr, "make_stream: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "g729") == 0) return MakeG729(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "itu") == 0) return MakeFromItuVector(argv[2], argv[3]);
    const bool odd = argc == 4 && std::strcmp(argv[1], "odd") == 0;
    if (argc != 4 || (std::strcmp(argv[1], "mixed") != 0 && !odd)) {
        std::fprintf(stderr,
                     "usage: make_stream mixed SOURCE.vks OUT.vks | make_stream g729 SPEECH.wav OUT.vks |\n"
                     "       make_stream itu VECTOR.bit OUT.vks | make_stream odd SOURCE.vks OUT.vks\n");
        return 2;
    }
    std::vector<Record> speech;
    if (!ReadRecords(argv[2], &speech)) {
        std::fprintf(stderr, "make_stream: cannot read records from %s\n", argv[2]);
        return 1;
    }
    std::vector<Record> out;
    size_t next = 0;
    auto g726 = [&](int count) {
        for (int i = 0; i < count; ++i) out.push_back(speech[next++ % speech.size()]);
    };
    if (odd) {
        g726(8);
        out.push_back(Make(0, 1));      // 5 bytes: every later sample straddles records
        g726(6);
        out.push_back(Make(3, 40));     // a fresh decoder, but its output starts at an odd byte
        g726(5);                        // G.726 again: fresh, still odd
        out.push_back(Make(0, 121));    // 645 bytes: even again
        g726(4);
        out.push_back(Make(6, 164));    // IMA ADPCM: fresh and on a whole sample
        out.push_back(Make(6, 164));
        g726(7);                        // G.726: fresh and on a whole sample
        out.push_back(Make(0, 4));      // 21 bytes
        out.push_back(Make(4, 3));      // invalid: 16 bytes
        g726(5);
        out.push_back(Make(1, 80));     // G.711 A-law, fresh at an odd byte
        out.push_back(Make(0, 7));      // 37 bytes: even again
        g726(9);
        out.push_back(Make(2, 160));    // G.711 mu-law, fresh and on a whole sample
        g726(10);
        if (!WriteRecords(argv[3], out)) {
            std::fprintf(stderr, "make_stream: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    g726(6);
    out.push_back(Make(3, 40));         // G.729: four frames
    out.push_back(Make(3, 40));
    g726(3);                            // back to G.726: a fresh decoder
    out.push_back(Make(4, 60));         // invalid format: the G.726 decoder stays
    g726(3);
    out.push_back(Make(5, 30));         // invalid format
    out.push_back(Make(9, 24));         // outside the format table
    g726(2);
    out.push_back(Make(6, 164));        // IMA ADPCM, one frame
    out.push_back(Make(6, 164));
    out.push_back(Make(1, 160));        // G.711 A-law
    out.push_back(Make(2, 160));        // G.711 mu-law
    g726(2);
    out.push_back(Make(0, 119));        // not a multiple of 3
    out.push_back(Make(0, 0));          // empty payload
    out.push_back(Make(3, 25));         // too short for four G.729 frames
    out.push_back(Make(3, 400));        // longer than the four frames taken
    g726(2);
    out.push_back(Make(6, 2100));       // beyond what one ADPCM frame takes
    out.push_back(Make(0, 18753));      // more output than the buffer holds
    g726(4);
    for (int i = 0; i < 6; ++i) {       // alternating formats 0 and 3
        g726(1);
        out.push_back(Make(3, 40));
    }
    g726(5);

    if (!WriteRecords(argv[3], out)) {
        std::fprintf(stderr, "make_stream: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
