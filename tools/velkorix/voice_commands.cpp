#include "voice_commands.h"

#include <cstdio>

#include "cli.h"
#include "velkorix/qx_voice.h"
#include "velkorix/qx_voice_names.h"

namespace velkorix::cli::voice {
namespace {

// Reports of rejected frames stop after this many; the summary counts all.
constexpr long kMaxReports = 20;

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

}  // namespace

const std::vector<Codec> kCodecs = {
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

const std::vector<Selector> kSelectors = {
    {"g711a", TRANS_G711_A, "g711a-swap frames to g711a"},
    {"g711u", TRANS_G711_U, "g711u-swap frames to g711u"},
    {"adpcm", TRANS_ADPCM, "adpcm-bare frames to adpcm-pred (each frame grows by 2 words)"},
    {"adpcm2", TRANS_ADPCM2, "adpcm2 frames to g726-16 (same length)"},
};

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

bool HasInputOutput(const CommandSyntax &syntax, const char *command, const ParsedArgs &parsed) {
    if (!parsed.Value("INPUT").empty() && !parsed.Value("--output").empty()) return true;
    Error(syntax.SeeHelp(std::string(command) + " needs an INPUT and -o OUTPUT"));
    return false;
}

bool HasChoice(const char *command, const ParsedArgs &parsed, const char *choice, const char *valueName) {
    if (!parsed.Value(choice).empty()) return true;
    Error(std::string(command) + " needs " + choice + " " + valueName + " (see 'velkorix voice --list')");
    return false;
}

std::string Where(const std::string &path) { return path == "-" ? "standard output" : path; }

void ReportRejected(long rejected, uint64_t offset, int32_t code, const uint8_t *frame) {
    if (rejected > kMaxReports) return;
    const std::string why = Explain(code, frame);
    std::fprintf(stderr, "velkorix: frame at byte offset %llu rejected: %s%s%s\n",
                 static_cast<unsigned long long>(offset), VoiceResultName(code), why.empty() ? "" : " (",
                 why.empty() ? "" : (why + ")").c_str());
    if (rejected == kMaxReports) std::fprintf(stderr, "velkorix: (further rejected frames are only counted)\n");
}

bool VoiceFrameInput::Open(const std::string &path) {
    path_ = path;
    file_ = OpenInput(path);
    if (!file_) return false;
    reader_ = VoiceFrameReader(file_.get());
    Next();
    if (ReportReadError()) return false;
    if (HasFrame()) return true;
    Error("'" + path + "' holds no complete frame" +
          (status_ == VoiceFrameReader::Status::Truncated ? ": " + reader_.Reason() : std::string()));
    return false;
}

bool VoiceFrameInput::ReportReadError() const {
    if (status_ != VoiceFrameReader::Status::ReadError) return false;
    Error("cannot read '" + path_ + "': " + reader_.Reason());
    return true;
}

int VoiceFrameInput::FinalStatus(long rejected) const {
    const bool truncated = status_ == VoiceFrameReader::Status::Truncated;
    if (truncated)
        std::fprintf(stderr, "velkorix: warning: input ends at byte offset %llu: %s\n",
                     static_cast<unsigned long long>(reader_.Offset()), reader_.Reason().c_str());
    return (rejected > 0 || truncated) ? kExitWarning : kExitOk;
}

}  // namespace velkorix::cli::voice
