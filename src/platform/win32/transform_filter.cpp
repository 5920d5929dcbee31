#include "transform_filter.h"

#include <cstddef>

#include "auto_lock.h"

namespace velkorix {

TransformFilterBase::TransformFilterBase(const char *, IUnknown *outer, REFCLSID clsid)
    : FilterBase(outer, clsid), input_(this, GetOwner()), output_(this, GetOwner(), &input_) {
    InitializeCriticalSection(&receiveLock_);
}

TransformFilterBase::~TransformFilterBase() {
    output_.Inactive();
    input_.Inactive();
    DeleteCriticalSection(&receiveLock_);
}

HRESULT TransformFilterBase::SetInputConnectionType(const AM_MEDIA_TYPE *type) { return input_.SetConnectionType(type); }

PinBase *TransformFilterBase::PinAt(int position) {
    switch (position) {
        case 0: return &input_;
        case 1: return &output_;
        default: return nullptr;
    }
}

void TransformFilterBase::OnStop() {
    // Decommitting the input allocator releases an upstream thread waiting for
    // a buffer; then wait for a sample in progress before the output side stops.
    input_.Inactive();
    {
        AutoLock receive(receiveLock_);
        output_.Inactive();
        MarkStopped();
    }
    endOfStreamDelivered_ = false;
}

HRESULT TransformFilterBase::OnActivate() {
    if (output_.IsConnected()) {
        const HRESULT hr = output_.Active();
        if (FAILED(hr)) return hr;
    }
    // Nothing will ever arrive on an unconnected input: tell downstream.
    if (!input_.IsConnected() && output_.IsConnected() && !endOfStreamDelivered_) {
        output_.DeliverEndOfStream();
        endOfStreamDelivered_ = true;
    }
    samplePath_.Restart();
    return S_OK;
}

HRESULT TransformFilterBase::CheckStreaming() {
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    if (input_.IsFlushing()) return S_FALSE;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    return S_OK;
}

HRESULT TransformFilterBase::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                               DWORD flags) {
    return output_.GetDeliveryBuffer(sample, start, stop, flags);
}

void TransformFilterBase::ReadProperties(IMediaSample *sample, SampleProperties *properties) {
    // IMediaSample2 answers everything but the media times in one call; a
    // sample without it is asked one property at a time.
    IMediaSample2 *sample2 = nullptr;
    if (FAILED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&sample2))) || !sample2) {
        ReadSampleProperties(sample, properties);
        return;
    }
    AM_SAMPLE2_PROPERTIES p{};
    const HRESULT hr = sample2->GetProperties(sizeof(p), reinterpret_cast<BYTE *>(&p));
    sample2->Release();
    if (FAILED(hr)) {
        ReadSampleProperties(sample, properties);
        return;
    }
    SampleProperties &out = *properties;
    const DWORD flags = p.dwSampleFlags;
    out.hasStart = (flags & AM_SAMPLE_TIMEVALID) != 0;
    out.hasStop = out.hasStart && (flags & AM_SAMPLE_STOPVALID) != 0;
    out.start = p.tStart;
    out.stop = p.tStop;
    out.syncPoint = (flags & AM_SAMPLE_SPLICEPOINT) != 0;
    out.preroll = (flags & AM_SAMPLE_PREROLL) != 0;
    out.discontinuity = (flags & AM_SAMPLE_DATADISCONTINUITY) != 0;
    // The sample's own type, not a copy.
    if ((flags & AM_SAMPLE_TYPECHANGED) && p.pMediaType) out.type = p.pMediaType;
    out.streamId = p.dwStreamId;
    out.typeSpecificFlags = p.dwTypeSpecificFlags;
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        out.hasMediaTime = true;
        out.mediaStart = mediaStart;
        out.mediaStop = mediaStop;
    }
}

void TransformFilterBase::CompleteOutputSample(const SampleProperties &input, IMediaSample *output) {
    if (input.typeSpecificFlags == 0) return;
    IMediaSample2 *output2 = nullptr;
    if (FAILED(output->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&output2))) || !output2) return;
    AM_SAMPLE2_PROPERTIES head{};
    head.cbData = sizeof(head);
    head.dwTypeSpecificFlags = input.typeSpecificFlags;
    // Only the leading two fields: the rest stay as the sample path set them.
    output2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), reinterpret_cast<BYTE *>(&head));
    output2->Release();
}

void TransformFilterBase::AbortStream(HRESULT reason) { NotifyEvent(EC_ERRORABORT, reason, 0); }

HRESULT TransformFilterBase::ReceiveSample(IMediaSample *sample) {
    if (!sample) return E_POINTER;
    AutoLock receive(receiveLock_);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return samplePath_.Receive(sample, *this);
}

HRESULT TransformFilterBase::EndOfStreamFromInput() {
    AutoLock receive(receiveLock_);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverEndOfStream();
}

HRESULT TransformFilterBase::BeginFlushFromInput() {
    AutoLock lock(FilterLock());
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    // From here every sample is refused until the flush ends; downstream
    // releases whatever it holds, which frees a blocked Receive.
    input_.SetFlushing(true);
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverBeginFlush();
}

HRESULT TransformFilterBase::EndFlushFromInput() {
    AutoLock lock(FilterLock());
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = S_OK;
    if (output_.IsConnected()) hr = output_.DeliverEndFlush();
    {
        // A sample that was under way when the flush began has finished.
        AutoLock receive(receiveLock_);
        samplePath_.Restart();
    }
    input_.SetFlushing(false);
    return hr;
}

HRESULT TransformFilterBase::ReceiveCanBlockFromInput() {
    IPin *downstream = nullptr;
    {
        AutoLock lock(FilterLock());
        downstream = output_.Peer();
        if (downstream) downstream->AddRef();
    }
    if (!downstream) return S_FALSE;
    HRESULT hr = S_OK;
    IMemInputPin *input = nullptr;
    if (SUCCEEDED(downstream->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input)))) {
        hr = input->ReceiveCanBlock() == S_FALSE ? S_FALSE : S_OK;
        input->Release();
    }
    downstream->Release();
    return hr;
}

HRESULT TransformFilterBase::NewSegmentFromInput(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!output_.IsConnected()) return S_OK;
    return output_.DeliverNewSegment(start, stop, rate);
}

}  // namespace velkorix
