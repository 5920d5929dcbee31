// velkorix voice transcode: variant voice frames to their plain type.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "output_file.h"
#include "velkorix/qx_voice.h"
#include "voice_commands.h"

namespace velkorix::cli::voice {

const CommandSyntax kTranscodeSyntax{
    "velkorix voice transcode",
    "",
    "velkorix voice transcode --selector NAME INPUT -o OUTPUT",
    "Converts the frames of a voice file of a variant type into frames of the\n"
    "plain type:\n"
    "  g711a   (97)   g711a-swap -> g711a      g711u   (98)   g711u-swap -> g711u\n"
    "  adpcm   (99)   adpcm-bare -> adpcm-pred adpcm2  (100)  adpcm2 -> g726-16",
    {
        ValueOption(nullptr, "--selector", "NAME", "selector name or number"),
        Positional("INPUT", "voice file, or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT", "voice file to write, or - for standard output"),
    },
    "For adpcm and adpcm2 a frame the decoding side rejects is reported with its\n"
    "byte offset and result code and left out of the output. Exit status: 0\n"
    "success; 1 failure, nothing written; 2 usage error; 3 output written, but\n"
    "frames were rejected or the input ended inside a frame.",
};

int RunTranscode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kTranscodeSyntax, args, &parsed)) return *exit;
    if (!HasInputOutput(kTranscodeSyntax, "transcode", parsed) ||
        !HasChoice("transcode", parsed, "--selector", "NAME"))
        return kExitUsage;
    const std::string &input = parsed.Value("INPUT");
    const std::string &outputPath = parsed.Value("--output");
    int16_t selector = 0;
    if (!ParseSelector(parsed.Value("--selector"), &selector)) {
        Error("unknown selector '" + parsed.Value("--selector") + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    std::string error;
    VoiceFrameInput in;
    if (!in.Open(input)) return kExitFailure;
    OutputFile output;
    if (!output.Open(outputPath, &error)) {
        Error(error);
        return kExitFailure;
    }
    static VoiceTransState state;
    QX_VOICE_TransCodeReset(&state, selector);
    const bool reencodes = selector == TRANS_ADPCM || selector == TRANS_ADPCM2;
    long frames = 0, rejected = 0;
    for (; in.HasFrame(); in.Next()) {
        ++frames;
        uint8_t *frame = in.Frame();
        if (reencodes) {
            // The library leaves a frame its decoding side rejects as it was
            // and does not say so: try the decoding on copies first.
            static VoiceState trial;
            trial = state.decoder;
            alignas(4) uint8_t copy[kVoiceFrameBufferBytes];
            std::memcpy(copy, frame, in.Size());
            int16_t pcm[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            const int32_t result = QX_VOICE_DecodeFrame(&trial, reinterpret_cast<VoiceFrame *>(copy), pcm, &count);
            if (result != VOICE_OK) {
                ReportRejected(++rejected, in.Offset(), result, frame);
                continue;
            }
        }
        QX_VOICE_TransCodeFrame(&state, reinterpret_cast<VoiceFrame *>(frame));
        if (!output.Write(frame, 4 + 2 * static_cast<std::size_t>(frame[2]))) {
            Error("cannot write '" + outputPath + "': " + std::strerror(errno));
            return kExitFailure;
        }
    }
    if (in.ReportReadError()) return kExitFailure;
    if (!output.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %ld frames transcoded (%ld rejected), written to %s\n", frames - rejected, rejected,
                 Where(outputPath).c_str());
    return in.FinalStatus(rejected);
}

}  // namespace velkorix::cli::voice
