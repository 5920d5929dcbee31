// The hook through which the decoder reports its warnings. By default the
// text goes to standard output; a host that writes audio there (a command
// line tool piping PCM) points it somewhere else.
#include <cstdio>
#include <mutex>

#include "g729/g729_decoder.h"

namespace velkorix::g729 {

namespace {

void StandardOutputSink(void *, const char *text) {
    std::fputs(text, stdout);
}

struct Hook {
    std::mutex lock;
    G729DiagnosticSink sink = StandardOutputSink;
    void *context = nullptr;
};

Hook &TheHook() {
    static Hook hook;
    return hook;
}

}  // namespace

void G729Diagnostic(const char *text) {
    Hook &hook = TheHook();
    G729DiagnosticSink sink;
    void *context;
    {
        std::lock_guard<std::mutex> guard(hook.lock);
        sink = hook.sink;
        context = hook.context;
    }
    sink(context, text);
}

void G729SetDiagnosticSink(G729DiagnosticSink sink, void *context, G729DiagnosticSink *previous,
                           void **previousContext) {
    Hook &hook = TheHook();
    std::lock_guard<std::mutex> guard(hook.lock);
    if (previous) *previous = hook.sink == StandardOutputSink ? nullptr : hook.sink;
    if (previousContext) *previousContext = hook.context;
    hook.sink = sink ? sink : StandardOutputSink;
    hook.context = sink ? context : nullptr;
}

void G729StreamSink(void *context, const char *text) {
    auto *stream = static_cast<std::FILE *>(context);
    if (stream) std::fputs(text, stream);
}

}  // namespace velkorix::g729
