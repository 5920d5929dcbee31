#include "media_sample.h"

#include <cstdlib>

#include "platform/media_type.h"

namespace velkorix {

// ---- MediaSample ----

MediaSample::MediaSample(MemAllocator *owner, BYTE *data, LONG size) : owner_(owner), data_(data), size_(size) {}

MediaSample::~MediaSample() { DeleteMediaType(mediaType_); }

MediaSample *MediaSample::Wrap(BYTE *data, LONG size) {
    auto *sample = new MediaSample(nullptr, data, size);
    sample->references_ = 1;
    sample->actualLength_ = size;
    return sample;
}

void MediaSample::Rewrap(BYTE *data, LONG size) {
    ResetProperties();
    data_ = data;
    size_ = size;
    actualLength_ = size;
}

void MediaSample::ResetProperties() {
    actualLength_ = 0;
    timeValid_ = stopValid_ = mediaTimeValid_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    if (mediaType_) {
        DeleteMediaType(mediaType_);
        mediaType_ = nullptr;
    }
    streamId_ = AM_STREAM_MEDIA;
}

HRESULT STDMETHODCALLTYPE MediaSample::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
        *object = static_cast<IMediaSample *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MediaSample::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE MediaSample::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        if (owner_)
            owner_->ReleaseBuffer(this);
        else
            delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE MediaSample::GetPointer(BYTE **buffer) {
    if (!buffer) return E_POINTER;
    *buffer = data_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) {
    if (!start || !end) return E_POINTER;
    if (!timeValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (stopValid_) {
        *end = end_;
        return S_OK;
    }
    *end = start_ + 1;
    return VFW_S_NO_STOP_TIME;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) {
    if (!start) {
        timeValid_ = stopValid_ = false;
        return S_OK;
    }
    start_ = *start;
    timeValid_ = true;
    stopValid_ = end != nullptr;
    if (end) end_ = *end;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetSyncPoint(BOOL value) {
    syncPoint_ = value != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetPreroll(BOOL value) {
    preroll_ = value != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > size_) return 0x80070057;  // E_INVALIDARG, as VFW_E_BUFFER_OVERFLOW callers treat it
    actualLength_ = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::GetMediaType(AM_MEDIA_TYPE **type) {
    if (!type) return E_POINTER;
    if (!mediaType_) {
        *type = nullptr;
        return S_FALSE;
    }
    *type = CreateMediaType(mediaType_);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetMediaType(AM_MEDIA_TYPE *type) {
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
    if (!type) return S_OK;
    mediaType_ = CreateMediaType(type);
    return mediaType_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetDiscontinuity(BOOL value) {
    discontinuity_ = value != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::GetMediaTime(LONGLONG *start, LONGLONG *end) {
    if (!start || !end) return E_POINTER;
    if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *end = mediaEnd_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSample::SetMediaTime(LONGLONG *start, LONGLONG *end) {
    if (!start || !end) {
        mediaTimeValid_ = false;
        return S_OK;
    }
    mediaStart_ = *start;
    mediaEnd_ = *end;
    mediaTimeValid_ = true;
    return S_OK;
}

// ---- MemAllocator ----

MemAllocator *MemAllocator::Create() { return new MemAllocator(); }

MemAllocator::~MemAllocator() { FreeBuffers(); }

void MemAllocator::FreeBuffers() {
    for (MediaSample *sample : free_) delete sample;
    free_.clear();
    for (BYTE *block : blocks_) std::free(block);
    blocks_.clear();
}

HRESULT STDMETHODCALLTYPE MemAllocator::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
        *object = static_cast<IMemAllocator *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MemAllocator::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE MemAllocator::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (outstanding_ > 0) {
                orphaned_ = true;  // the last sample to come back deletes it
                return 0;
            }
        }
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE MemAllocator::SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) {
    if (!request || !actual) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (committed_) return 0x80040227;  // VFW_E_ALREADY_COMMITTED
    if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;  // samples of the last commit are still out
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0) return 0x8004020E;  // VFW_E_BADALIGN
    props_ = *request;
    *actual = props_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemAllocator::GetProperties(ALLOCATOR_PROPERTIES *props) {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *props = props_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemAllocator::Commit() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (committed_) return S_OK;
    if (!blocks_.empty()) {
        // Decommitted while samples were still out: the buffers were kept
        // for them, and committing again takes them back into service.
        committed_ = true;
        return S_OK;
    }
    if (props_.cBuffers <= 0 || props_.cbBuffer <= 0) return 0x80040225;  // VFW_E_SIZENOTSET
    for (LONG i = 0; i < props_.cBuffers; ++i) {
        auto *block = static_cast<BYTE *>(std::calloc(1, static_cast<std::size_t>(props_.cbBuffer) + props_.cbPrefix));
        if (!block) {
            FreeBuffers();
            return E_OUTOFMEMORY;
        }
        blocks_.push_back(block);
        free_.push_back(new MediaSample(this, block + props_.cbPrefix, props_.cbBuffer));
    }
    committed_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemAllocator::Decommit() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!committed_) return S_OK;
    committed_ = false;
    available_.notify_all();
    if (outstanding_ == 0) FreeBuffers();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemAllocator::GetBuffer(IMediaSample **sample, REFERENCE_TIME *, REFERENCE_TIME *, DWORD) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    if (committed_ && free_.empty()) {
        ++waiting_;
        available_.wait(lock, [&] { return !committed_ || !free_.empty(); });
        --waiting_;
    }
    if (!committed_) return VFW_E_NOT_COMMITTED;
    MediaSample *s = free_.back();
    free_.pop_back();
    ++outstanding_;
    lock.unlock();
    s->ResetProperties();
    s->references_ = 1;
    *sample = s;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemAllocator::ReleaseBuffer(IMediaSample *sample) {
    auto *s = static_cast<MediaSample *>(sample);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --outstanding_;
        free_.push_back(s);
        last = orphaned_ && outstanding_ == 0;
        if (!last && !committed_ && outstanding_ == 0) FreeBuffers();
        if (waiting_ > 0) available_.notify_one();
    }
    if (last) delete this;
    return S_OK;
}

}  // namespace velkorix
