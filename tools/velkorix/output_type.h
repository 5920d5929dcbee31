// The audio file types the tool writes decoded PCM in, chosen by the output
// name's extension or by --type. All hold 16-bit PCM except Ogg, which holds
// Vorbis (lossy); raw is the bare little-endian samples with no header.
#pragma once

#include <string>
#include <vector>

namespace velkorix::cli {

struct OutputType {
    const char *name;        // as --type takes it: "wav"
    const char *extension;   // what output names get in batch mode: "wav"
    const char *aliases;     // further extensions that choose it, space-separated ("aif"), or ""
    int sndfileFormat;       // libsndfile major type and encoding; 0 for raw (written by the tool itself)
    bool streams;            // can be written to a pipe or terminal (no seeking back at the end)
    const char *description;
};

// Every type, in the order the help lists them.
const std::vector<OutputType> &OutputTypes();

// The type of that --type name (any case), or null.
const OutputType *FindOutputType(const std::string &name);

// The type an output name asks for by its extension (any case). A name
// without an extension (or "-") gives `fallback`; an extension no type has
// gives null and says so in `error`, naming the known ones.
const OutputType *OutputTypeFromName(const std::string &path, const OutputType *fallback, std::string *error);

// "wav, flac, ogg, ..." (every type, or only those that stream).
std::string OutputTypeNames(bool streamingOnly = false);

// The WAV type, the default.
const OutputType &WavType();

// The --type option's help: one line per type.
std::string OutputTypeHelp();

}  // namespace velkorix::cli
