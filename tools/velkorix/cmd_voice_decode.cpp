// velkorix voice decode: voice frames to WAV.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "output_file.h"
#include "velkorix/qx_voice.h"
#include "voice_commands.h"

namespace velkorix::cli::voice {

const CommandSyntax kDecodeSyntax{
    "velkorix voice decode",
    "",
    "velkorix voice decode --codec NAME INPUT -o OUTPUT.wav",
    "Decodes a voice file to a 16-bit PCM WAV file at 8000 Hz, mono.",
    {
        ValueOption(nullptr, "--codec", "NAME", "codec name or number (see 'velkorix voice --list')"),
        Positional("INPUT", "voice file, or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT", "WAV file to write, or - for standard output"),
    },
    "A frame the codec rejects is reported with its byte offset and the\n"
    "library's result code, and decoding goes on with the next frame. Exit\n"
    "status: 0 success; 1 failure, nothing written; 2 usage error; 3 output\n"
    "written, but frames were rejected or the input ended inside a frame.",
};

int RunDecode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kDecodeSyntax, args, &parsed)) return *exit;
    if (!HasInputOutput(kDecodeSyntax, "decode", parsed) || !HasChoice("decode", parsed, "--codec", "NAME"))
        return kExitUsage;
    const std::string &input = parsed.Value("INPUT");
    const std::string &output = parsed.Value("--output");
    int16_t type = 0;
    if (!ParseCodec(parsed.Value("--codec"), &type)) {
        Error("unknown codec '" + parsed.Value("--codec") + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    std::string error;
    VoiceFrameInput in;
    if (!in.Open(input)) return kExitFailure;

    AudioWriter wav;
    if (!wav.Open(output, WavType(), 8000, 1, &error)) {
        Error(error);
        return kExitFailure;
    }
    VoiceState state;
    QX_VOICE_DecReset(&state, type);
    long frames = 0, rejected = 0;
    uint64_t samples = 0;
    for (; in.HasFrame(); in.Next()) {
        ++frames;
        uint8_t *frame = in.Frame();
        int16_t pcm[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        const int32_t result = QX_VOICE_DecodeFrame(&state, reinterpret_cast<VoiceFrame *>(frame), pcm, &count);
        if (result != VOICE_OK) {
            ReportRejected(++rejected, in.Offset(), result, frame);
            continue;
        }
        uint8_t bytes[2 * VOICE_MAX_SAMPLES];
        for (int i = 0; i < count; ++i) {
            bytes[2 * i] = static_cast<uint8_t>(pcm[i]);
            bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
        }
        if (!wav.WriteBytes(bytes, 2 * static_cast<std::size_t>(count))) break;
        samples += static_cast<uint64_t>(count);
    }
    if (in.ReportReadError()) return kExitFailure;
    if (!wav.Finish(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %ld frames (%ld rejected), %llu samples decoded as %s, written to %s\n", frames,
                 rejected, static_cast<unsigned long long>(samples), CodecName(type), Where(output).c_str());
    return in.FinalStatus(rejected);
}

}  // namespace velkorix::cli::voice
