// Pieces the voice subcommands share: the codec and selector tables with
// their command-line names, the checks every subcommand makes of its
// arguments, and the reports of rejected frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "options.h"
#include "voice_file.h"

namespace velkorix::cli::voice {

struct Codec {
    const char *name;
    int16_t type;
    const char *description;
};
struct Selector {
    const char *name;
    int16_t selector;
    const char *description;
};
extern const std::vector<Codec> kCodecs;
extern const std::vector<Selector> kSelectors;

// A codec or selector by name or number; false when there is none.
bool ParseCodec(const std::string &text, int16_t *type);
bool ParseSelector(const std::string &text, int16_t *selector);
const char *CodecName(int16_t type);

// The subcommands, each in its own file.
extern const CommandSyntax kEncodeSyntax, kDecodeSyntax, kTranscodeSyntax;
int RunEncode(const std::vector<std::string> &args);
int RunDecode(const std::vector<std::string> &args);
int RunTranscode(const std::vector<std::string> &args);

// The INPUT and -o OUTPUT every subcommand needs, and the --codec or
// --selector (`choice`) it needs when given; false after a usage error.
bool HasInputOutput(const CommandSyntax &syntax, const char *command, const ParsedArgs &parsed);
bool HasChoice(const char *command, const ParsedArgs &parsed, const char *choice, const char *valueName);

// "standard output" for "-", else the path.
std::string Where(const std::string &path);

// Reports a rejected frame (the first few of them; later ones are counted).
void ReportRejected(long rejected, uint64_t offset, int32_t code, const uint8_t *frame);

// The frames of a voice file, for the subcommands that read one: opens it,
// reads its first frame, and reports what ends the reading.
class VoiceFrameInput {
public:
    // Opens `path` ("-" for standard input) and reads the first frame;
    // reports an input that cannot be opened or read or holds no complete
    // frame, and returns false for it.
    bool Open(const std::string &path);

    // Whether a frame is at hand; Next() reads the one after it.
    bool HasFrame() const { return status_ == VoiceFrameReader::Status::Frame; }
    void Next() { status_ = reader_.Next(frame_, &size_); }

    uint8_t *Frame() { return frame_; }
    std::size_t Size() const { return size_; }
    // Byte offset of the frame at hand.
    uint64_t Offset() const { return reader_.Offset(); }

    // Once the frames are done: reports a read error and says whether there
    // was one.
    bool ReportReadError() const;
    // The exit status: a warning for rejected frames or for an input that
    // ends inside a frame (reported here).
    int FinalStatus(long rejected) const;

private:
    std::string path_;
    InputFile file_;
    VoiceFrameReader reader_{nullptr};
    alignas(4) uint8_t frame_[kVoiceFrameBufferBytes];
    std::size_t size_ = 0;
    VoiceFrameReader::Status status_ = VoiceFrameReader::Status::End;
};

}  // namespace velkorix::cli::voice
