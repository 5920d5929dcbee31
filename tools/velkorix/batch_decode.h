// Batch decoding: many framed stream files, each through its own filter
// instance into its own audio file in one directory, over worker threads,
// with a progress display on a terminal and a summary at the end.
#pragma once

#include <atomic>
#include <signal.h>
#include <string>
#include <vector>

#include "decode_job.h"

namespace velkorix::cli {

struct BatchOptions {
    DecodeSettings settings;  // the type is set
    int jobs = 0;             // worker threads; 0: one per processor core the process may use
    bool verbose = false;     // a line per file and the filter's debugger messages
    bool quiet = false;       // no progress display and no summary
};

// Decodes every input into `directory` (made when missing) as
// <name without extension>.<type's extension>. Inputs whose outputs would
// share a name, standard input, and an output that would replace an input
// are refused before anything is decoded (status 2). Returns the worst of
// the files' statuses (failure, then warning, then success), or 128 plus
// the signal's number when interrupted.
int RunBatch(const std::vector<std::string> &inputs, const std::string &directory, const BatchOptions &options);

// The output name of `input` in `directory`: the input's file name without
// its last extension, then "." and `extension`.
std::string BatchOutputName(const std::string &input, const std::string &directory, const std::string &extension);

// While one lives, SIGINT, SIGTERM and SIGHUP set Flag() instead of ending
// the process, so that runs can stop after their current record, discard
// their temporary files and return; the previous handlers come back after.
class Interruption {
public:
    Interruption();
    ~Interruption();
    Interruption(const Interruption &) = delete;
    Interruption &operator=(const Interruption &) = delete;

    const std::atomic<bool> &Flag() const;
    // 128 plus the number of the signal that came (130 for SIGINT).
    int ExitStatus() const;

private:
    struct sigaction previous_[3];
};

}  // namespace velkorix::cli
