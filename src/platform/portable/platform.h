// The small stand-in for the Windows/COM/DirectShow names that the filter host
// uses, for builds without the platform. Layouts and values follow the
// platform's documented definitions; only what the filter host calls exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int BOOL;
typedef uint8_t BYTE;
typedef int64_t LONGLONG;
typedef LONGLONG REFERENCE_TIME;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define VFW_S_NO_MORE_ITEMS ((HRESULT)0x00040103)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209u)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204u)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022Au)
#define VFW_E_NO_ALLOCATOR ((HRESULT)0x8004020Au)
#define VFW_E_NOT_COMMITTED ((HRESULT)0x80040211u)
#define VFW_E_BUFFERS_OUTSTANDING ((HRESULT)0x80040210u)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227u)
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200u)
#define VFW_E_SAMPLE_TIME_NOT_SET ((HRESULT)0x80040249u)
#define VFW_E_MEDIA_TIME_NOT_SET ((HRESULT)0x80040251u)
#define VFW_S_NO_STOP_TIME ((HRESULT)0x00040270)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID &REFGUID;
typedef const GUID &REFIID;
typedef const GUID &REFCLSID;

inline bool operator==(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID &a, const GUID &b) { return !(a == b); }
inline bool IsEqualGUID(const GUID &a, const GUID &b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IBaseFilter = {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaFilter = {0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

// Task memory.
inline void *CoTaskMemAlloc(std::size_t size) { return std::malloc(size ? size : 1); }
inline void CoTaskMemFree(void *p) { std::free(p); }

// Interlocked counters.
inline LONG InterlockedIncrement(volatile LONG *v) {
    return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG *v) {
    return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST);
}

// Critical sections: recursive, as on the platform.
struct CRITICAL_SECTION {
    std::recursive_mutex *mutex;
};
inline void InitializeCriticalSection(CRITICAL_SECTION *cs) { cs->mutex = new std::recursive_mutex; }
inline void DeleteCriticalSection(CRITICAL_SECTION *cs) {
    delete cs->mutex;
    cs->mutex = nullptr;
}
inline void EnterCriticalSection(CRITICAL_SECTION *cs) { cs->mutex->lock(); }
inline void LeaveCriticalSection(CRITICAL_SECTION *cs) { cs->mutex->unlock(); }

// The debugger output channel.
void OutputDebugStringA(const char *text);

// Media types and samples.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;
    ULONG cbFormat;
    BYTE *pbFormat;
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

struct IMediaSample : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE **buffer) = 0;
    virtual LONG STDMETHODCALLTYPE GetSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) = 0;
    virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *start, LONGLONG *end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *start, LONGLONG *end) = 0;

protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request,
                                                    ALLOCATOR_PROPERTIES *actual) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *props) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **sample, REFERENCE_TIME *start,
                                                REFERENCE_TIME *end, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *sample) = 0;

protected:
    ~IMemAllocator() = default;
};

// Stream identifier of ordinary media samples.
#define AM_STREAM_MEDIA 0

// Flags of IMemAllocator::GetBuffer: the sample before was not delivered; the
// sample to come is no sync point.
#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2

// Module-level services: registry, COM run-time, filter mapper and friends.
#include "win_api.h"
#include "ole.h"  // user interface and the OLE property-page interfaces
