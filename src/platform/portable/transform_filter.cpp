#include "transform_filter.h"

#include <typeinfo>

#include "platform/media_type.h"

namespace velkorix {

TransformFilterBase::TransformFilterBase(const char *, IUnknown *outer, REFCLSID clsid)
    : UnknownBase(outer), clsid_(clsid) {}

TransformFilterBase::~TransformFilterBase() {
    DisconnectOutput();
    DisconnectInput();
}

HRESULT TransformFilterBase::SetInputConnectionType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    AM_MEDIA_TYPE copy;
    const HRESULT hr = CopyMediaType(&copy, type);
    if (FAILED(hr)) return hr;
    FreeMediaType(inputType_);
    inputType_ = copy;
    return S_OK;
}

HRESULT TransformFilterBase::ConnectInput(const AM_MEDIA_TYPE *type) {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    if (!type) return E_POINTER;
    if (inputConnected_) return VFW_E_ALREADY_CONNECTED;
    const HRESULT hr = CheckInputType(type);
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT set = SetInputConnectionType(type);
    if (FAILED(set)) return set;
    inputConnected_ = true;
    return S_OK;
}

HRESULT TransformFilterBase::ConnectOutput(DownstreamPin *downstream, const AM_MEDIA_TYPE *proposed) {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    if (!downstream) return E_POINTER;
    if (downstream_) return VFW_E_ALREADY_CONNECTED;
    if (!inputConnected_) return VFW_E_NOT_CONNECTED;

    AM_MEDIA_TYPE chosen{};
    if (proposed) {
        const HRESULT hr = CheckTransform(&inputType_, proposed);
        if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
        const HRESULT copied = CopyMediaType(&chosen, proposed);
        if (FAILED(copied)) return copied;
    } else {
        HRESULT found = VFW_E_TYPE_NOT_ACCEPTED;
        for (int position = 0;; ++position) {
            AM_MEDIA_TYPE candidate{};
            const HRESULT hr = GetMediaType(position, &candidate);
            if (hr != S_OK) {
                FreeMediaType(candidate);
                if (FAILED(hr)) found = hr;
                break;
            }
            if (CheckTransform(&inputType_, &candidate) == S_OK) {
                chosen = candidate;
                found = S_OK;
                break;
            }
            FreeMediaType(candidate);
        }
        if (found != S_OK) return found;
    }

    MemAllocator *allocator = MemAllocator::Create();
    ALLOCATOR_PROPERTIES request{0, 0, 1, 0};
    HRESULT hr = DecideBufferSize(allocator, &request);
    if (SUCCEEDED(hr)) hr = allocator->Commit();
    if (FAILED(hr)) {
        allocator->Release();
        FreeMediaType(chosen);
        return hr;
    }
    allocator->GetProperties(&allocatorProps_);
    allocator_ = allocator;
    outputType_ = chosen;
    downstream_ = downstream;
    return S_OK;
}

void TransformFilterBase::DisconnectInput() {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    FreeMediaType(inputType_);
    inputType_ = AM_MEDIA_TYPE{};
    inputConnected_ = false;
}

void TransformFilterBase::DisconnectOutput() {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    FreeMediaType(outputType_);
    outputType_ = AM_MEDIA_TYPE{};
    downstream_ = nullptr;
}

HRESULT TransformFilterBase::Stop() {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    state_ = FilterState::Stopped;
    return S_OK;
}

HRESULT TransformFilterBase::Pause() {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    if (state_ == FilterState::Stopped) {
        if (allocator_) allocator_->Commit();
        samplePath_.Restart();
    }
    state_ = FilterState::Paused;
    return S_OK;
}

HRESULT TransformFilterBase::Run() {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    if (state_ == FilterState::Stopped) Pause();
    state_ = FilterState::Running;
    return S_OK;
}

HRESULT TransformFilterBase::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                               DWORD flags) {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

void TransformFilterBase::ReadProperties(IMediaSample *sample, SampleProperties *properties) {
    ReadSampleProperties(sample, properties);
    // Only this platform's own samples carry a stream id. (The type test is a
    // comparison of type records where a dynamic_cast walks the hierarchy.)
    if (typeid(*sample) == typeid(MediaSample)) properties->streamId = static_cast<MediaSample *>(sample)->StreamId();
}

HRESULT TransformFilterBase::Receive(IMediaSample *sample) {
    if (!sample) return E_POINTER;
    std::lock_guard<std::mutex> lock(receiveLock_);
    if (!inputConnected_) return VFW_E_NOT_CONNECTED;
    if (flushing_) return S_FALSE;
    if (state_ == FilterState::Stopped) return VFW_E_WRONG_STATE;
    return samplePath_.Receive(sample, *this);
}

HRESULT TransformFilterBase::EndOfStream() {
    std::lock_guard<std::mutex> lock(receiveLock_);
    return downstream_ ? downstream_->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT TransformFilterBase::BeginFlush() {
    flushing_ = true;
    return downstream_ ? downstream_->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TransformFilterBase::EndFlush() {
    std::lock_guard<std::mutex> lock(receiveLock_);
    // A sample that was under way when the flush began has finished.
    samplePath_.Restart();
    flushing_ = false;
    return downstream_ ? downstream_->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TransformFilterBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return downstream_ ? downstream_->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

}  // namespace velkorix
