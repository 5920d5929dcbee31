#include "output_file.h"

#include <algorithm>
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

// ---- AudioWriter ----

namespace {
void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

AudioWriter::~AudioWriter() {
    if (sndfile_) sf_close(sndfile_);
}

namespace {

std::string Where(const std::string &path) { return path == "-" ? "standard output" : "'" + path + "'"; }

// True when the target of `path` is one nothing can seek in: a pipe, a
// socket, a terminal. An existing named pipe or socket is told by its type
// (opening a named pipe would wait for a reader); standard output by seeking.
bool CannotSeek(const std::string &path) {
    if (path == "-") return lseek(STDOUT_FILENO, 0, SEEK_CUR) < 0;
    struct stat info;
    return stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

// A file in memory for libsndfile's virtual I/O: what a type writes when
// tried with a rate and channel count, to learn whether it can hold them.
struct MemoryFile {
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;
};
sf_count_t MemoryLength(void *file) { return static_cast<sf_count_t>(static_cast<MemoryFile *>(file)->bytes.size()); }
sf_count_t MemorySeek(sf_count_t offset, int whence, void *file) {
    auto *m = static_cast<MemoryFile *>(file);
    const sf_count_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? MemoryLength(file) : 0;
    if (base + offset < 0) return -1;
    m->position = base + offset;
    return m->position;
}
sf_count_t MemoryRead(void *into, sf_count_t count, void *file) {
    auto *m = static_cast<MemoryFile *>(file);
    const sf_count_t available = std::max<sf_count_t>(0, MemoryLength(file) - m->position);
    const sf_count_t n = std::min(count, available);
    if (n > 0) std::memcpy(into, m->bytes.data() + m->position, static_cast<std::size_t>(n));
    m->position += n;
    return n;
}
sf_count_t MemoryWrite(const void *from, sf_count_t count, void *file) {
    auto *m = static_cast<MemoryFile *>(file);
    const std::size_t end = static_cast<std::size_t>(m->position + count);
    if (end > m->bytes.size()) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->position, from, static_cast<std::size_t>(count));
    m->position += count;
    return count;
}
sf_count_t MemoryTell(void *file) { return static_cast<MemoryFile *>(file)->position; }

// Writes a few frames of silence in `info`'s type, rate and channel count
// into memory: "" when the type takes them, else libsndfile's words. Some
// limits (the Vorbis encoder's rates) show only once samples are written.
std::string TryFormat(SF_INFO info) {
    if (!sf_format_check(&info)) return "libsndfile does not write this combination";
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    MemoryFile memory;
    SNDFILE *file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!file) return sf_strerror(nullptr);
    std::vector<short> silence(static_cast<std::size_t>(info.channels) * 16, 0);
    std::string problem;
    if (sf_write_short(file, silence.data(), static_cast<sf_count_t>(silence.size())) !=
        static_cast<sf_count_t>(silence.size()))
        problem = sf_strerror(file);
    if (sf_close(file) != 0 && problem.empty()) problem = "it cannot be finished";
    return problem;
}

}  // namespace

bool AudioWriter::Open(const std::string &path, const OutputType &type, int rate, int channels, std::string *error,
                       bool *usage) {
    if (usage) *usage = false;
    auto refuse = [&](const std::string &why) {
        *error = why;
        if (usage) *usage = true;
        return false;
    };
    type_ = &type;
    channels_ = channels;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = type.sndfileFormat;
    if (type.sndfileFormat != 0) {
        const std::string problem = TryFormat(info);
        if (!problem.empty())
            return refuse(std::string(type.name) + " cannot hold " + std::to_string(channels) + " channel(s) at " +
                          std::to_string(rate) + " Hz (" + problem + ")");
    }
    if (!type.streams && CannotSeek(path))
        return refuse(std::string(type.name) + " cannot be written to " + Where(path) +
                      " when it is a pipe or a terminal (the file is finished by seeking back); types that "
                      "stream: " + OutputTypeNames(true));
    if (!file_.Open(path, error)) return false;
    if (!type.streams && file_.IsDirect() && lseek(file_.Descriptor(), 0, SEEK_CUR) < 0) {
        file_.Discard();
        return refuse(std::string(type.name) + " cannot be written to " + Where(path) +
                      ": it cannot seek; types that stream: " + OutputTypeNames(true));
    }
    if (type.sndfileFormat == 0) return true;  // raw: the samples as they are
    if (file_.IsDirect() && (type.sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
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
            *error = WriteError();
            return false;
        }
        return true;
    }
    std::fflush(file_.Stream());
    sndfile_ = sf_open_fd(file_.Descriptor(), SFM_WRITE, &info, /*close_desc=*/0);
    if (!sndfile_) {
        *error = "cannot write " + Where(path) + " as " + type.name + ": " + sf_strerror(nullptr);
        file_.Discard();
        return false;
    }
    return true;
}

std::string AudioWriter::WriteError() const {
    const std::string &path = file_.Path();
    return (path == "-" ? std::string("cannot write to standard output") : "cannot write '" + path + "'") + ": " +
           std::strerror(errno);
}

bool AudioWriter::WriteFrames(const uint8_t *data, std::size_t frames) {
    if (frames == 0) return true;
    const std::size_t samples = frames * static_cast<std::size_t>(channels_);
    if (sndfile_) {
        samples_.resize(samples);
        for (std::size_t i = 0; i < samples; ++i)
            samples_[i] = static_cast<short>(static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8));
        if (sf_write_short(sndfile_, samples_.data(), static_cast<sf_count_t>(samples)) !=
            static_cast<sf_count_t>(samples))
            return false;
    } else if (!file_.Write(data, samples * 2)) {
        return false;
    }
    frames_ += frames;
    return true;
}

bool AudioWriter::WriteBytes(const uint8_t *data, std::size_t size) {
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

bool AudioWriter::Finish(std::string *error) {
    if (failed_) {
        *error = sndfile_ ? "cannot write " + Where(file_.Path()) + ": " + sf_strerror(sndfile_) : WriteError();
        Discard();
        return false;
    }
    if (sndfile_) {
        const int closed = sf_close(sndfile_);
        sndfile_ = nullptr;
        if (closed != 0) {
            *error = "cannot write " + Where(file_.Path()) + ": " + sf_error_number(closed);
            file_.Discard();
            return false;
        }
    }
    return file_.Commit(error);
}

void AudioWriter::Discard() {
    if (sndfile_) sf_close(sndfile_);
    sndfile_ = nullptr;
    file_.Discard();
}

}  // namespace velkorix::cli
