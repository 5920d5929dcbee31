// A heap-call counter for tests that prove code paths allocate nothing.
// The test binary replaces global operator new (every allocating form) and,
// on glibc outside the sanitizers (which own the allocator), malloc, calloc
// and realloc; calls are counted per thread while counting is switched on.
#pragma once

namespace velkorix::test {

// Counts the heap calls of the calling thread while it lives.
class CountHeapCalls {
public:
    CountHeapCalls();
    ~CountHeapCalls();
    CountHeapCalls(const CountHeapCalls &) = delete;
    CountHeapCalls &operator=(const CountHeapCalls &) = delete;
    long Calls() const;

private:
    long start_;
};

// Whether the C allocation functions are counted too (not under sanitizers).
bool CountsMalloc();

// Runs `call` with counting on and returns the number of heap calls it made.
template <class F>
long HeapCallsDuring(F &&call) {
    CountHeapCalls count;
    call();
    return count.Calls();
}

}  // namespace velkorix::test
