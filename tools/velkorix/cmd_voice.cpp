// velkorix voice: encode WAV audio into voice frames, decode voice frames to
// WAV, transcode variant frames in place, list the codecs.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_input.h"
#include "cli.h"
#include "output_file.h"
#include "velkorix/qx_voice.h"
#include "voice_file.h"

namespace velkorix::cli {
namespace {

struct Codec {
    const char *name;
    int16_t type;
    const char *description;
};

constexpr Codec kCodecs[] = {
    {"g711a", G711_A, "G.711 A-law"},
    {"g711u", G711_U, "G.711 mu-law"},
    {"g711a-swap", G711_A_SWAP, "G.711 A-law, bytes of each word exchanged"},
    {"g711u-swap", G711_U_SWAP, "G.711 mu-law, bytes of each word exchanged"},
    {"adpcm-pred", ADPCM_PRED, "IMA ADPCM, header with predictor and step index"},
    {"adpcm-first", ADPCM_FIRST, "IMA ADPCM, header with the first sample"},
    {"adpcm-bare", ADPCM_BARE, "IMA ADPCM, no header"},
    {"g726-16", G726_16, "G.726 16 kbit/s, LSB-first packing"},
    {"g726-24", G726_24, "G.726 24 kbit/s, LSB-first packing"},
    {"g726-32", G726_32, "G.726 32 kbit/s, LSB-first packing"},
    {"g726-40", G726_40, "G.726 40 kbit/s, LSB-first packing"},
    {"g726-16-msb", G726_16_MSB, "G.726 16 kbit/s, MSB-first packing"},
    {"g726-24-msb", G726_24_MSB, "G.726 24 kbit/s, MSB-first packing"},
    {"g726-32-msb", G726_32_MSB, "G.726 32 kbit/s, MSB-first packing"},
    {"g726-40-msb", G726_40_MSB, "G.726 40 kbit/s, MSB-first packing"},
    {"adpcm2", ADPCM2_LINEAR, "2-bit ADPCM with linear arithmetic"},
};

struct Selector {
    const char *name;
    int16_t selector;
    const char *description;
};

constexpr Selector kSelectors[] = {
    {"g711a", TRANS_G711_A, "g711a-swap frames to g711a"},
    {"g711u", TRANS_G711_U, "g711u-swap frames to g711u"},
    {"adpcm", TRANS_ADPCM, "adpcm-bare frames to adpcm-pred (each frame grows by 2 words)"},
    {"adpcm2", TRANS_ADPCM2, "adpcm2 frames to g726-16 (same length)"},
};

const char *ResultName(int32_t code) {
    switch (code) {
        case VOICE_OK: return "VOICE_OK";
        case VOICE_ERR_ENC_TYPE: return "VOICE_ERR_ENC_TYPE";
        case VOICE_ERR_ENC_LEN: return "VOICE_ERR_ENC_LEN";
        case VOICE_ERR_DEC_TYPE: return "VOICE_ERR_DEC_TYPE";
        case VOICE_ERR_DEC_LEN: return "VOICE_ERR_DEC_LEN";
        case VOICE_ERR_DEC_HEADER: return "VOICE_ERR_DEC_HEADER";
        case VOICE_ERR_NULL_STATE: return "VOICE_ERR_NULL_STATE";
        case VOICE_ERR_NULL_INPUT: return "VOICE_ERR_NULL_INPUT";
        case VOICE_ERR_NULL_OUTPUT: return "VOICE_ERR_NULL_OUTPUT";
        case VOICE_ERR_TRANS_NULL_STATE: return "VOICE_ERR_TRANS_NULL_STATE";
        case VOICE_ERR_TRANS_TYPE: return "VOICE_ERR_TRANS_TYPE";
        default: return "unknown result";
    }
}

// What a decode failure means for the frame at hand.
std::string Explain(int32_t code, const uint8_t *frame) {
    char text[96];
    if (code == VOICE_ERR_DEC_HEADER) {
        std::snprintf(text, sizeof(text), "flags word 0x%04X lacks bit 8 or has bit 9 set",
                      static_cast<unsigned>(frame[0] | frame[1] << 8));
        return text;
    }
    if (code == VOICE_ERR_DEC_LEN) {
        std::snprintf(text, sizeof(text), "a length of %d words is not a frame this codec accepts", frame[2]);
        return text;
    }
    return "";
}

const char kVoiceHelp[] =
    "usage: velkorix voice encode --codec NAME INPUT -o OUTPUT [--frame N]\n"
    "       velkorix voice decode --codec NAME INPUT -o OUTPUT.wav\n"
    "       velkorix voice transcode --selector NAME INPUT -o OUTPUT\n"
    "       velkorix voice --list\n"
    "\n"
    "Works with the frames of the voice codec library (the QX_VOICE_ functions).\n"
    "A voice file is frames back to back: a 4-byte header (flags word 0x0100,\n"
    "payload length in 16-bit words, 0) and the payload.\n"
    "\n"
    "  encode      audio (8000 Hz mono 16-bit PCM, WAV or any file libsndfile\n"
    "              reads) to a voice file\n"
    "  decode      a voice file to a 16-bit PCM WAV file at 8000 Hz\n"
    "  transcode   converts variant frames into their plain counterparts\n"
    "  --list      names and numbers of every codec and transcoding selector\n"
    "\n"
    "Run 'velkorix voice COMMAND --help' for a command's options.\n";

const char kEncodeHelp[] =
    "usage: velkorix voice encode --codec NAME INPUT -o OUTPUT [--frame N]\n"
    "\n"
    "Encodes audio into voice frames of N samples each.\n"
    "\n"
    "  --codec NAME  codec name or number (see 'velkorix voice --list')\n"
    "  INPUT         8000 Hz mono 16-bit PCM audio (WAV or any file libsndfile\n"
    "                reads), or - for standard input\n"
    "  -o OUTPUT     voice file to write, or - for standard output\n"
    "  --frame N     samples per frame (default 160; 161 for adpcm-first). The\n"
    "                size must let every frame carry all its samples: a multiple\n"
    "                of 80 up to 480 for the G.711, G.726 and adpcm2 codecs, a\n"
    "                multiple of 4 up to 480 for adpcm-pred and adpcm-bare, and\n"
    "                4k + 1 up to 481 for adpcm-first.\n"
    "\n"
    "The last frame is completed with silence. Exit status: 0 success; 1 failure,\n"
    "nothing written; 2 usage error.\n";

const char kDecodeHelp[] =
    "usage: velkorix voice decode --codec NAME INPUT -o OUTPUT.wav\n"
    "\n"
    "Decodes a voice file to a 16-bit PCM WAV file at 8000 Hz, mono.\n"
    "\n"
    "  --codec NAME  codec name or number (see 'velkorix voice --list')\n"
    "  INPUT         voice file, or - for standard input\n"
    "  -o OUTPUT     WAV file to write, or - for standard output\n"
    "\n"
    "A frame the codec rejects is reported with its byte offset and the\n"
    "library's result code, and decoding goes on with the next frame. Exit\n"
    "status: 0 success; 1 failure, nothing written; 2 usage error; 3 output\n"
    "written, but frames were rejected or the input ended inside a frame.\n";

const char kTranscodeHelp[] =
    "usage: velkorix voice transcode --selector NAME INPUT -o OUTPUT\n"
    "\n"
    "Converts the frames of a voice file of a variant type into frames of the\n"
    "plain type:\n"
    "  g711a   (97)   g711a-swap -> g711a      g711u   (98)   g711u-swap -> g711u\n"
    "  adpcm   (99)   adpcm-bare -> adpcm-pred adpcm2  (100)  adpcm2 -> g726-16\n"
    "\n"
    "  --selector NAME  selector name or number\n"
    "  INPUT            voice file, or - for standard input\n"
    "  -o OUTPUT        voice file to write, or - for standard output\n"
    "\n"
    "For adpcm and adpcm2 a frame the decoding side rejects is reported with its\n"
    "byte offset and result code and left out of the output. Exit status: 0\n"
    "success; 1 failure, nothing written; 2 usage error; 3 output written, but\n"
    "frames were rejected or the input ended inside a frame.\n";

// Reports of rejected frames stop after this many; the summary counts all.
constexpr long kMaxReports = 20;

bool ParseCodec(const std::string &text, int16_t *type) {
    for (const Codec &c : kCodecs) {
        if (text == c.name || text == std::to_string(c.type)) {
            *type = c.type;
            return true;
        }
    }
    return false;
}

bool ParseSelector(const std::string &text, int16_t *selector) {
    for (const Selector &s : kSelectors) {
        if (text == s.name || text == std::to_string(s.selector)) {
            *selector = s.selector;
            return true;
        }
    }
    return false;
}

const char *CodecName(int16_t type) {
    for (const Codec &c : kCodecs)
        if (c.type == type) return c.name;
    return "?";
}

int ListCodecs() {
    std::printf("codecs (--codec NAME or number):\n");
    for (const Codec &c : kCodecs) std::printf("  %-12s %3d  %s\n", c.name, c.type, c.description);
    std::printf("\ntranscoding selectors (--selector NAME or number):\n");
    for (const Selector &s : kSelectors) std::printf("  %-12s %3d  %s\n", s.name, s.selector, s.description);
    return kExitOk;
}

// Why frames of `samples` samples would not carry all their samples, or lose
// them to a decoder; empty when the size is fine.
std::string FrameSizeProblem(int16_t type, long samples) {
    switch (type) {
        case ADPCM_PRED:
        case ADPCM_BARE:
            if (samples % 4 == 0 && samples <= 480) return "";
            return "frames must hold a multiple of 4 samples, up to 480";
        case ADPCM_FIRST:
            if (samples % 4 == 1 && samples <= 481) return "";
            return "frames must hold 4k + 1 samples (the first sample and pairs of code bytes), up to 481";
        default:
            if (samples % 80 == 0 && samples <= 480) return "";
            return "frames must hold a multiple of 80 samples, up to 480";
    }
}

// Options shared by the three commands.
struct Options {
    std::string input, output;
    std::string codecText, selectorText;
    long long frame = 0;  // 0: the codec's default
    bool help = false;
};

// Parses the arguments of a command; returns false (after a message) on a
// usage error.
bool ParseOptions(const std::vector<std::string> &args, const char *command, bool takesCodec, bool takesSelector,
                  bool takesFrame, Options *options) {
    const std::string see = std::string(" (see 'velkorix voice ") + command + " --help')";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&](const char *what) -> const std::string * {
            if (i + 1 >= args.size()) {
                Error(std::string(what) + " needs a value" + see);
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--help" || a == "-h") {
            options->help = true;
            return true;
        } else if (a == "-o" || a == "--output") {
            const std::string *v = value("-o");
            if (!v) return false;
            options->output = *v;
        } else if (takesCodec && a == "--codec") {
            const std::string *v = value("--codec");
            if (!v) return false;
            options->codecText = *v;
        } else if (takesSelector && a == "--selector") {
            const std::string *v = value("--selector");
            if (!v) return false;
            options->selectorText = *v;
        } else if (takesFrame && a == "--frame") {
            const std::string *v = value("--frame");
            if (!v) return false;
            if (!ParseInt(*v, 1, VOICE_MAX_SAMPLES, &options->frame)) {
                Error("--frame must be a whole number of samples from 1 to 481, not '" + *v + "'");
                return false;
            }
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            Error("unknown option '" + a + "'" + see);
            return false;
        } else if (options->input.empty()) {
            options->input = a;
        } else {
            Error("more than one input given" + see);
            return false;
        }
    }
    if (options->input.empty() || options->output.empty()) {
        Error(std::string(command) + " needs an INPUT and -o OUTPUT" + see);
        return false;
    }
    if (takesCodec && options->codecText.empty()) {
        Error(std::string(command) + " needs --codec NAME (see 'velkorix voice --list')");
        return false;
    }
    if (takesSelector && options->selectorText.empty()) {
        Error(std::string(command) + " needs --selector NAME (see 'velkorix voice --list')");
        return false;
    }
    return true;
}

// An input file ("-" for standard input), closed at the end of its scope.
std::string Where(const std::string &path) { return path == "-" ? "standard output" : path; }

int RunEncode(const std::vector<std::string> &args) {
    Options options;
    if (!ParseOptions(args, "encode", true, false, true, &options)) return kExitUsage;
    if (options.help) {
        std::fputs(kEncodeHelp, stdout);
        return kExitOk;
    }
    int16_t type = 0;
    if (!ParseCodec(options.codecText, &type)) {
        Error("unknown codec '" + options.codecText + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    const long frameSamples = options.frame != 0 ? static_cast<long>(options.frame) : type == ADPCM_FIRST ? 161 : 160;
    const std::string problem = FrameSizeProblem(type, frameSamples);
    if (!problem.empty()) {
        Error("--frame " + std::to_string(frameSamples) + " does not suit " + CodecName(type) + ": " + problem);
        return kExitUsage;
    }

    std::string error;
    AudioInput input;
    if (!input.Open(options.input, &error)) {
        Error(error);
        return kExitFailure;
    }
    OutputFile output;
    if (!output.Open(options.output, &error)) {
        Error(error);
        return kExitFailure;
    }
    VoiceState state;
    QX_VOICE_EncReset(&state, type);
    std::vector<int16_t> pcm(static_cast<std::size_t>(frameSamples));
    long frames = 0, padding = 0;
    for (;;) {
        long got = 0;
        while (got < frameSamples) {
            const long n = input.Read(pcm.data() + got, frameSamples - got);
            if (n < 0) {
                Error("cannot read '" + options.input + "': read error");
                return kExitFailure;
            }
            if (n == 0) break;
            got += n;
        }
        if (got == 0) break;
        if (got < frameSamples) {
            padding = frameSamples - got;
            std::fill(pcm.begin() + got, pcm.end(), int16_t{0});
        }
        VoiceFrame frame;
        const int32_t result = QX_VOICE_EncodeFrame(&state, pcm.data(), &frame, static_cast<int16_t>(frameSamples));
        if (result != VOICE_OK) {
            Error(std::string("the encoder refused a frame: ") + ResultName(result));
            return kExitFailure;
        }
        if (!output.Write(&frame, 4 + 2 * static_cast<std::size_t>(frame.length))) {
            Error("cannot write '" + options.output + "': " + std::strerror(errno));
            return kExitFailure;
        }
        ++frames;
        if (got < frameSamples) break;
    }
    if (frames == 0) {
        Error((options.input == "-" ? std::string("standard input") : "'" + options.input + "'") +
              " holds no samples");
        return kExitFailure;
    }
    if (!output.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %llu samples encoded as %s into %ld frames of %ld samples, written to %s\n",
                 static_cast<unsigned long long>(input.SamplesRead()), CodecName(type), frames, frameSamples,
                 Where(options.output).c_str());
    if (padding > 0) std::fprintf(stderr, "velkorix: the last frame was completed with %ld samples of silence\n", padding);
    return kExitOk;
}

// Reports a rejected frame (the first kMaxReports of them).
void ReportRejected(long rejected, uint64_t offset, int32_t code, const uint8_t *frame) {
    if (rejected > kMaxReports) return;
    const std::string why = Explain(code, frame);
    std::fprintf(stderr, "velkorix: frame at byte offset %llu rejected: %s%s%s\n",
                 static_cast<unsigned long long>(offset), ResultName(code), why.empty() ? "" : " (",
                 why.empty() ? "" : (why + ")").c_str());
    if (rejected == kMaxReports) std::fprintf(stderr, "velkorix: (further rejected frames are only counted)\n");
}

// Reports a read error of `input`; says whether there was one.
bool ReportReadError(const VoiceFrameReader &reader, VoiceFrameReader::Status status, const std::string &input) {
    if (status != VoiceFrameReader::Status::ReadError) return false;
    Error("cannot read '" + input + "': " + reader.Reason());
    return true;
}

// Reads the first frame of `input`; reports an input that cannot be read or
// holds no complete frame, and returns false for it.
bool ReadFirstFrame(VoiceFrameReader &reader, const std::string &input, uint8_t *frame, std::size_t *size,
                    VoiceFrameReader::Status *status) {
    *status = reader.Next(frame, size);
    if (ReportReadError(reader, *status, input)) return false;
    if (*status == VoiceFrameReader::Status::Frame) return true;
    Error("'" + input + "' holds no complete frame" +
          (*status == VoiceFrameReader::Status::Truncated ? ": " + reader.Reason() : std::string()));
    return false;
}

// The exit status once the frames are done: a warning for rejected frames or
// for an input that ends inside a frame (reported here).
int FinalStatus(const VoiceFrameReader &reader, VoiceFrameReader::Status status, long rejected) {
    const bool truncated = status == VoiceFrameReader::Status::Truncated;
    if (truncated)
        std::fprintf(stderr, "velkorix: warning: input ends at byte offset %llu: %s\n",
                     static_cast<unsigned long long>(reader.Offset()), reader.Reason().c_str());
    return (rejected > 0 || truncated) ? kExitWarning : kExitOk;
}

int RunDecode(const std::vector<std::string> &args) {
    Options options;
    if (!ParseOptions(args, "decode", true, false, false, &options)) return kExitUsage;
    if (options.help) {
        std::fputs(kDecodeHelp, stdout);
        return kExitOk;
    }
    int16_t type = 0;
    if (!ParseCodec(options.codecText, &type)) {
        Error("unknown codec '" + options.codecText + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    std::string error;
    const InputFile in = OpenInput(options.input);
    if (!in) return kExitFailure;
    VoiceFrameReader reader(in.get());
    alignas(4) uint8_t frame[kVoiceFrameBufferBytes];
    std::size_t size = 0;
    VoiceFrameReader::Status status{};
    if (!ReadFirstFrame(reader, options.input, frame, &size, &status)) return kExitFailure;

    WavWriter wav;
    if (!wav.Open(options.output, 8000, 1, &error)) {
        Error(error);
        return kExitFailure;
    }
    VoiceState state;
    QX_VOICE_DecReset(&state, type);
    long frames = 0, rejected = 0;
    uint64_t samples = 0;
    for (; status == VoiceFrameReader::Status::Frame; status = reader.Next(frame, &size)) {
        ++frames;
        int16_t pcm[VOICE_MAX_SAMPLES];
        int16_t count = 0;
        const int32_t result = QX_VOICE_DecodeFrame(&state, reinterpret_cast<VoiceFrame *>(frame), pcm, &count);
        if (result != VOICE_OK) {
            ReportRejected(++rejected, reader.Offset(), result, frame);
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
    if (ReportReadError(reader, status, options.input)) return kExitFailure;
    if (!wav.Finish(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %ld frames (%ld rejected), %llu samples decoded as %s, written to %s\n", frames,
                 rejected, static_cast<unsigned long long>(samples), CodecName(type), Where(options.output).c_str());
    return FinalStatus(reader, status, rejected);
}

int RunTranscode(const std::vector<std::string> &args) {
    Options options;
    if (!ParseOptions(args, "transcode", false, true, false, &options)) return kExitUsage;
    if (options.help) {
        std::fputs(kTranscodeHelp, stdout);
        return kExitOk;
    }
    int16_t selector = 0;
    if (!ParseSelector(options.selectorText, &selector)) {
        Error("unknown selector '" + options.selectorText + "' (see 'velkorix voice --list')");
        return kExitUsage;
    }
    std::string error;
    const InputFile in = OpenInput(options.input);
    if (!in) return kExitFailure;
    VoiceFrameReader reader(in.get());
    alignas(4) uint8_t frame[kVoiceFrameBufferBytes];
    std::size_t size = 0;
    VoiceFrameReader::Status status{};
    if (!ReadFirstFrame(reader, options.input, frame, &size, &status)) return kExitFailure;
    OutputFile output;
    if (!output.Open(options.output, &error)) {
        Error(error);
        return kExitFailure;
    }
    static VoiceTransState state;
    QX_VOICE_TransCodeReset(&state, selector);
    const bool reencodes = selector == TRANS_ADPCM || selector == TRANS_ADPCM2;
    long frames = 0, rejected = 0;
    for (; status == VoiceFrameReader::Status::Frame; status = reader.Next(frame, &size)) {
        ++frames;
        if (reencodes) {
            // The library leaves a frame its decoding side rejects as it was
            // and does not say so: try the decoding on copies first.
            static VoiceState trial;
            trial = state.decoder;
            alignas(4) uint8_t copy[kVoiceFrameBufferBytes];
            std::memcpy(copy, frame, size);
            int16_t pcm[VOICE_MAX_SAMPLES];
            int16_t count = 0;
            const int32_t result = QX_VOICE_DecodeFrame(&trial, reinterpret_cast<VoiceFrame *>(copy), pcm, &count);
            if (result != VOICE_OK) {
                ReportRejected(++rejected, reader.Offset(), result, frame);
                continue;
            }
        }
        QX_VOICE_TransCodeFrame(&state, reinterpret_cast<VoiceFrame *>(frame));
        if (!output.Write(frame, 4 + 2 * static_cast<std::size_t>(frame[2]))) {
            Error("cannot write '" + options.output + "': " + std::strerror(errno));
            return kExitFailure;
        }
    }
    if (ReportReadError(reader, status, options.input)) return kExitFailure;
    if (!output.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %ld frames transcoded (%ld rejected), written to %s\n", frames - rejected, rejected,
                 Where(options.output).c_str());
    return FinalStatus(reader, status, rejected);
}

int RunVoice(const std::vector<std::string> &args) {
    if (args.empty()) {
        std::fputs(kVoiceHelp, stderr);
        return kExitUsage;
    }
    const std::string &command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kVoiceHelp, stdout);
        return kExitOk;
    }
    if (command == "--list" || command == "list") return ListCodecs();
    if (command == "encode") return RunEncode(rest);
    if (command == "decode") return RunDecode(rest);
    if (command == "transcode") return RunTranscode(rest);
    Error("unknown voice command '" + command + "' (see 'velkorix voice --help')");
    return kExitUsage;
}

const CommandRegistration kRegistration({"voice", "encode, decode and transcode voice codec frames", RunVoice});

}  // namespace
}  // namespace velkorix::cli
