#include "common/debug_channel.h"

#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace velkorix {
namespace {

void PlatformDefault(void *, const char *text) {
#if defined(_WIN32)
    OutputDebugStringA(text);
#else
    (void)text;
#endif
}

std::mutex &SinkMutex() {
    static std::mutex m;
    return m;
}
DebugSink g_sink = PlatformDefault;
void *g_context = nullptr;

thread_local DebugSink t_sink = nullptr;
thread_local void *t_context = nullptr;

}  // namespace

void DebugOutput(const char *text) {
    if (t_sink) {
        t_sink(t_context, text);
        return;
    }
    std::lock_guard<std::mutex> lock(SinkMutex());
    g_sink(g_context, text);
}

void SetDebugSink(DebugSink sink, void *context, DebugSink *previous, void **previousContext) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (previous) *previous = (g_sink == PlatformDefault) ? nullptr : g_sink;
    if (previousContext) *previousContext = g_context;
    g_sink = sink ? sink : PlatformDefault;
    g_context = sink ? context : nullptr;
}

void SetThreadDebugSink(DebugSink sink, void *context, DebugSink *previous, void **previousContext) {
    if (previous) *previous = t_sink;
    if (previousContext) *previousContext = t_context;
    t_sink = sink;
    t_context = sink ? context : nullptr;
}

}  // namespace velkorix
