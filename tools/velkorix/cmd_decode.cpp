// velkorix decode: a framed stream file through the decoding filter to WAV.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "common/debug_channel.h"
#include "file_source.h"
#include "filter_runner.h"
#include "options.h"
#include "output_file.h"
#include "stream/record_reader.h"

namespace velkorix::cli {
namespace {

const CommandSyntax kSyntax{
    "velkorix decode",
    "",
    "velkorix decode INPUT -o OUTPUT.wav [--rate N] [--channels N] [-v]",
    "Decodes a framed stream (records of an 18-byte header and its payload, back\n"
    "to back, as captured on the decoder filter's input pin) through the filter and\n"
    "writes every output sample to a 16-bit PCM WAV file.",
    {
        Positional("INPUT", "stream file, or - for standard input"),
        ValueOption("-o", "--output", "OUTPUT", "WAV file to write, or - for standard output"),
        ValueOption(nullptr, "--rate", "N", "sample rate of the stream's format block (default 8000)",
                    IntegerIn(1, 768000)),
        ValueOption(nullptr, "--channels", "N", "channel count of the stream's format block (default 1)",
                    IntegerIn(1, 16)),
        FlagOption("-v", "--verbose", "also show the filter's debugger messages"),
    },
    "A summary goes to standard error. Exit status: 0 success; 1 failure, nothing\n"
    "written; 2 usage error; 3 the stream ended early (every complete record\n"
    "before the damage is decoded and written).",
};

struct DebugCounts {
    bool verbose = false;
    long invalidFormats = 0;
    long decodeFailures = 0;
    long truncatedSamples = 0;
};

void CountDebugMessage(void *context, const char *text) {
    auto *counts = static_cast<DebugCounts *>(context);
    if (std::strcmp(text, kInvalidFormatMessage) == 0) ++counts->invalidFormats;
    if (std::strcmp(text, kDecodeErrorMessage) == 0) ++counts->decodeFailures;
    if (std::strcmp(text, kTruncatedSampleMessage) == 0) ++counts->truncatedSamples;
    if (counts->verbose) {
        std::fputs("velkorix: [debug] ", stderr);
        std::fputs(text, stderr);
        const std::size_t n = std::strlen(text);
        if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
    }
}

// Restores the previous debugger sink when the command ends.
class DebugCapture {
public:
    explicit DebugCapture(DebugCounts *counts) { SetDebugSink(CountDebugMessage, counts, &previous_, &context_); }
    ~DebugCapture() { SetDebugSink(previous_, context_); }

private:
    DebugSink previous_ = nullptr;
    void *context_ = nullptr;
};

int RunDecode(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kSyntax, args, &parsed)) return *exit;
    const std::string &input = parsed.Value("INPUT");
    const std::string &output = parsed.Value("--output");
    const long long rate = parsed.Integer("--rate", 8000);
    const long long channels = parsed.Integer("--channels", 1);
    const bool verbose = parsed.Has("--verbose");
    if (input.empty() || output.empty()) {
        Error(kSyntax.SeeHelp("decode needs an INPUT and -o OUTPUT"));
        return kExitUsage;
    }

    const InputFile inputFile = OpenInput(input);
    if (!inputFile) return kExitFailure;
    std::FILE *in = inputFile.get();

    DebugCounts counts;
    counts.verbose = verbose;
    DebugCapture capture(&counts);

    WavWriter wav;
    std::string error;
    if (!wav.Open(output, static_cast<int>(rate), static_cast<int>(channels), &error)) {
        Error(error);
        return kExitFailure;
    }
    bool writeFailed = false;
    FilterRunner runner(static_cast<int>(rate), static_cast<int>(channels),
                        [&](const uint8_t *data, std::size_t size) {
                            if (!wav.WriteBytes(data, size)) writeFailed = true;
                        });
    if (FAILED(runner.Status())) {
        Error("the decoder filter could not be set up");
        return kExitFailure;
    }

    FileSource source(in);
    stream::RecordReader reader(source);
    std::vector<uint8_t> record;
    std::map<int, long> perFormat;
    long records = 0;
    stream::RecordReader::Status status;
    while ((status = reader.Next(record)) == stream::RecordReader::Status::Record) {
        ++records;
        ++perFormat[reader.Current().format];
        runner.Feed(record.data(), record.size());
        if (writeFailed) break;
    }
    if (status == stream::RecordReader::Status::ReadError) {
        Error("cannot read '" + input + "': " + reader.End().Reason());
        return kExitFailure;  // the unfinished output is discarded
    }
    const bool endedEarly = status == stream::RecordReader::Status::Damaged;
    if (records == 0) {
        // Nothing decodable: leave no output file behind.
        if (endedEarly)
            Error("'" + input + "' holds no complete record: at byte offset " + std::to_string(reader.End().offset) +
                  " " + reader.End().Reason());
        else
            Error("'" + input + "' is empty: it holds no records");
        return kExitFailure;
    }
    if (writeFailed || !wav.Finish(&error)) {
        Error(error.empty() ? "cannot write '" + output + "'" : error);
        return kExitFailure;
    }

    std::string formats;
    for (const auto &[format, count] : perFormat) {
        if (!formats.empty()) formats += ", ";
        formats += "format " + std::to_string(format) + ": " + std::to_string(count);
    }
    std::fprintf(stderr, "velkorix: %ld records%s%s%s, %llu samples written to %s\n", records,
                 formats.empty() ? "" : " (", formats.c_str(), formats.empty() ? "" : ")",
                 static_cast<unsigned long long>(wav.FramesWritten() * static_cast<unsigned long long>(channels)),
                 output == "-" ? "standard output" : output.c_str());
    std::fprintf(stderr, "velkorix: invalid formats: %ld, decode failures: %ld, truncated samples: %ld\n",
                 counts.invalidFormats, counts.decodeFailures, counts.truncatedSamples);
    if (wav.PendingBytes() != 0)
        std::fprintf(stderr, "velkorix: warning: %zu trailing bytes did not fill a whole sample frame\n",
                     wav.PendingBytes());
    if (endedEarly) {
        std::fprintf(stderr, "velkorix: warning: stream ends at byte offset %llu: %s\n",
                     static_cast<unsigned long long>(reader.End().offset), reader.End().Reason().c_str());
        return kExitWarning;
    }
    return kExitOk;
}

const CommandRegistration kRegistration({"decode", "decode a framed stream file through the filter to WAV", RunDecode});

}  // namespace
}  // namespace velkorix::cli
