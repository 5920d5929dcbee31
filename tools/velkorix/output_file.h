// Output destinations of the tool. A file is written beside its target under a
// temporary name and renamed into place only when the command succeeds, so a
// failed command leaves no partial file. "-" is standard output. A target that
// exists and is not a regular file (a device such as /dev/null, a named pipe)
// is written directly: renaming over it would replace the device or pipe.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sndfile.h>

#include "output_type.h"

namespace velkorix::cli {

class OutputFile {
public:
    ~OutputFile();  // discards an uncommitted temporary file

    // Opens `path` ("-" for standard output) for binary writing.
    bool Open(const std::string &path, std::string *error);
    bool Write(const void *data, std::size_t size);
    // Closes and moves the file into place.
    bool Commit(std::string *error);
    void Discard();

    bool IsStdout() const { return stdout_; }
    // Written in place, without a temporary file: standard output, devices, pipes.
    bool IsDirect() const { return stdout_ || direct_; }
    int Descriptor() const;
    std::FILE *Stream() const { return file_; }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
    std::string temporary_;
    std::FILE *file_ = nullptr;
    bool stdout_ = false;
    bool direct_ = false;
    bool committed_ = false;
};

// Decoded 16-bit PCM written as an audio file of one of the output types.
// Files go through libsndfile, except raw PCM, which is the samples as they
// are. WAV to standard output and other direct targets gets a streamed header
// whose size fields say "unknown" (0xFFFFFFFF), since libsndfile cannot write
// WAV to a pipe; AU and Ogg go through libsndfile there too (it streams
// them). FLAC, AIFF and CAF need to seek back when they finish, so a direct
// target that cannot seek (a pipe, a terminal) is refused for them.
class AudioWriter {
public:
    ~AudioWriter();
    // Opens `path` ("-" for standard output). On failure `error` says why and
    // `*usage` (when given) is set when the fault lies in the request rather
    // than the system: a type that cannot go to that target, or a rate or
    // channel count the type cannot hold. Nothing has been written then.
    bool Open(const std::string &path, const OutputType &type, int rate, int channels, std::string *error,
              bool *usage = nullptr);
    // Appends raw little-endian 16-bit sample bytes; whole frames are written
    // and a partial frame is held until its remaining bytes arrive.
    bool WriteBytes(const uint8_t *data, std::size_t size);
    // Completes the file and moves it into place.
    bool Finish(std::string *error);
    // Drops the output: a temporary file is removed.
    void Discard();
    uint64_t FramesWritten() const { return frames_; }
    // Bytes that did not complete a frame at the end.
    std::size_t PendingBytes() const { return pendingSize_; }

private:
    bool WriteFrames(const uint8_t *data, std::size_t frames);
    std::string WriteError() const;

    OutputFile file_;
    const OutputType *type_ = nullptr;
    SNDFILE *sndfile_ = nullptr;
    int channels_ = 1;
    std::vector<short> samples_;
    uint8_t pending_[64] = {};
    std::size_t pendingSize_ = 0;
    uint64_t frames_ = 0;
    bool failed_ = false;
};

}  // namespace velkorix::cli
