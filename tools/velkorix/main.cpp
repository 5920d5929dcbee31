#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "g729/g729_decoder.h"

namespace velkorix::cli {

namespace {
std::vector<Command> &Table() {
    static std::vector<Command> table;
    return table;
}
}  // namespace

CommandRegistration::CommandRegistration(const Command &command) { Table().push_back(command); }

const std::vector<Command> &Commands() { return Table(); }

void Error(const std::string &message) { std::fprintf(stderr, "velkorix: %s\n", message.c_str()); }

InputFile OpenInput(const std::string &path) {
    if (path == "-") return InputFile(stdin);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        Error("cannot read '" + path + "': it is a directory");
        return nullptr;
    }
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) Error("cannot read '" + path + "': " + std::strerror(errno));
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

namespace {

void PrintUsage(FILE *out) {
    std::fprintf(out,
                 "usage: velkorix COMMAND [ARGS...]\n"
                 "\n"
                 "Decodes captured audio streams of the Velkorix decoder filter and works with\n"
                 "voice codec frames.\n"
                 "\n"
                 "commands:\n");
    for (const auto &command : velkorix::cli::Commands())
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out,
                 "\n"
                 "Run 'velkorix COMMAND --help' for a command's options.\n"
                 "Exit status: 0 success; 1 failure (nothing written); 2 usage error;\n"
                 "3 output written with a warning.\n");
}

}  // namespace

int main(int argc, char **argv) {
    using namespace velkorix::cli;
    // Standard output may carry audio (-o -): decoder warnings go to standard error.
    velkorix::g729::G729SetDiagnosticSink(velkorix::g729::G729StreamSink, stderr);
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    for (const auto &command : Commands()) {
        if (name == command.name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    Error("unknown command '" + name + "' (see 'velkorix --help')");
    return kExitUsage;
}
