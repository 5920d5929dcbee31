// The filter's private interface for its signed 8-bit level.
#pragma once

#include "platform.h"

struct ILevelAdjust : public IUnknown {
    // E_POINTER for a null pointer; otherwise stores the current level.
    virtual HRESULT STDMETHODCALLTYPE GetLevel(signed char *level) = 0;
    // Stores the low byte of `level` as a signed value; `reserved` is ignored.
    virtual HRESULT STDMETHODCALLTYPE SetLevel(LONG level, LONG reserved) = 0;
    // Restores the default level.
    virtual HRESULT STDMETHODCALLTYPE ResetLevel() = 0;

protected:
    ~ILevelAdjust() = default;
};
