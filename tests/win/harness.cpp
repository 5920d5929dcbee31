#include "harness.h"

namespace vtest {

int &FailureCount() {
    static int count = 0;
    return count;
}

void Fail(const char *file, int line, const std::string &what) {
    ++FailureCount();
    const char *name = file;
    for (const char *p = file; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    std::printf("  failed: %s:%d: %s\n", name, line, what.c_str());
    std::fflush(stdout);
}

std::string Hex(long value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value) & 0xFFFFFFFFul);
    return text;
}

int Finish(const char *program) {
    const char *name = program;
    for (const char *p = program; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    if (FailureCount() == 0) {
        std::printf("  %s: all checks passed\n", name);
        return 0;
    }
    std::printf("  %s: %d check(s) failed\n", name, FailureCount());
    return 1;
}

}  // namespace vtest
