// velkorix voice encode: audio to voice frames.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_input.h"
#include "cli.h"
#include "output_file.h"
#include "velkorix/qx_voice.h"
#include "velkorix/qx_voice_names.h"
#include "voice/frame_rule.h"
#include "voice_commands.h"

namespace velkorix::cli::voice {

const CommandSyntax kEncodeSyntax{
    "velkorix voice encode",
    "",
    "velkorix voice encode --codec NAME INPUT -o OUTPUT [--frame N]",
    "Encodes audio into voice frames of N samples each.",
    {
        ValueOption(nullptr, "--codec", "NAME", "codec name or number (see 'velkorix voice --list')"),
        Positional("INPUT",
                   "8000 Hz mono 16-bit PCM audio (WAV or any file libsndfile\n"
                   "reads), or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT", "voice file to write, or - for standard output"),
        ValueOption(nullptr, "--frame", "N",
                    "samples per frame (default 160; 161 for adpcm-first). The\n"
                    "size must let every frame carry all its samples: a multiple\n"
                    "of 80 up to 480 for the G.711, G.726 and adpcm2 codecs, a\n"
                    "multiple of 4 up to 480 for adpcm-pred and adpcm-bare, and\n"
                    "4k + 1 up to 481 for adpcm-first.",
                    IntegerIn(1, VOICE_MAX_SAMPLES, "a whole number of samples")),
    },
    "The last frame is completed with silence. Exit status: 0 success; 1 failure,\n"
    "nothing written; 2 usage error.",
};

namespace {

// Why frames of `samples` samples would not carry all their samples, or lose
// them to a decoder, in words; empty when the size is fine. The decision is
// the library's own frame rule.
std::string FrameSizeProblem(int16_t type, long samples) {
    if (velkorix::voice::FrameKeepsAllSamples(type, static_cast<int>(samples))) return "";
    switch (type) {
        case ADPCM_PRED:
        case ADPCM_BARE: return "frames must hold a multiple of 4 samples, up to 480";
        case ADPCM_FIRST:
            return "frames must hold 4k + 1 samples (the first sample and pairs of code bytes), up to 481";
        default: return "frames must hold a multiple of 80 samples, up to 480";
    }
}

}  // namespace

int RunEncode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kEncodeSyntax, args, &parsed)) return *exit;
    if (!HasInputOutput(kEncodeSyntax, "encode", parsed) || !HasChoice("encode", parsed, "--codec", "NAME"))
        return kExitUsage;
    const std::string &input = parsed.Value("INPUT");
    const std::string &outputPath = parsed.Value("--output");
    int16_t type = 0;
    if (!ParseCodec(parsed.Value("--codec"), &type)) {
        Error("unknown codec '" + parsed.Value("--codec") + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    const long frameSamples = static_cast<long>(parsed.Integer("--frame", type == ADPCM_FIRST ? 161 : 160));
    const std::string problem = FrameSizeProblem(type, frameSamples);
    if (!problem.empty()) {
        Error("--frame " + std::to_string(frameSamples) + " does not suit " + CodecName(type) + ": " + problem);
        return kExitUsage;
    }

    std::string error;
    AudioInput audio;
    if (!audio.Open(input, &error)) {
        Error(error);
        return kExitFailure;
    }
    OutputFile output;
    if (!output.Open(outputPath, &error)) {
        Error(error);
        return kExitFailure;
    }
    VoiceState state;
    QX_VOICE_EncReset(&state, type);
    std::vector<int16_t> pcm(static_cast<std::size_t>(frameSamples));
    long frames = 0, padding = 0;
    for (;;) {
        const long got = audio.ReadFull(pcm.data(), frameSamples);
        if (got < 0) {
            Error("cannot read '" + input + "': read error");
            return kExitFailure;
        }
        if (got == 0) break;
        if (got < frameSamples) {
            padding = frameSamples - got;
            std::fill(pcm.begin() + got, pcm.end(), int16_t{0});
        }
        VoiceFrame frame;
        const int32_t result = QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, static_cast<int16_t>(frameSamples));
        if (result != VOICE_OK) {
            Error(std::string("the encoder refused a frame: ") + VoiceResultName(result));
            return kExitFailure;
        }
        if (!output.Write(&frame, 4 + 2 * static_cast<std::size_t>(frame.length))) {
            Error("cannot write '" + outputPath + "': " + std::strerror(errno));
            return kExitFailure;
        }
        ++frames;
        if (got < frameSamples) break;
    }
    if (frames == 0) {
        Error((input == "-" ? std::string("standard input") : "'" + input + "'") + " holds no samples");
        return kExitFailure;
    }
    if (!output.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %llu samples encoded as %s into %ld frames of %ld samples, written to %s\n",
                 static_cast<unsigned long long>(audio.SamplesRead()), CodecName(type), frames, frameSamples,
                 Where(outputPath).c_str());
    if (padding > 0) std::fprintf(stderr, "velkorix: the last frame was completed with %ld samples of silence\n", padding);
    return kExitOk;
}

}  // namespace velkorix::cli::voice
