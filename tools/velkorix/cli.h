// Shared pieces of the velkorix command-line tool: the command table, exit
// statuses and argument helpers.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velkorix::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // nothing written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWarning = 3;   // output written, with a warning

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const std::vector<std::string> &args);  // args after the command name
};

// Commands register themselves from their own source files.
struct CommandRegistration {
    explicit CommandRegistration(const Command &command);
};
const std::vector<Command> &Commands();

// "velkorix <version>": the project's version as the build gives it.
std::string Version();

// Prints "velkorix: <message>" to standard error.
void Error(const std::string &message);

// An input opened for binary reading; standard input ("-") is never closed.
struct InputCloser {
    void operator()(std::FILE *file) const {
        if (file && file != stdin) std::fclose(file);
    }
};
using InputFile = std::unique_ptr<std::FILE, InputCloser>;

// Opens `path` ("-" for standard input). On failure prints why (a directory,
// a missing or unreadable file) and returns null.
InputFile OpenInput(const std::string &path);
// The same, saying why in `error` instead of printing it.
InputFile OpenInput(const std::string &path, std::string *error);

// Parses a whole decimal integer within [min, max].
bool ParseInt(const std::string &text, long long min, long long max, long long *value);

}  // namespace velkorix::cli
