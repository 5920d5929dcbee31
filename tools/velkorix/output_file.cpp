#include "output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velkorix::cli {

OutputFile::~OutputFile() {
    if (!committed_) Discard();
}

bool OutputFile::Open(const std::string &path, std::string *error) {
    path_ = path;
    if (path == "-") {
        stdout_ = true;
        file_ = stdout;
        return true;
    }
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = "cannot write '" + path + "': it is a directory";
        return false;
    }
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            *error = "cannot write '" + path + "': " + std::strerror(errno);
            return false;
        }
        direct_ = true;
        return true;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = (slash == std::string::npos ? std::string() : directory) + "." + base + ".tmp.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    temporary_ = buffer.data();
    file_ = fdopen(fd, "wb");
    if (!file_) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        close(fd);
        unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    return true;
}

int OutputFile::Descriptor() const { return file_ ? fileno(file_) : -1; }

bool OutputFile::Write(const void *data, std::size_t size) {
    return file_ && std::fwrite(data, 1, size, file_) == size;
}

bool OutputFile::Commit(std::string *error) {
    if (stdout_) {
        committed_ = true;
        if (std::fflush(stdout) != 0) {
            *error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (file_ && std::fclose(file_) != 0) {
        file_ = nullptr;
        *error = "cannot write '" + path_ + "': " + std::strerror(errno);
        Discard();
        return false;
    }
    file_ = nullptr;
    if (direct_) {
        committed_ = true;
        return true;
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        *error = "cannot write '" + path_ + "': " + std::strerror(errno);
        Discard();
        return false;
    }
    temporary_.clear();
    committed_ = true;
    return true;
}

void OutputFile::Discard() {
    if (stdout_) return;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

// ---- WavWriter ----

namespace {
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

WavWriter::~WavWriter() {
    if (sndfile_) sf_close(sndfile_);
}

bool WavWriter::Open(const std::string &path, int rate, int channels, std::string *error) {
    channels_ = channels;
    if (!file_.Open(path, error)) return false;
    if (file_.IsDirect()) {
        uint8_t header[44];
        std::memcpy(header, "RIFF", 4);
        PutLe32(header + 4, 0xFFFFFFFFu);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        PutLe32(header + 16, 16);
        PutLe16(header + 20, 1);
        PutLe16(header + 22, static_cast<uint16_t>(channels));
        PutLe32(header + 24, static_cast<uint32_t>(rate));
        PutLe32(header + 28, static_cast<uint32_t>(rate * channels * 2));
        PutLe16(header + 32, static_cast<uint16_t>(channels * 2));
        PutLe16(header + 34, 16);
        std::memcpy(header + 36, "data", 4);
        PutLe32(header + 40, 0xFFFFFFFFu);
        if (!file_.Write(header, sizeof(header))) {
            *error = (file_.IsStdout() ? std::string("cannot write to standard output")
                                       : "cannot write '" + path + "'") + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    std::fflush(file_.Stream());
    sndfile_ = sf_open_fd(file_.Descriptor(), SFM_WRITE, &info, /*close_desc=*/0);
    if (!sndfile_) {
        *error = "cannot write '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    return true;
}

bool WavWriter::WriteFrames(const uint8_t *data, std::size_t frames) {
    if (frames == 0) return true;
    const std::size_t samples = frames * static_cast<std::size_t>(channels_);
    if (sndfile_) {
        std::vector<short> buffer(samples);
        for (std::size_t i = 0; i < samples; ++i)
            buffer[i] = static_cast<short>(static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8));
        if (sf_write_short(sndfile_, buffer.data(), static_cast<sf_count_t>(samples)) !=
            static_cast<sf_count_t>(samples))
            return false;
    } else if (!file_.Write(data, samples * 2)) {
        return false;
    }
    frames_ += frames;
    return true;
}

bool WavWriter::WriteBytes(const uint8_t *data, std::size_t size) {
    if (failed_) return false;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels_);
    // Complete a held partial frame first.
    while (pendingSize_ > 0 && size > 0) {
        pending_[pendingSize_++] = *data++;
        --size;
        if (pendingSize_ == frameBytes) {
            if (!WriteFrames(pending_, 1)) return !(failed_ = true);
            pendingSize_ = 0;
        }
    }
    const std::size_t frames = size / frameBytes;
    if (!WriteFrames(data, frames)) return !(failed_ = true);
    const std::size_t rest = size - frames * frameBytes;
    std::memcpy(pending_, data + frames * frameBytes, rest);
    pendingSize_ = rest;
    return true;
}

bool WavWriter::Finish(std::string *error) {
    if (failed_) {
        *error = "cannot write '" + file_.Path() + "': " + std::strerror(errno);
        file_.Discard();
        return false;
    }
    if (sndfile_) {
        const int closed = sf_close(sndfile_);
        sndfile_ = nullptr;
        if (closed != 0) {
            *error = "cannot write '" + file_.Path() + "'";
            file_.Discard();
            return false;
        }
    }
    return file_.Commit(error);
}

}  // namespace velkorix::cli
