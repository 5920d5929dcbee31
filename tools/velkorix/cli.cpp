#include "cli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velkorix::cli {

namespace {
std::vector<Command> &Table() {
    static std::vector<Command> table;
    return table;
}
}  // namespace

CommandRegistration::CommandRegistration(const Command &command) { Table().push_back(command); }

const std::vector<Command> &Commands() { return Table(); }

#ifndef VELKORIX_VERSION
#error "the build defines VELKORIX_VERSION (the project version)"
#endif

std::string Version() { return "velkorix " VELKORIX_VERSION; }

void Error(const std::string &message) { std::fprintf(stderr, "velkorix: %s\n", message.c_str()); }

InputFile OpenInput(const std::string &path) {
    std::string error;
    InputFile file = OpenInput(path, &error);
    if (!file) Error(error);
    return file;
}

InputFile OpenInput(const std::string &path, std::string *error) {
    if (path == "-") return InputFile(stdin);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = "cannot read '" + path + "': it is a directory";
        return nullptr;
    }
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) *error = "cannot read '" + path + "': " + std::strerror(errno);
    return InputFile(file);
}

bool ParseInt(const std::string &text, long long min, long long max, long long *value) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

}  // namespace velkorix::cli
