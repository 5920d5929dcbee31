// velkorix video decode: a video elementary stream through the codec slot's
// video decoders (types 0, 1 and 16) into a YUV4MPEG2 file.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "options.h"
#include "output_file.h"
#include "velkorix/codec_slot.h"
#include "video_units.h"

namespace velkorix::cli::video {
namespace {

std::string RateCheck(const std::string &value);

const CommandSyntax kDecodeSyntax{
    "velkorix video decode",
    "",
    "velkorix video decode INPUT -o OUTPUT.y4m --type 0|1|16 [--rate NUM[:DEN]]",
    "Decodes a video elementary stream through the codec slot and writes the\n"
    "pictures, in display order, as YUV4MPEG2 (planar 4:2:0), which ffmpeg,\n"
    "ffplay and mpv read.",
    {
        Positional("INPUT", "stream to decode, or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT", "YUV4MPEG2 file to write, or - for standard output"),
        ValueOption(nullptr, "--type", "TYPE",
                    "codec type of the stream:\n"
                    "0   MPEG-4 part 2 visual elementary stream (.m4v)\n"
                    "1   H.264 in Annex B form (.h264)\n"
                    "16  H.264 access units, each after a 4-byte big-endian\n"
                    "    length (the 4 bytes type 16 input carries)",
                    [](const std::string &value) {
                        return value == "0" || value == "1" || value == "16"
                                   ? std::string()
                                   : "--type must be 0, 1 or 16, not '" + value + "'";
                    }),
        ValueOption(nullptr, "--rate", "NUM[:DEN]", "picture rate written in the header (default 25)", RateCheck),
    },
    "The pictures keep the size of the first one; a stream whose size changes\n"
    "ends at the change (exit status 3). The decoders live in the video module\n"
    "(libvelkorix-video.so, over libavcodec). Exit status: 0 success; 1\n"
    "failure, nothing written; 2 usage error; 3 output written, but units\n"
    "were too large or the picture size changed.",
};

bool ParseRate(const std::string &value, long long *num, long long *den) {
    const std::size_t colon = value.find(':');
    *den = 1;
    if (colon == std::string::npos) return ParseInt(value, 1, 1000000, num);
    return ParseInt(value.substr(0, colon), 1, 1000000, num) && ParseInt(value.substr(colon + 1), 1, 1000000, den);
}

std::string RateCheck(const std::string &value) {
    long long num = 0, den = 0;
    return ParseRate(value, &num, &den) ? std::string()
                                        : "--rate must be NUM or NUM:DEN (whole numbers from 1 to 1000000), not '" +
                                              value + "'";
}

bool ReadWhole(std::FILE *file, std::vector<uint8_t> *data) {
    uint8_t buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof(buffer), file);
        data->insert(data->end(), buffer, buffer + got);
        if (got < sizeof(buffer)) return !std::ferror(file);
    }
}

struct SlotCloser {
    void operator()(CodecSlot *slot) const {
        CodecSlotDestroy(slot);
        delete slot;
    }
};

int RunDecode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kDecodeSyntax, args, &parsed)) return *exit;
    if (parsed.Value("INPUT").empty() || parsed.Value("--output").empty() || parsed.Value("--type").empty()) {
        Error(kDecodeSyntax.SeeHelp("decode needs an INPUT, -o OUTPUT and --type TYPE"));
        return kExitUsage;
    }
    const std::string &input = parsed.Value("INPUT");
    const int32_t type = static_cast<int32_t>(parsed.Integer("--type", 0));
    long long rateNum = 25, rateDen = 1;
    if (parsed.Has("--rate")) ParseRate(parsed.Value("--rate"), &rateNum, &rateDen);

    std::vector<uint8_t> stream;
    {
        const InputFile in = OpenInput(input);
        if (!in) return kExitFailure;
        if (!ReadWhole(in.get(), &stream)) {
            Error("cannot read '" + input + "'");
            return kExitFailure;
        }
    }
    const UnitFormat format = type == CODEC_TYPE_VIDEO_MPEG4  ? UnitFormat::Mpeg4Visual
                              : type == CODEC_TYPE_VIDEO_H264 ? UnitFormat::H264AnnexB
                                                              : UnitFormat::LengthPrefixed;
    std::vector<UnitSpan> units;
    std::string error;
    bool damaged = false;
    if (!SplitUnits(format, stream.data(), stream.size(), &units, &error)) {
        Error(input + ": " + error + "; the units before it are decoded");
        damaged = true;
    }

    std::unique_ptr<CodecSlot, SlotCloser> slot(new CodecSlot());
    std::memset(slot.get(), 0, sizeof(CodecSlot));
    if (CodecSlotCreate(slot.get(), 0, 0, type) != 1 || !slot->instance) {
        Error("no video decoder for type " + std::to_string(type) +
              ": the video module (libvelkorix-video.so) or libavcodec could not be loaded");
        return kExitFailure;
    }

    OutputFile out;
    int32_t width = 0, height = 0;
    long pictures = 0;
    bool sizeChanged = false, writeFailed = false;
    // Writes the current picture; false ends the decode.
    auto writePicture = [&]() {
        int32_t w = 0, h = 0, bytes = 0;
        CodecSlotGetFrameSize(slot.get(), &w, &h, &bytes);
        const auto *frame = static_cast<const uint8_t *>(CodecSlotGetFrame(slot.get()));
        if (!frame || bytes <= 0) return true;
        if (pictures == 0) {
            width = w;
            height = h;
            if (!out.Open(parsed.Value("--output"), &error)) {
                Error(error);
                writeFailed = true;
                return false;
            }
            const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F" +
                                       std::to_string(rateNum) + ":" + std::to_string(rateDen) +
                                       " Ip A1:1 C420mpeg2\n";
            if (!out.Write(header.data(), header.size())) writeFailed = true;
        } else if (w != width || h != height) {
            Error("the picture size changes from " + std::to_string(width) + "x" + std::to_string(height) + " to " +
                  std::to_string(w) + "x" + std::to_string(h) + " after picture " + std::to_string(pictures) +
                  "; YUV4MPEG2 holds one size, the rest is not written");
            sizeChanged = true;
            return false;
        }
        static const char kFrameMarker[] = "FRAME\n";
        if (writeFailed || !out.Write(kFrameMarker, sizeof(kFrameMarker) - 1) ||
            !out.Write(frame, static_cast<std::size_t>(bytes))) {
            Error("cannot write '" + parsed.Value("--output") + "'");
            writeFailed = true;
            return false;
        }
        ++pictures;
        return true;
    };

    long tooLarge = 0;
    bool going = true;
    for (const UnitSpan &unit : units) {
        if (unit.size > CODEC_SLOT_STAGING_SIZE) {
            if (++tooLarge <= 10)
                Error("the unit at byte " + std::to_string(unit.offset) + " has " + std::to_string(unit.size) +
                      " bytes, more than the decoder takes (" + std::to_string(CODEC_SLOT_STAGING_SIZE) +
                      "); skipped");
            continue;
        }
        slot->input = stream.data() + unit.offset;
        slot->inputLength = static_cast<int32_t>(unit.size);
        if (CodecSlotDecode(slot.get()) && !(going = writePicture())) break;
    }
    // Empty input gives the pictures held back for reordering.
    slot->input = nullptr;
    slot->inputLength = 0;
    while (going && CodecSlotDecode(slot.get())) going = writePicture();

    if (writeFailed) return kExitFailure;
    if (pictures == 0) {
        Error("no picture decoded from '" + input + "'; nothing written");
        return kExitFailure;
    }
    if (!out.Commit(&error)) {
        Error(error);
        return kExitFailure;
    }
    std::fprintf(stderr, "velkorix: %ld pictures of %dx%d written\n", pictures, width, height);
    return damaged || sizeChanged || tooLarge > 0 ? kExitWarning : kExitOk;
}

std::string GroupHelp() {
    std::string text = "usage: " + kDecodeSyntax.synopsis + "\n\n";
    text += "Decodes video through the codec slot's video types.\n\n";
    text += FormatEntries({{"decode", "a video elementary stream to a YUV4MPEG2 file"}, {"-h, --help", "show this help"}});
    text += "\nRun 'velkorix video decode --help' for its options.\n";
    return text;
}

int RunVideo(const std::vector<std::string> &args) {
    return RunSubcommand("video", GroupHelp(), {{"decode", RunDecode}}, args);
}

const CommandRegistration kRegistration({"video", "decode MPEG-4 and H.264 streams to YUV4MPEG2", RunVideo});

}  // namespace
}  // namespace velkorix::cli::video
