#include "output_type.h"

#include <sndfile.h>

#include <algorithm>
#include <sstream>

namespace velkorix::cli {
namespace {

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// The extension of the last path component: the text after its last dot,
// when that dot is not its first character ("x.flac" -> "flac", ".hidden"
// and "name" -> "").
std::string Extension(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    return base.substr(dot + 1);
}

}  // namespace

const std::vector<OutputType> &OutputTypes() {
    static const std::vector<OutputType> types = {
        {"wav", "wav", "", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true, "WAV, 16-bit PCM (the default)"},
        {"flac", "flac", "", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false, "FLAC, lossless"},
        {"ogg", "ogg", "oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true, "Ogg Vorbis, lossy"},
        {"aiff", "aiff", "aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false, "AIFF, 16-bit PCM"},
        {"caf", "caf", "", SF_FORMAT_CAF | SF_FORMAT_PCM_16, false, "Core Audio Format, 16-bit PCM"},
        {"au", "au", "snd", SF_FORMAT_AU | SF_FORMAT_PCM_16, true, "Sun/NeXT AU, 16-bit PCM"},
        {"raw", "raw", "", 0, true, "headerless 16-bit little-endian PCM"},
    };
    return types;
}

const OutputType &WavType() { return OutputTypes().front(); }

const OutputType *FindOutputType(const std::string &name) {
    const std::string wanted = Lower(name);
    for (const OutputType &type : OutputTypes())
        if (wanted == type.name) return &type;
    return nullptr;
}

const OutputType *OutputTypeFromName(const std::string &path, const OutputType *fallback, std::string *error) {
    if (path == "-") return fallback;
    const std::string extension = Lower(Extension(path));
    if (extension.empty()) return fallback;
    for (const OutputType &type : OutputTypes()) {
        if (extension == type.extension) return &type;
        std::istringstream aliases(type.aliases);
        std::string alias;
        while (aliases >> alias)
            if (extension == alias) return &type;
    }
    *error = "cannot tell the output type from the extension '." + Extension(path) + "' of '" + path +
             "': name one with --type (" + OutputTypeNames() + ")";
    return nullptr;
}

std::string OutputTypeNames(bool streamingOnly) {
    std::string names;
    for (const OutputType &type : OutputTypes()) {
        if (streamingOnly && !type.streams) continue;
        if (!names.empty()) names += ", ";
        names += type.name;
    }
    return names;
}

std::string OutputTypeHelp() {
    std::string text;
    for (const OutputType &type : OutputTypes()) {
        std::string name = type.name;
        name.resize(std::max<std::size_t>(name.size() + 1, 6), ' ');
        text += name + type.description;
        if (type.aliases[0] != '\0') text += std::string(" (also .") + type.aliases + ")";
        text += "\n";
    }
    text.pop_back();
    return text;
}

}  // namespace velkorix::cli
