// Holds a critical section for the life of a scope.
#pragma once

#include "platform.h"

namespace velkorix {

class AutoLock {
public:
    explicit AutoLock(CRITICAL_SECTION &section) : section_(section) { EnterCriticalSection(&section_); }
    ~AutoLock() { LeaveCriticalSection(&section_); }
    AutoLock(const AutoLock &) = delete;
    AutoLock &operator=(const AutoLock &) = delete;

private:
    CRITICAL_SECTION &section_;
};

}  // namespace velkorix
