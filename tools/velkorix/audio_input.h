// Audio input of the voice and pack commands: any file libsndfile reads,
// provided it holds 8000 Hz mono 16-bit PCM, the only form the voice codecs
// take.
#pragma once

#include <cstdint>
#include <string>

#include <sndfile.h>

namespace velkorix::cli {

class AudioInput {
public:
    ~AudioInput();

    // Opens `path` ("-" for standard input). Fails with a message that says
    // what the file holds and what is needed when it is not 8000 Hz mono
    // 16-bit PCM.
    bool Open(const std::string &path, std::string *error);

    // Reads up to `count` samples; returns how many were read (0 at the end),
    // or -1 on a read error.
    long Read(int16_t *samples, long count);
    // The same, reading on until `count` samples or the end (a pipe may
    // deliver fewer samples than asked for before its end).
    long ReadFull(int16_t *samples, long count);

    uint64_t SamplesRead() const { return samplesRead_; }

private:
    SNDFILE *file_ = nullptr;
    uint64_t samplesRead_ = 0;
};

}  // namespace velkorix::cli
