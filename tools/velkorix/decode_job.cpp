#include "decode_job.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "cli.h"
#include "common/debug_channel.h"
#include "file_source.h"
#include "g729/g729_decoder.h"
#include "output_file.h"
#include "runner/filter_runner.h"
#include "stream/record_reader.h"

namespace velkorix::cli {
namespace {

// The run on this thread: where its filter's messages are counted.
struct RunContext {
    DecodeReport *report;
    const DecodeHooks *hooks;
};
thread_local RunContext *t_run = nullptr;

void CountDebugMessage(void *context, const char *text) {
    auto *run = static_cast<RunContext *>(context);
    DecodeReport &report = *run->report;
    if (std::strcmp(text, kInvalidFormatMessage) == 0) ++report.invalidFormats;
    if (std::strcmp(text, kDecodeErrorMessage) == 0) ++report.decodeFailures;
    if (std::strcmp(text, kTruncatedSampleMessage) == 0) ++report.truncatedSamples;
    if (run->hooks->onDebug) run->hooks->onDebug(text);
}

void RouteG729Warning(void *, const char *text) {
    if (!t_run) {
        std::fputs(text, stderr);
        return;
    }
    ++t_run->report->g729Warnings;
    if (t_run->hooks->onG729Warning) t_run->hooks->onG729Warning(text);
}

// Sends this thread's debugger messages and G.729 warnings to the run for
// as long as it lives; the thread's previous sink comes back after.
class RunCapture {
public:
    explicit RunCapture(RunContext *run) : outer_(t_run) {
        SetThreadDebugSink(CountDebugMessage, run, &previous_, &context_);
        t_run = run;
    }
    ~RunCapture() {
        t_run = outer_;
        SetThreadDebugSink(previous_, context_);
    }
    RunCapture(const RunCapture &) = delete;
    RunCapture &operator=(const RunCapture &) = delete;

private:
    RunContext *outer_;
    DebugSink previous_ = nullptr;
    void *context_ = nullptr;
};

std::string Quoted(const std::string &path) { return path == "-" ? "standard input" : "'" + path + "'"; }

}  // namespace

G729WarningRouting::G729WarningRouting() {
    g729::G729SetDiagnosticSink(RouteG729Warning, nullptr, &previous_, &previousContext_);
}

G729WarningRouting::~G729WarningRouting() { g729::G729SetDiagnosticSink(previous_, previousContext_); }

DecodeReport DecodeStreamFile(const std::string &input, const std::string &output, const DecodeSettings &settings,
                              const DecodeHooks &hooks) {
    DecodeReport report;
    auto fail = [&](const std::string &why) {
        report.status = kExitFailure;
        report.failure = why;
        return report;
    };
    std::string error;
    const InputFile inputFile = OpenInput(input, &error);
    if (!inputFile) return fail(error);

    RunContext run{&report, &hooks};
    RunCapture capture(&run);

    AudioWriter writer;
    if (!writer.Open(output, settings.type ? *settings.type : WavType(), settings.rate, settings.channels, &error,
                     &report.usage))
        return fail(error);
    bool writeFailed = false;
    runner::FilterRunner filter(settings.rate, settings.channels, [&](const uint8_t *data, std::size_t size) {
        if (!writer.WriteBytes(data, size)) writeFailed = true;
    });
    if (FAILED(filter.Status())) return fail("the decoder filter could not be set up for " + Quoted(input));

    FileSource source(inputFile.get());
    stream::RecordReader reader(source);
    std::vector<uint8_t> record;
    stream::RecordReader::Status status;
    uint64_t position = reader.Position();
    while ((status = reader.Next(record)) == stream::RecordReader::Status::Record) {
        ++report.records;
        ++report.perFormat[reader.Current().format];
        filter.Feed(record.data(), record.size());
        if (writeFailed) break;
        if (hooks.onRecord) hooks.onRecord(reader.Position() - position);
        position = reader.Position();
        if (hooks.cancel && hooks.cancel->load(std::memory_order_relaxed)) {
            report.interrupted = true;
            writer.Discard();
            return fail("interrupted");
        }
    }
    if (status == stream::RecordReader::Status::ReadError) {
        // A signal that stops the run breaks off a read waiting on a pipe
        // (EINTR): that file was interrupted, it did not fail.
        if (hooks.cancel && hooks.cancel->load(std::memory_order_relaxed)) {
            report.interrupted = true;
            writer.Discard();
            return fail("interrupted");
        }
        return fail("cannot read " + Quoted(input) + ": " + reader.End().Reason());  // the output is discarded
    }
    const bool endedEarly = status == stream::RecordReader::Status::Damaged;
    if (report.records == 0) {
        // Nothing decodable: leave no output file behind.
        if (endedEarly)
            return fail(Quoted(input) + " holds no complete record: at byte offset " +
                        std::to_string(reader.End().offset) + " " + reader.End().Reason());
        return fail(Quoted(input) + " is empty: it holds no records");
    }
    if (writeFailed) {
        writer.Finish(&error);  // reports the write error and discards the output
        return fail(error.empty() ? "cannot write '" + output + "'" : error);
    }
    if (!writer.Finish(&error)) return fail(error.empty() ? "cannot write '" + output + "'" : error);

    report.samples = writer.FramesWritten() * static_cast<uint64_t>(settings.channels);
    if (writer.PendingBytes() != 0)
        report.warnings.push_back(std::to_string(writer.PendingBytes()) +
                                  " trailing bytes did not fill a whole sample frame");
    if (endedEarly) {
        report.warnings.push_back("stream ends at byte offset " + std::to_string(reader.End().offset) + ": " +
                                  reader.End().Reason());
        report.status = kExitWarning;
    }
    return report;
}

}  // namespace velkorix::cli
