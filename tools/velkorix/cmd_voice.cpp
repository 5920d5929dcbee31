// velkorix voice: encode WAV audio into voice frames, decode voice frames to
// WAV, transcode variant frames in place, list the codecs. Each subcommand
// lives in its own file (cmd_voice_*.cpp).
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "options.h"
#include "voice_commands.h"

namespace velkorix::cli::voice {
namespace {

std::string GroupHelp() {
    std::string text;
    const std::string synopses[] = {kEncodeSyntax.synopsis, kDecodeSyntax.synopsis, kTranscodeSyntax.synopsis,
                                    "velkorix voice --list"};
    for (const std::string &synopsis : synopses) text += (text.empty() ? "usage: " : "       ") + synopsis + "\n";
    text +=
        "\n"
        "Works with the frames of the voice codec library (the QX_VOICE_ functions).\n"
        "A voice file is frames back to back: a 4-byte header (flags word 0x0100,\n"
        "payload length in 16-bit words, 0) and the payload.\n"
        "\n";
    text += FormatEntries({
        {"encode", "audio (8000 Hz mono 16-bit PCM, WAV or any file libsndfile\nreads) to a voice file"},
        {"decode", "a voice file to a 16-bit PCM WAV file at 8000 Hz"},
        {"transcode", "converts variant frames into their plain counterparts"},
        {"--list", "names and numbers of every codec and transcoding selector"},
        {"-h, --help", "show this help"},
        {"--version", "show the version"},
    });
    text +=
        "\n"
        "Run 'velkorix voice COMMAND --help' for a command's options.\n";
    return text;
}

int ListCodecs(const std::vector<std::string> &) {
    std::printf("codecs (--codec NAME or number):\n");
    for (const Codec &c : kCodecs) std::printf("  %-12s %3d  %s\n", c.name, c.type, c.description);
    std::printf("\ntranscoding selectors (--selector NAME or number):\n");
    for (const Selector &s : kSelectors) std::printf("  %-12s %3d  %s\n", s.name, s.selector, s.description);
    return kExitOk;
}

int RunVoice(const std::vector<std::string> &args) {
    return RunSubcommand("voice", GroupHelp(),
                         {{"--list", ListCodecs},
                          {"list", ListCodecs},
                          {"encode", RunEncode},
                          {"decode", RunDecode},
                          {"transcode", RunTranscode}},
                         args);
}

const CommandRegistration kRegistration({"voice", "encode, decode and transcode voice codec frames", RunVoice});

}  // namespace
}  // namespace velkorix::cli::voice
