#include "audio_input.h"

#include <sys/stat.h>

#include <cstdio>

namespace velkorix::cli {
namespace {

std::string FormatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name) return info.name;
    char text[32];
    std::snprintf(text, sizeof(text), "format 0x%X", static_cast<unsigned>(format));
    return text;
}

// "44100 Hz, 2 channels, Signed 24 bit PCM (WAV (Microsoft))"
std::string Describe(const SF_INFO &info) {
    std::string text = std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels) +
                       (info.channels == 1 ? " channel, " : " channels, ");
    text += FormatName(info.format & SF_FORMAT_SUBMASK);
    text += " (" + FormatName(info.format & SF_FORMAT_TYPEMASK) + ")";
    return text;
}

}  // namespace

AudioInput::~AudioInput() {
    if (file_) sf_close(file_);
}

bool AudioInput::Open(const std::string &path, std::string *error) {
    SF_INFO info{};
    if (path == "-") {
        file_ = sf_open_fd(0, SFM_READ, &info, /*close_desc=*/0);
    } else {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            *error = "cannot read '" + path + "': it is a directory";
            return false;
        }
        file_ = sf_open(path.c_str(), SFM_READ, &info);
    }
    const std::string name = path == "-" ? "standard input" : "'" + path + "'";
    if (!file_) {
        *error = "cannot read " + name + " as audio: " + sf_strerror(nullptr);
        return false;
    }
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (info.samplerate != 8000 || info.channels != 1 || !pcm16) {
        *error = name + " is " + Describe(info) +
                 "; the voice codecs need 8000 Hz, 1 channel (mono), 16-bit PCM. Convert it first, for example: "
                 "sox INPUT -r 8000 -c 1 -b 16 -e signed-integer OUTPUT.wav";
        sf_close(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

long AudioInput::Read(int16_t *samples, long count) {
    if (!file_ || count <= 0) return 0;
    const sf_count_t got = sf_read_short(file_, samples, count);
    if (got < count && sf_error(file_) != SF_ERR_NO_ERROR) return -1;
    samplesRead_ += static_cast<uint64_t>(got);
    return static_cast<long>(got);
}

long AudioInput::ReadFull(int16_t *samples, long count) {
    long got = 0;
    while (got < count) {
        const long n = Read(samples + got, count - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += n;
    }
    return got;
}

}  // namespace velkorix::cli
