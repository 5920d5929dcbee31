#include "harness.h"

#include <vector>

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

namespace {

struct ConcurrentRun {
    const std::function<void(int)> *body;
    HANDLE running;  // auto-reset: the thread just created runs
    HANDLE release;  // manual-reset: all threads may start their bodies
    int index;
};

DWORD WINAPI ConcurrentThread(void *parameter) {
    ConcurrentRun &run = *static_cast<ConcurrentRun *>(parameter);
    const int index = run.index;
    SetEvent(run.running);
    WaitForSingleObject(run.release, INFINITE);
    (*run.body)(index);
    return 0;
}

}  // namespace

void RunConcurrently(int count, const std::function<void(int)> &body) {
    ConcurrentRun run{&body, CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    if (!run.running || !run.release) {
        Fail(__FILE__, __LINE__, "CreateEvent failed");
        return;
    }
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        run.index = i;
        HANDLE thread = CreateThread(nullptr, 0, ConcurrentThread, &run, 0, nullptr);
        if (!thread) {
            Fail(__FILE__, __LINE__, "CreateThread failed");
            break;
        }
        threads.push_back(thread);
        WaitForSingleObject(run.running, INFINITE);  // it has read its index
    }
    SetEvent(run.release);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(run.running);
    CloseHandle(run.release);
}

namespace {

std::vector<CommandInfo> &CommandTable() {
    static std::vector<CommandInfo> table;
    return table;
}

}  // namespace

CommandRegistration::CommandRegistration(const char *name, const char *usage, CommandMain main) {
    CommandTable().push_back({name, usage, main});
}

const std::vector<CommandInfo> &Commands() { return CommandTable(); }

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
