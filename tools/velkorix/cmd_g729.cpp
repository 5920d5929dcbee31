// velkorix g729: G.729 Annex A streams in the ITU serial bitstream format.
//
//   velkorix g729 decode INPUT.bit -o OUTPUT [--wav]
//
// The ITU serial format (the one of the Recommendation's test vectors) holds,
// per 10 ms frame, little-endian 16-bit words: a sync word (0x6B21, or 0x6B20
// for a frame marked bad), the bit count (80), then one word per bit in
// transmission order, 0x0081 for a one and 0x007F for a zero. Any other bit
// word (0x0000 marks an erased bit) is read as a zero: the decoder has no
// erasure input.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "options.h"
#include "g729/g729_decoder.h"
#include "output_file.h"

namespace velkorix::cli {
namespace {

using namespace velkorix::g729;

const CommandSyntax kSyntax{
    "velkorix g729 decode",
    "velkorix g729",
    "velkorix g729 decode INPUT.bit -o OUTPUT [--wav]",
    "Decodes a G.729 Annex A stream in the ITU serial bitstream format (per frame:\n"
    "sync word 0x6B21, bit count 80, one 16-bit word per bit: 0x0081 one, 0x007F\n"
    "zero, anything else read as zero) to 16-bit PCM at 8000 Hz, mono.",
    {
        Positional("INPUT.bit", "bitstream file, or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT",
                    "output file, or - for standard output; raw 16-bit\n"
                    "little-endian PCM unless OUTPUT ends in .wav"),
        FlagOption(nullptr, "--wav", "write WAV whatever the name (for example to standard output)"),
    },
    "A summary and the decoder's warnings go to standard error. Exit status:\n"
    "0 success; 1 failure, nothing written; 2 usage error; 3 the stream ended\n"
    "early or held frames that could not be decoded (every good frame is\n"
    "decoded and written).",
};

constexpr uint16_t kSyncGood = 0x6B21;
constexpr uint16_t kSyncBad = 0x6B20;
constexpr uint16_t kBitOne = 0x0081;
constexpr uint16_t kBitZero = 0x007F;
constexpr int kFrameBits = 8 * kG729FrameBytes;
constexpr int kSampleRate = 8000;

bool EndsWithWav(const std::string &path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char &c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".wav";
}

// Reads ITU serial frames one at a time.
class ItuReader {
public:
    enum class Status { Frame, Skipped, End, Truncated, BadSync, ReadError };

    explicit ItuReader(std::FILE *file) : file_(file) {}

    // Frame: `frame` holds the packed bits. Skipped: a frame with a bit count
    // other than 80 was passed over. The others end the stream.
    Status Next(uint8_t frame[kG729FrameBytes]) {
        offset_ = position_;
        uint16_t header[2];
        const std::size_t got = ReadWords(header, 2);
        if (std::ferror(file_)) return Status::ReadError;
        if (got == 0 && !partialByte_) return Status::End;
        if (got < 2) return Status::Truncated;
        if (header[0] != kSyncGood && header[0] != kSyncBad) return Status::BadSync;
        if (header[0] == kSyncBad) ++badFrames_;
        const uint16_t count = header[1];
        if (count != kFrameBits) {
            // Not a full-rate frame (for example a silence descriptor of
            // another annex): step over its bit words.
            uint16_t skip[256];
            for (std::size_t left = count; left > 0;) {
                const std::size_t chunk = left < 256 ? left : 256;
                if (ReadWords(skip, chunk) < chunk) return std::ferror(file_) ? Status::ReadError : Status::Truncated;
                left -= chunk;
            }
            return Status::Skipped;
        }
        uint16_t bits[kFrameBits];
        if (ReadWords(bits, kFrameBits) < static_cast<std::size_t>(kFrameBits))
            return std::ferror(file_) ? Status::ReadError : Status::Truncated;
        std::memset(frame, 0, kG729FrameBytes);
        for (int k = 0; k < kFrameBits; ++k) {
            if (bits[k] == kBitOne)
                frame[k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
            else if (bits[k] != kBitZero)
                ++erasedBits_;
        }
        return Status::Frame;
    }

    uint64_t Offset() const { return offset_; }
    long ErasedBits() const { return erasedBits_; }
    long BadFrames() const { return badFrames_; }

private:
    // Reads up to `count` (at most 256) little-endian words; returns the whole
    // words read.
    std::size_t ReadWords(uint16_t *words, std::size_t count) {
        uint8_t bytes[512];
        const std::size_t got = count == 0 ? 0 : std::fread(bytes, 1, 2 * count, file_);
        position_ += got;
        partialByte_ = got % 2 != 0;
        for (std::size_t i = 0; i < got / 2; ++i)
            words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        return got / 2;
    }

    std::FILE *file_;
    uint64_t position_ = 0;
    uint64_t offset_ = 0;
    bool partialByte_ = false;
    long erasedBits_ = 0;
    long badFrames_ = 0;
};

// Raw PCM or WAV behind one interface.
class PcmOutput {
public:
    bool Open(const std::string &path, bool wav, std::string *error) {
        wav_ = wav;
        return wav ? wavWriter_.Open(path, WavType(), kSampleRate, 1, error) : raw_.Open(path, error);
    }
    bool Write(const int16_t *samples, std::size_t count) {
        uint8_t bytes[2 * kG729FrameSamples];
        for (std::size_t i = 0; i < count; ++i) {
            const uint16_t v = static_cast<uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<uint8_t>(v);
            bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        return wav_ ? wavWriter_.WriteBytes(bytes, 2 * count) : raw_.Write(bytes, 2 * count);
    }
    bool Finish(std::string *error) { return wav_ ? wavWriter_.Finish(error) : raw_.Commit(error); }

private:
    bool wav_ = false;
    AudioWriter wavWriter_;
    OutputFile raw_;
};

int RunDecode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kSyntax, args, &parsed)) return *exit;
    const std::string &input = parsed.Value("INPUT.bit");
    const std::string &output = parsed.Value("--output");
    const bool forceWav = parsed.Has("--wav");
    if (input.empty() || output.empty()) {
        Error(kSyntax.SeeHelp("g729 decode needs an INPUT and -o OUTPUT"));
        return kExitUsage;
    }

    const InputFile inputFile = OpenInput(input);
    if (!inputFile) return kExitFailure;
    std::FILE *in = inputFile.get();

    struct DecoderHolder {
        G729Decoder *d = G729Decoder_Create();
        ~DecoderHolder() { G729Decoder_Destroy(d); }
    } decoder;
    if (!decoder.d) {
        Error("out of memory");
        return kExitFailure;
    }

    PcmOutput out;
    std::string error;
    if (!out.Open(output, forceWav || EndsWithWav(output), &error)) {
        Error(error);
        return kExitFailure;
    }

    ItuReader reader(in);
    long frames = 0, skipped = 0;
    ItuReader::Status status;
    uint8_t frame[kG729FrameBytes];
    while ((status = reader.Next(frame)) == ItuReader::Status::Frame || status == ItuReader::Status::Skipped) {
        if (status == ItuReader::Status::Skipped) {
            ++skipped;
            continue;
        }
        std::memcpy(decoder.d->inputFrame, frame, kG729FrameBytes);
        G729Decoder_DecodeFrame(decoder.d);
        if (!out.Write(decoder.d->outputPcm, kG729FrameSamples)) {
            Error(output == "-" ? std::string("cannot write to standard output: ") + std::strerror(errno)
                                : "cannot write '" + output + "': " + std::strerror(errno));
            return kExitFailure;  // the unfinished output is discarded
        }
        ++frames;
    }
    if (status == ItuReader::Status::ReadError) {
        Error("cannot read '" + input + "': " + std::strerror(errno));
        return kExitFailure;
    }
    std::string reason;
    if (status == ItuReader::Status::Truncated) reason = "the last frame is cut short";
    if (status == ItuReader::Status::BadSync) reason = "no frame sync word (0x6B21) where a frame should start";
    if (frames == 0) {
        Error("'" + input + "' holds no G.729 frame" + (reason.empty() ? "" : ": at byte offset " +
              std::to_string(reader.Offset()) + " " + reason));
        return kExitFailure;
    }
    if (!out.Finish(&error)) {
        Error(error.empty() ? "cannot write '" + output + "'" : error);
        return kExitFailure;
    }

    std::fprintf(stderr, "velkorix: %ld frames decoded, %ld samples written to %s\n", frames,
                 frames * kG729FrameSamples, output == "-" ? "standard output" : output.c_str());
    if (reader.ErasedBits() != 0 || reader.BadFrames() != 0)
        std::fprintf(stderr, "velkorix: %ld frames marked bad, %ld erased bits read as zero\n", reader.BadFrames(),
                     reader.ErasedBits());
    int result = kExitOk;
    if (skipped != 0) {
        std::fprintf(stderr, "velkorix: warning: %ld frames without 80 bits were skipped\n", skipped);
        result = kExitWarning;
    }
    if (!reason.empty()) {
        std::fprintf(stderr, "velkorix: warning: stream ends at byte offset %llu: %s\n",
                     static_cast<unsigned long long>(reader.Offset()), reason.c_str());
        result = kExitWarning;
    }
    return result;
}

// The only g729 command is decode: its help is the group's.
int RunG729(const std::vector<std::string> &args) {
    return RunSubcommand("g729", HelpText(kSyntax), {{"decode", RunDecode}}, args);
}

const CommandRegistration kRegistration({"g729", "decode a G.729 Annex A ITU serial bitstream to PCM or WAV", RunG729});

}  // namespace
}  // namespace velkorix::cli
