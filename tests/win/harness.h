// A small checking harness for the programs that run under wine: every check
// that fails prints one line with its place and what was found; a program
// ends with one summary line and a nonzero status when anything failed.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

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

}  // namespace vtest

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
