// velkorix decode: framed stream files through the decoding filter to audio
// files: one input to -o OUTPUT, or many to -d OUTDIR over worker threads.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch_decode.h"
#include "cli.h"
#include "decode_job.h"
#include "options.h"
#include "output_type.h"

namespace velkorix::cli {
namespace {

ValueCheck KnownType() {
    return [](const std::string &value) -> std::string {
        if (FindOutputType(value)) return "";
        return "must be one of " + OutputTypeNames() + ", not '" + value + "'";
    };
}

const std::string kTypeHelp =
    "output type, whatever the extension (default: by\n"
    "OUTPUT's extension; with -d or -o -: wav):\n" +
    OutputTypeHelp();

const CommandSyntax kSyntax{
    "velkorix decode",
    "",
    "velkorix decode INPUT -o OUTPUT [--type T] [--rate N] [--channels N]\n"
    "                [-v] [-q]\n"
    "velkorix decode INPUT... -d OUTDIR [-j N] [--type T] [--rate N]\n"
    "                [--channels N] [-v] [-q]",
    "Decodes framed streams (records of an 18-byte header and its payload, back\n"
    "to back, as captured on the decoder filter's input pin) through the filter,\n"
    "one record per input sample, and writes every output sample to an audio\n"
    "file. With -d each INPUT gets its own filter and goes to OUTDIR/NAME.EXT\n"
    "(NAME: the input's file name without its extension; EXT: the type's), over\n"
    "N worker threads; a damaged or unreadable input does not stop the others.",
    {
        Positional("INPUT", "stream file, or - for standard input (not with -d)", 0),
        ValueOption("-o", "--output", "OUTPUT",
                    "audio file to write, or - for standard output; its\n"
                    "extension chooses the type (none: WAV)"),
        ValueOption("-d", "--directory", "OUTDIR", "decode every INPUT into this directory (made if missing)"),
        ValueOption(nullptr, "--type", "T", kTypeHelp.c_str(), KnownType()),
        ValueOption("-j", "--jobs", "N", "worker threads with -d (default: one per processor core)",
                    IntegerIn(1, 256)),
        ValueOption(nullptr, "--rate", "N", "sample rate of the stream's format block (default 8000)",
                    IntegerIn(1, 768000)),
        ValueOption(nullptr, "--channels", "N", "channel count of the stream's format block (default 1)",
                    IntegerIn(1, 16)),
        FlagOption("-v", "--verbose", "also show the filter's debugger messages"),
        FlagOption("-q", "--quiet", "no summary and no progress display; warnings and errors\nstill show"),
    },
    "Standard output takes wav, raw, au and ogg (flac, aiff and caf seek back to\n"
    "finish, so they need a file). Outputs are written under a temporary name\n"
    "and renamed into place, so a failed or interrupted run leaves no partial\n"
    "file. With -d two inputs whose outputs would have the same name are refused\n"
    "before anything is decoded. On a terminal -d shows its progress (files and\n"
    "records done, rate, time left); a summary goes to standard error.\n"
    "Exit status (with -d, the worst of the inputs'): 0 success; 1 failure,\n"
    "nothing written; 2 usage error; 3 the stream ended early (every complete\n"
    "record before the damage is decoded and written); 130 interrupted.",
};

std::string FormatCounts(const DecodeReport &report) {
    std::string formats;
    for (const auto &[format, count] : report.perFormat) {
        if (!formats.empty()) formats += ", ";
        formats += "format " + std::to_string(format) + ": " + std::to_string(count);
    }
    return formats;
}

int RunSingle(const std::string &input, const std::string &output, const DecodeSettings &settings, bool verbose,
              bool quiet) {
    DecodeHooks hooks;
    if (verbose) {
        hooks.onDebug = [](const char *text) {
            std::fputs("velkorix: [debug] ", stderr);
            std::fputs(text, stderr);
            const std::size_t n = std::strlen(text);
            if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
        };
    }
    hooks.onG729Warning = [](const char *text) { std::fputs(text, stderr); };
    Interruption interruption;
    hooks.cancel = &interruption.Flag();
    const DecodeReport report = DecodeStreamFile(input, output, settings, hooks);
    if (report.interrupted || (report.status == kExitFailure && interruption.Flag().load())) {
        Error("interrupted: nothing written");
        return interruption.ExitStatus();
    }
    if (report.status == kExitFailure) {
        Error(report.failure);
        return report.usage ? kExitUsage : kExitFailure;
    }
    if (!quiet) {
        const std::string formats = FormatCounts(report);
        std::fprintf(stderr, "velkorix: %ld records%s%s%s, %llu samples written to %s\n", report.records,
                     formats.empty() ? "" : " (", formats.c_str(), formats.empty() ? "" : ")",
                     static_cast<unsigned long long>(report.samples),
                     output == "-" ? "standard output" : output.c_str());
        std::fprintf(stderr, "velkorix: invalid formats: %ld, decode failures: %ld, truncated samples: %ld\n",
                     report.invalidFormats, report.decodeFailures, report.truncatedSamples);
    }
    for (const std::string &warning : report.warnings) Error("warning: " + warning);
    return report.status;
}

int RunDecode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kSyntax, args, &parsed)) return *exit;
    const std::vector<std::string> &inputs = parsed.Values("INPUT");
    const bool toFile = parsed.Has("--output");
    const bool toDirectory = parsed.Has("--directory");
    if (inputs.empty() || toFile == toDirectory) {
        Error(kSyntax.SeeHelp(toFile && toDirectory ? "-o and -d exclude each other"
                                                    : "decode needs an INPUT and -o OUTPUT, or INPUT... and -d OUTDIR"));
        return kExitUsage;
    }
    DecodeSettings settings;
    settings.rate = static_cast<int>(parsed.Integer("--rate", 8000));
    settings.channels = static_cast<int>(parsed.Integer("--channels", 1));
    settings.type = parsed.Has("--type") ? FindOutputType(parsed.Value("--type")) : nullptr;
    const bool verbose = parsed.Has("--verbose");
    const bool quiet = parsed.Has("--quiet");
    G729WarningRouting routing;

    if (toDirectory) {
        BatchOptions options;
        options.settings = settings;
        if (!options.settings.type) options.settings.type = &WavType();
        options.jobs = static_cast<int>(parsed.Integer("--jobs", 0));
        options.verbose = verbose;
        options.quiet = quiet;
        return RunBatch(inputs, parsed.Value("--directory"), options);
    }
    if (inputs.size() > 1) {
        Error(kSyntax.SeeHelp("more than one input given: -o takes one, -d OUTDIR many"));
        return kExitUsage;
    }
    if (parsed.Has("--jobs")) {
        Error(kSyntax.SeeHelp("-j goes with -d OUTDIR"));
        return kExitUsage;
    }
    const std::string &output = parsed.Value("--output");
    if (!settings.type) {
        std::string error;
        settings.type = OutputTypeFromName(output, &WavType(), &error);
        if (!settings.type) {
            Error(error);
            return kExitUsage;
        }
    }
    return RunSingle(inputs.front(), output, settings, verbose, quiet);
}

const CommandRegistration kRegistration({"decode", "decode framed stream files through the filter to audio files",
                                         RunDecode});

}  // namespace
}  // namespace velkorix::cli
