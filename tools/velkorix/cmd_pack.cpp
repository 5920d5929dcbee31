// velkorix pack: audio to a framed stream (18-byte header + payload per
// record) that the decoding filter, and so 'velkorix decode', turns back into
// audio.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_input.h"
#include "cli.h"
#include "options.h"
#include "output_file.h"
#include "stream/frame_format.h"
#include "velkorix/qx_voice.h"

namespace velkorix::cli {
namespace {

const CommandSyntax kSyntax{
    "velkorix pack",
    "",
    "velkorix pack --format F INPUT -o STREAM",
    "Encodes audio into a framed stream: records of an 18-byte header (bytes 0\n"
    "to 12 zero, byte 13 the audio format, bytes 14 to 17 the payload length,\n"
    "little-endian) and the payload, back to back, as the decoder filter takes\n"
    "them on its input pin. Every record decodes to 320 samples (640 bytes).",
    {
        ValueOption(nullptr, "--format", "F",
                    "0  G.726 24 kbit/s, 3-bit codes LSB first, 120-byte payloads\n"
                    "1  G.711 A-law, one code per byte, 320-byte payloads\n"
                    "2  G.711 mu-law, one code per byte, 320-byte payloads\n"
                    "6  IMA ADPCM frames with the first sample in the header,\n"
                    "   164-byte payloads of 321 samples; each record's last sample\n"
                    "   is the next record's first, since the filter delivers 320\n"
                    "   samples per record"),
        Positional("INPUT",
                   "8000 Hz mono 16-bit PCM audio (WAV or any file libsndfile reads),\n"
                   "or - for standard input"),
        ValueOption("-o", "--output", "STREAM", "stream file to write, or - for standard output"),
    },
    "The last record is completed with silence. 'velkorix decode STREAM -o OUT.wav'\n"
    "turns the stream back into audio. Exit status: 0 success; 1 failure, nothing\n"
    "written; 2 usage error.",
};

constexpr long kRecordSamples = 320;

struct Format {
    int number;
    int16_t voiceType;
    const char *description;
};

constexpr Format kFormats[] = {
    {0, G726_24, "G.726 24 kbit/s"},
    {1, G711_A, "G.711 A-law"},
    {2, G711_U, "G.711 mu-law"},
    {6, ADPCM_FIRST, "IMA ADPCM with first-sample header"},
};

int RunPack(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kSyntax, args, &parsed)) return *exit;
    const std::string &input = parsed.Value("INPUT");
    const std::string &output = parsed.Value("--output");
    if (input.empty() || output.empty()) {
        Error(kSyntax.SeeHelp("pack needs an INPUT and -o STREAM"));
        return kExitUsage;
    }
    long long formatNumber = -1;  // -1: not given, -2: not a format number
    if (parsed.Has("--format") && !ParseInt(parsed.Value("--format"), 0, 255, &formatNumber)) formatNumber = -2;
    const Format *format = nullptr;
    for (const Format &f : kFormats)
        if (f.number == formatNumber) format = &f;
    if (!format) {
        Error(formatNumber == -1 ? "pack needs --format F (0, 1, 2 or 6)"
                                 : "--format must be 0, 1, 2 or 6: the formats the voice library can encode");
        return kExitUsage;
    }

    std::string error;
    AudioInput audio;
    if (!audio.Open(input, &error)) {
        Error(error);
        return kExitFailure;
    }
    OutputFile out;
    if (!out.Open(output, &error)) {
        Error(error);
        return kExitFailure;
    }

    VoiceState state;
    QX_VOICE_EncReset(&state, format->voiceType);
    // Format 6 frames carry 321 samples: the 320 of the record and the first
    // of the next, which opens that record's frame again. The filter delivers
    // the first 320, so consecutive records join without a gap or a repeat.
    const long frameSamples = format->number == 6 ? kRecordSamples + 1 : kRecordSamples;
    std::vector<int16_t> pcm(static_cast<std::size_t>(frameSamples), 0);
    long records = 0, padding = 0;
    long carried = 0;  // samples at the start of pcm taken over from the previous frame
    for (;;) {
        const long got = audio.ReadFull(pcm.data() + carried, frameSamples - carried);
        if (got < 0) {
            Error("cannot read '" + input + "': read error");
            return kExitFailure;
        }
        const long filled = carried + got;
        const long delivered = filled < kRecordSamples ? filled : kRecordSamples;
        if (delivered == 0) break;
        if (filled < frameSamples) std::fill(pcm.begin() + filled, pcm.end(), int16_t{0});
        padding = kRecordSamples - delivered;
        VoiceFrame frame;
        if (QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, static_cast<int16_t>(frameSamples)) != VOICE_OK) {
            Error("the encoder refused a frame");
            return kExitFailure;
        }
        const uint32_t payloadBytes = 2u * frame.length;
        uint8_t header[stream::kHeaderSize];
        stream::WriteHeader(header, static_cast<uint8_t>(format->number), static_cast<int32_t>(payloadBytes));
        if (!out.Write(header, sizeof(header)) || !out.Write(frame.payload, payloadBytes)) {
            Error("cannot write '" + output + "': " + std::strerror(errno));
            return kExitFailure;
        }
        ++records;
        if (filled < frameSamples) break;  // the input has ended
        if (frameSamples > kRecordSamples) {
            // The frame's last sample opens the next record.
            pcm[0] = pcm[static_cast<std::size_t>(kRecordSamples)];
            carried = 1;
        }
    }
    if (records == 0) {
        Error((input == "-" ? std::string("standard input") : "'" + input + "'") + " holds no samples");
        return kExitFailure;
    }
    if (!out.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %llu samples packed as format %d (%s) into %ld records, written to %s\n",
                 static_cast<unsigned long long>(audio.SamplesRead()), format->number, format->description, records,
                 output == "-" ? "standard output" : output.c_str());
    if (padding > 0)
        std::fprintf(stderr, "velkorix: the last record was completed with %ld samples of silence\n", padding);
    return kExitOk;
}

const CommandRegistration kRegistration({"pack", "encode audio into a framed stream the filter decodes", RunPack});

}  // namespace
}  // namespace velkorix::cli
