// velkorix info: what framed stream files hold, from their structure alone
// (record headers; payloads are passed over by seeking), as text or JSON.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "file_source.h"
#include "filter/codec_context.h"
#include "options.h"
#include "stream/stream_index.h"

namespace velkorix::cli {
namespace {

const CommandSyntax kSyntax{
    "velkorix info",
    "",
    "velkorix info FILE... [--json] [--rate N] [--channels N]",
    "Tells what framed stream files hold without decoding them: per file its\n"
    "records per audio format, the records of formats the filter does not decode\n"
    "(4, 5 and 7 to 255: they give silence), the samples and the duration the\n"
    "records decode to, and where and why the stream is damaged, if it is. Only\n"
    "the record headers are read; payloads are passed over.",
    {
        Positional("FILE", "stream file, or - for standard input", 0),
        FlagOption(nullptr, "--json",
                   "write one JSON array with an object per FILE: file, bytes,\n"
                   "records, formats (record count by format number), invalid,\n"
                   "output_bytes, samples, rate, channels, seconds, damage\n"
                   "(null, or offset, kind and reason), or file and error for\n"
                   "a file that cannot be read"),
        ValueOption(nullptr, "--rate", "N", "sample rate the samples are timed at (default 8000)",
                    IntegerIn(1, 768000)),
        ValueOption(nullptr, "--channels", "N", "channel count of the stream (default 1)", IntegerIn(1, 16)),
    },
    "The samples are those 'velkorix decode' writes with the same --rate and\n"
    "--channels: every complete record's output by the filter's length rule, in\n"
    "whole sample frames. Exit status: 0 every file is intact; 1 a file could not\n"
    "be read (the others are still reported); 2 usage error; 3 a file is damaged.",
};

struct FileInfo {
    std::string file;
    std::string error;  // the file could not be read
    uint64_t bytes = 0;
    uint64_t records = 0;
    uint64_t perFormat[256] = {};
    uint64_t invalid = 0;
    uint64_t outputBytes = 0;
    stream::StreamEnd end;
};

bool InvalidFormat(uint8_t format) { return format >= kAudioFormatCount || kAudioFormatTable[format] < 0; }

FileInfo Inspect(const std::string &path) {
    FileInfo info;
    info.file = path;
    const InputFile file = OpenInput(path, &info.error);
    if (!file) return info;
    // Short payloads are read through the stream's buffer: a large one
    // takes many records per read.
    static std::vector<char> buffer(1 << 16);
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    FileSource source(file.get());
    info.end = stream::WalkRecords(source, [&](const stream::RecordInfo &record) {
        ++info.records;
        ++info.perFormat[record.format];
        if (InvalidFormat(record.format)) ++info.invalid;
        info.outputBytes += static_cast<uint64_t>(stream::OutputBytes(record.format, record.length));
    });
    if (info.end.kind == stream::StreamEnd::Kind::ReadError) {
        info.error = "cannot read " + (path == "-" ? std::string("standard input") : "'" + path + "'") + ": " +
                     info.end.Reason();
        return info;
    }
    // The size of a regular file; of a pipe, what was read of it (all of it
    // unless a negative length stopped the walk).
    struct stat status;
    if (fstat(fileno(file.get()), &status) == 0 && S_ISREG(status.st_mode)) {
        info.bytes = static_cast<uint64_t>(status.st_size);
    } else {
        info.bytes = info.end.offset;
        if (info.end.kind == stream::StreamEnd::Kind::HeaderCut) info.bytes += info.end.present;
        if (info.end.kind == stream::StreamEnd::Kind::PayloadCut) info.bytes += stream::kHeaderSize + info.end.present;
        if (info.end.kind == stream::StreamEnd::Kind::NegativeLength) info.bytes += stream::kHeaderSize;
    }
    return info;
}

const char *KindName(stream::StreamEnd::Kind kind) {
    switch (kind) {
        case stream::StreamEnd::Kind::HeaderCut: return "header_cut";
        case stream::StreamEnd::Kind::PayloadCut: return "payload_cut";
        case stream::StreamEnd::Kind::NegativeLength: return "negative_length";
        case stream::StreamEnd::Kind::ReadError: return "read_error";
        case stream::StreamEnd::Kind::Clean: break;
    }
    return "clean";
}

// A JSON string: quotes, backslashes and control characters escaped, bytes
// that are not UTF-8 replaced by U+FFFD.
std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // The length of a well-formed sequence starting here, or 0.
            std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
            if (i + n > text.size()) n = 0;
            for (std::size_t k = 1; k < n; ++k)
                if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
            if (n == 3 || n == 4) {
                const unsigned char d = static_cast<unsigned char>(text[i + 1]);
                if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
                    (c == 0xF4 && d > 0x8F))
                    n = 0;  // overlong, a surrogate, or beyond U+10FFFF
            }
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
        }
    }
    return out + "\"";
}

std::string Formats(const FileInfo &info, bool json) {
    std::string text;
    for (int format = 0; format < 256; ++format) {
        if (info.perFormat[format] == 0) continue;
        if (!text.empty()) text += ", ";
        text += json ? "\"" + std::to_string(format) + "\": " + std::to_string(info.perFormat[format])
                     : "format " + std::to_string(format) + ": " + std::to_string(info.perFormat[format]);
    }
    return text;
}

// Samples as 'velkorix decode' writes them: whole frames of `channels`.
uint64_t Samples(const FileInfo &info, int channels) {
    const uint64_t frameBytes = static_cast<uint64_t>(stream::kBytesPerSample) * static_cast<uint64_t>(channels);
    return info.outputBytes / frameBytes * static_cast<uint64_t>(channels);
}

double Seconds(uint64_t samples, int rate, int channels) {
    return static_cast<double>(samples / static_cast<uint64_t>(channels)) / rate;
}

std::string Json(const FileInfo &info, int rate, int channels) {
    if (!info.error.empty())
        return "{\"file\": " + JsonString(info.file) + ", \"error\": " + JsonString(info.error) + "}";
    const uint64_t samples = Samples(info, channels);
    char seconds[64];
    std::snprintf(seconds, sizeof(seconds), "%.6f", Seconds(samples, rate, channels));
    std::string text = "{\"file\": " + JsonString(info.file) + ", \"bytes\": " + std::to_string(info.bytes) +
                       ", \"records\": " + std::to_string(info.records) + ", \"formats\": {" + Formats(info, true) +
                       "}, \"invalid\": " + std::to_string(info.invalid) +
                       ", \"output_bytes\": " + std::to_string(info.outputBytes) +
                       ", \"samples\": " + std::to_string(samples) + ", \"rate\": " + std::to_string(rate) +
                       ", \"channels\": " + std::to_string(channels) + ", \"seconds\": " + seconds + ", \"damage\": ";
    if (!info.end.Damaged()) return text + "null}";
    return text + "{\"offset\": " + std::to_string(info.end.offset) + ", \"kind\": \"" + KindName(info.end.kind) +
           "\", \"reason\": " + JsonString(info.end.Reason()) + "}}";
}

std::string Text(const FileInfo &info, int rate, int channels) {
    const std::string name = info.file == "-" ? "standard input" : info.file;
    if (!info.error.empty()) return "";
    const uint64_t samples = Samples(info, channels);
    char seconds[64];
    std::snprintf(seconds, sizeof(seconds), "%.3f", Seconds(samples, rate, channels));
    std::string text = "File:     " + name + "\n";
    text += "Size:     " + std::to_string(info.bytes) + " bytes\n";
    const std::string formats = Formats(info, false);
    text += "Records:  " + std::to_string(info.records) + (formats.empty() ? "" : " (" + formats + ")") + "\n";
    text += "Invalid:  " + std::to_string(info.invalid) + " records of formats the filter does not decode\n";
    text += "Samples:  " + std::to_string(samples) + " (" + seconds + " s at " + std::to_string(rate) + " Hz, " +
            std::to_string(channels) + (channels == 1 ? " channel" : " channels") + ")\n";
    if (info.end.Damaged())
        text += "Damage:   at byte offset " + std::to_string(info.end.offset) + ": " + info.end.Reason() + "\n";
    else
        text += "Damage:   none\n";
    return text;
}

int RunInfo(const std::vector<std::string> &args) {
    ParsedArgs parsed;
    if (const auto exit = ParseArgs(kSyntax, args, &parsed)) return *exit;
    const std::vector<std::string> &files = parsed.Values("FILE");
    if (files.empty()) {
        Error(kSyntax.SeeHelp("info needs a FILE"));
        return kExitUsage;
    }
    const int rate = static_cast<int>(parsed.Integer("--rate", 8000));
    const int channels = static_cast<int>(parsed.Integer("--channels", 1));
    const bool json = parsed.Has("--json");
    int status = kExitOk;
    if (json) std::fputs("[\n", stdout);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileInfo info = Inspect(files[i]);
        if (!info.error.empty()) {
            Error(info.error);
            status = kExitFailure;
        } else if (info.end.Damaged() && status == kExitOk) {
            status = kExitWarning;
        }
        if (json) {
            std::printf("  %s%s\n", Json(info, rate, channels).c_str(), i + 1 < files.size() ? "," : "");
        } else {
            const std::string text = Text(info, rate, channels);
            if (!text.empty()) std::printf("%s%s", i > 0 ? "\n" : "", text.c_str());
        }
        std::fflush(stdout);
    }
    if (json) std::fputs("]\n", stdout);
    return status;
}

const CommandRegistration kRegistration({"info", "tell what framed stream files hold, without decoding them",
                                         RunInfo});

}  // namespace
}  // namespace velkorix::cli
