// Decoding one framed stream file through its own filter instance into one
// audio file: the work of `velkorix decode` for a single input and of each
// worker of a batch. Everything the run has to say comes back in a report
// (nothing is printed here), so that a batch can tell its files apart and
// print from one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "output_type.h"

namespace velkorix::cli {

struct DecodeSettings {
    int rate = 8000;
    int channels = 1;
    const OutputType *type = nullptr;  // null: WAV
};

// What decoding one file gave.
struct DecodeReport {
    int status = 0;                 // kExitOk, kExitWarning or kExitFailure
    bool usage = false;             // the failure lies in the request (a type the target cannot take)
    bool interrupted = false;       // stopped by the cancel flag; nothing was written
    std::string failure;            // why nothing was written (status kExitFailure)
    std::vector<std::string> warnings;  // what the written output lacks
    long records = 0;
    std::map<int, long> perFormat;  // records per audio format byte
    uint64_t samples = 0;           // written, counted over all channels
    // The filter's debugger messages, counted.
    long invalidFormats = 0;
    long decodeFailures = 0;
    long truncatedSamples = 0;
    long g729Warnings = 0;          // the G.729 decoder's LSP warnings
};

// Hooks into a run, all optional; each is called on the thread that decodes.
struct DecodeHooks {
    // Every debugger message of the file's filter, and every G.729 warning.
    std::function<void(const char *text)> onDebug;
    std::function<void(const char *text)> onG729Warning;
    // After each record: the input bytes it took.
    std::function<void(uint64_t bytes)> onRecord;
    // Checked after each record; once set, the run stops and discards its output.
    const std::atomic<bool> *cancel = nullptr;
};

// Decodes `input` ("-" for standard input) into `output` ("-" for standard
// output), written under a temporary name and renamed into place on
// success. The filter's debugger messages are caught on the calling thread
// only, so runs on several threads count their own.
DecodeReport DecodeStreamFile(const std::string &input, const std::string &output, const DecodeSettings &settings,
                              const DecodeHooks &hooks = {});

// While one lives, the G.729 decoder's warnings go to the hook of the run on
// the thread that raised them (or to standard error outside a run). The
// decode command holds one for as long as it decodes.
class G729WarningRouting {
public:
    G729WarningRouting();
    ~G729WarningRouting();
    G729WarningRouting(const G729WarningRouting &) = delete;
    G729WarningRouting &operator=(const G729WarningRouting &) = delete;

private:
    void (*previous_)(void *, const char *) = nullptr;
    void *previousContext_ = nullptr;
};

}  // namespace velkorix::cli
