// A small checking harness for the programs that run under wine: every check
// that fails prints one line with its place and what was found; a program
// ends with one summary line and a nonzero status when anything failed.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace vtest {

int &FailureCount();

void Fail(const char *file, int line, const std::string &what);

// "0x80004002" for an HRESULT.
std::string Hex(long value);

// Prints the summary line and returns the exit status.
int Finish(const char *program);

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
