// Pieces the voice subcommands share: the codec and selector tables with
// their command-line names, the checks every subcommand makes of its
// arguments, and the reports of rejected frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Reads the first frame of `input`; reports an input that cannot be read or
// holds no complete frame, and returns false for it.
bool ReadFirstFrame(VoiceFrameReader &reader, const std::string &input, uint8_t *frame, std::size_t *size,
                    VoiceFrameReader::Status *status);

// Reports a read error of `input`; says whether there was one.
bool ReportReadError(const VoiceFrameReader &reader, VoiceFrameReader::Status status, const std::string &input);

// The exit status once the frames are done: a warning for rejected frames or
// for an input that ends inside a frame (reported here).
int FinalStatus(const VoiceFrameReader &reader, VoiceFrameReader::Status status, long rejected);

}  // namespace velkorix::cli::voice
