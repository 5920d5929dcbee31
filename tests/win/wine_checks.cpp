// wine_checks: the checks that run under wine, as commands of one program.
//   wine_checks COMMAND ARGS... [+ COMMAND ARGS...]...
// Runs the commands one after another in this process. Around each command's
// own output it prints
//   [check N] begin COMMAND
//   [check N] end passed|failed (status S) in T ms
// (N counts from 1), which tests/win/run.sh reads; exits 0 when every command
// passed. Without a command it prints the usage of every command and ends
// with status 2.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

namespace {

int Usage() {
    std::printf("usage: wine_checks COMMAND ARGS... [+ COMMAND ARGS...]...\ncommands:\n");
    for (const vtest::CommandInfo &command : vtest::Commands()) std::printf("  %s\n", command.usage);
    return 2;
}

const vtest::CommandInfo *Find(const char *name) {
    for (const vtest::CommandInfo &command : vtest::Commands())
        if (std::strcmp(command.name, name) == 0) return &command;
    return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    // Split the arguments at the "+" between commands.
    std::vector<std::vector<char *>> runs(1);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "+") == 0)
            runs.emplace_back();
        else
            runs.back().push_back(argv[i]);
    }
    for (const std::vector<char *> &run : runs)
        if (run.empty() || !Find(run[0])) {
            std::printf("wine_checks: unknown or missing command '%s'\n", run.empty() ? "" : run[0]);
            return Usage();
        }

    int failedCommands = 0;
    for (std::size_t n = 0; n < runs.size(); ++n) {
        std::vector<char *> arguments = runs[n];
        const vtest::CommandInfo *command = Find(arguments[0]);
        std::printf("[check %zu] begin %s\n", n + 1, command->name);
        std::fflush(stdout);
        vtest::FailureCount() = 0;
        const ULONGLONG started = GetTickCount64();
        arguments.push_back(nullptr);
        const int status = command->main(static_cast<int>(arguments.size()) - 1, arguments.data());
        const ULONGLONG elapsed = GetTickCount64() - started;
        std::printf("[check %zu] end %s (status %d) in %llu ms\n", n + 1, status == 0 ? "passed" : "failed", status,
                    static_cast<unsigned long long>(elapsed));
        std::fflush(stdout);
        if (status != 0) ++failedCommands;
    }
    return failedCommands == 0 ? 0 : 1;
}
