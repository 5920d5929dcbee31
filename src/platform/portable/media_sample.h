// Media samples and a sample allocator for the portable stand-in.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform.h"

namespace velkorix {

class MemAllocator;

class MediaSample final : public IMediaSample {
public:
    // A sample over caller-owned memory (used by sources to feed a pin); the
    // sample starts with one reference and deletes itself on final release.
    static MediaSample *Wrap(BYTE *data, LONG size);
    // Points a wrapped sample at other caller-owned memory and clears its
    // properties (times, flags, media type, stream), so that a source can feed
    // one sample after the other through the same object. Only for a sample
    // made by Wrap that nobody else holds.
    void Rewrap(BYTE *data, LONG size);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE **buffer) override;
    LONG STDMETHODCALLTYPE GetSize() override { return size_; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return actualLength_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **type) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *start, LONGLONG *end) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *start, LONGLONG *end) override;

    // Stream identifier: AM_STREAM_MEDIA for ordinary media data.
    DWORD StreamId() const { return streamId_; }
    void SetStreamId(DWORD id) { streamId_ = id; }

    // Whether a time stamp pair is set (start and stop).
    bool HasTime() const { return timeValid_ && stopValid_; }

    // Whether the caller's reference is the only one (nobody else holds the
    // sample, so it may be rewrapped). Meaningful only to a holder.
    bool Unshared() const { return __atomic_load_n(&references_, __ATOMIC_ACQUIRE) == 1; }

private:
    friend class MemAllocator;
    MediaSample(MemAllocator *owner, BYTE *data, LONG size);
    ~MediaSample();
    void ResetProperties();

    MemAllocator *owner_;
    BYTE *data_;
    LONG size_;
    LONG actualLength_ = 0;
    volatile LONG references_ = 0;
    REFERENCE_TIME start_ = 0, end_ = 0;
    bool timeValid_ = false, stopValid_ = false;
    LONGLONG mediaStart_ = 0, mediaEnd_ = 0;
    bool mediaTimeValid_ = false;
    bool syncPoint_ = false, preroll_ = false, discontinuity_ = false;
    AM_MEDIA_TYPE *mediaType_ = nullptr;
    DWORD streamId_ = AM_STREAM_MEDIA;
};

class MemAllocator final : public IMemAllocator {
public:
    // Starts with one reference.
    static MemAllocator *Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *props) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end,
                                        DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *sample) override;

private:
    MemAllocator() = default;
    ~MemAllocator();
    void FreeBuffers();

    volatile LONG references_ = 1;
    std::mutex mutex_;
    std::condition_variable available_;
    ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
    bool committed_ = false;
    std::vector<BYTE *> blocks_;
    std::vector<MediaSample *> free_;
    LONG outstanding_ = 0;
    int waiting_ = 0;  // callers blocked in GetBuffer
    // Set by the final release while samples are still out: the allocator
    // then deletes itself when the last one comes back. (Outstanding samples
    // keep it alive this way instead of one reference each, which would cost
    // two interlocked operations per sample.)
    bool orphaned_ = false;
};

}  // namespace velkorix
