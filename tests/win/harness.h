// A small checking harness for the checks that run under wine: every check
// that fails prints one line with its place and what was found; a command
// ends with one summary line and a nonzero status when anything failed.
//
// Every check program of this directory is a command of one Windows program,
// wine_checks.exe (wine_checks.cpp), so that one wine process can run several
// of them one after another: starting a wine process is the dear part, above
// all for 32-bit wine under emulation. A command is written as a main():
//
//   VTEST_COMMAND(VersionCommand, "version", "version MODULE_PATH") {
//       ... checks on argv[1] ...
//       return vtest::Finish(argv[0]);
//   }
//
// argv[0] is the command's name; it returns 0 when every check passed, 1 when
// one failed and 2 after printing its usage.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vtest {

int &FailureCount();

void Fail(const char *file, int line, const std::string &what);

// "0x80004002" for an HRESULT.
std::string Hex(long value);

// Prints the summary line and returns the exit status.
int Finish(const char *program);

// Runs body(0) .. body(count - 1) on `count` threads at the same time and
// returns when all have ended. The threads are created one after another,
// each only once the one before it runs, and then released together, so the
// bodies still run concurrently. The staggered start matters under wine on
// the qemu-i386 user-mode emulator (32-bit wine on kernels without IA-32
// support): qemu keeps one descriptor table for all threads of a process,
// while Linux keeps each thread's TLS descriptors apart, so a thread that is
// still starting when the next one installs its TEB descriptor loads that
// thread's TEB into %fs and crashes the process.
void RunConcurrently(int count, const std::function<void(int)> &body);

using CommandMain = int (*)(int argc, char **argv);

struct CommandInfo {
    const char *name;
    const char *usage;
    CommandMain main;
};

// Registers a command (done by VTEST_COMMAND at start-up).
struct CommandRegistration {
    CommandRegistration(const char *name, const char *usage, CommandMain main);
};

// The registered commands, in the order of registration.
const std::vector<CommandInfo> &Commands();

}  // namespace vtest

#define VTEST_COMMAND(function, name, usage)                                                   \
    static int function(int argc, char **argv);                                                \
    static const ::vtest::CommandRegistration function##Registration(name, usage, function); \
    static int function(int argc, char **argv)

#define CHECK(condition)                                                           \
    do {                                                                           \
        if (!(condition)) ::vtest::Fail(__FILE__, __LINE__, "CHECK(" #condition ")"); \
    } while (0)

#define CHECK_HR(expression, expected)                                                          \
    do {                                                                                        \
        const HRESULT check_hr_ = (expression);                                                 \
        const HRESULT check_expected_ = (expected);                                             \
        if (check_hr_ != check_expected_)                                                       \
            ::vtest::Fail(__FILE__, __LINE__,                                                   \
                          #expression " = " + ::vtest::Hex(check_hr_) + ", expected " +         \
                              ::vtest::Hex(check_expected_));                                   \
    } while (0)

#define CHECK_EQ(actual, expected)                                                              \
    do {                                                                                        \
        const auto check_a_ = (actual);                                                         \
        const auto check_e_ = (expected);                                                       \
        if (!(check_a_ == check_e_))                                                            \
            ::vtest::Fail(__FILE__, __LINE__,                                                   \
                          #actual " = " + std::to_string(check_a_) + ", expected " +            \
                              std::to_string(check_e_));                                        \
    } while (0)

// Stops the program when a precondition of everything after it fails.
#define REQUIRE(condition)                                                                   \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            ::vtest::Fail(__FILE__, __LINE__, "REQUIRE(" #condition ")");                     \
            return ::vtest::Finish(__FILE__);                                                \
        }                                                                                    \
    } while (0)

// The same, in a function that returns nothing.
#define REQUIRE_VOID(condition)                                                              \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            ::vtest::Fail(__FILE__, __LINE__, "REQUIRE(" #condition ")");                     \
            return;                                                                          \
        }                                                                                    \
    } while (0)
