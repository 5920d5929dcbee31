// velkorix: the command-line tool's entry point. Commands register
// themselves from their own files (cmd_*.cpp); this finds the one named.
#include <cstdio>

#include "cli.h"
#include "g729/g729_decoder.h"

namespace {

void PrintUsage(FILE *out) {
    std::fprintf(out,
                 "Usage: velkorix COMMAND [ARGS...]\n"
                 "  or:  velkorix --help | --version\n"
                 "\n"
                 "Decodes captured audio streams of the Velkorix decoder filter and works with\n"
                 "voice codec frames.\n"
                 "\n"
                 "commands:\n");
    for (const auto &command : velkorix::cli::Commands())
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out,
                 "\n"
                 "options:\n"
                 "  -h, --help  show this help\n"
                 "  --version   show the version\n"
                 "\n"
                 "Run 'velkorix COMMAND --help' for a command's options.\n"
                 "\n"
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
    if (name == "--version") {
        std::printf("%s\n", Version().c_str());
        return kExitOk;
    }
    for (const auto &command : Commands()) {
        if (name == command.name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    Error("unknown command '" + name + "' (see 'velkorix --help')");
    return kExitUsage;
}
