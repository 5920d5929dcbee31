// The debugger output channel: fixed diagnostic strings from the filter and
// the codec slot. On Windows the default destination is OutputDebugStringA;
// elsewhere text is discarded unless a sink is installed (tests and the CLI's
// verbose mode install one).
#pragma once

namespace velkorix {

using DebugSink = void (*)(void *context, const char *text);

// Sends one string to the calling thread's sink when it has one, else to the
// process-wide sink. Safe to call from any thread.
void DebugOutput(const char *text);

// Installs a sink for every later DebugOutput call; a null sink restores the
// platform default. Returns the previous sink and context through the
// optional out pointers so that callers can restore them.
void SetDebugSink(DebugSink sink, void *context, DebugSink *previous = nullptr,
                  void **previousContext = nullptr);

// Installs a sink for the calling thread only: its DebugOutput calls go there
// instead of the process-wide sink, so hosts that run one filter per thread
// (batch decoding, pipeline elements) see each filter's messages apart. A
// null sink removes it. Returns the previous thread sink and context as above.
void SetThreadDebugSink(DebugSink sink, void *context, DebugSink *previous = nullptr,
                        void **previousContext = nullptr);

}  // namespace velkorix
