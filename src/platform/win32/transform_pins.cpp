#include "transform_pins.h"

#include "transform_filter.h"

namespace velkorix {
namespace {

const WCHAR kInputPinName[] = L"XForm In";
const WCHAR kOutputPinName[] = L"XForm Out";

}  // namespace

// ---- TransformInputPin ----

TransformInputPin::TransformInputPin(TransformFilterBase *filter, IUnknown *owner)
    : InputPinBase(filter, owner, kInputPinName), transform_(filter) {}

HRESULT TransformInputPin::CheckMediaType(const AM_MEDIA_TYPE *type) { return transform_->CheckInputType(type); }

HRESULT STDMETHODCALLTYPE TransformInputPin::EndOfStream() { return transform_->EndOfStreamFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::BeginFlush() { return transform_->BeginFlushFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::EndFlush() { return transform_->EndFlushFromInput(); }

HRESULT STDMETHODCALLTYPE TransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return transform_->NewSegmentFromInput(start, stop, rate);
}

HRESULT STDMETHODCALLTYPE TransformInputPin::Receive(IMediaSample *sample) { return transform_->ReceiveSample(sample); }

HRESULT STDMETHODCALLTYPE TransformInputPin::ReceiveCanBlock() { return transform_->ReceiveCanBlockFromInput(); }

// ---- TransformOutputPin ----

TransformOutputPin::TransformOutputPin(TransformFilterBase *filter, IUnknown *owner, InputPinBase *input)
    : OutputPinBase(filter, owner, kOutputPinName),
      transform_(filter),
      input_(input),
      seeking_(static_cast<IPin *>(this), input) {}

HRESULT STDMETHODCALLTYPE TransformOutputPin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking) return GetInterface(&seeking_, object);
    return OutputPinBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE TransformOutputPin::Notify(IBaseFilter *, Quality quality) {
    return input_->PassNotify(quality);
}

HRESULT TransformOutputPin::CheckConnect(IPin *peer) {
    if (!transform_->IsInputConnected()) return E_UNEXPECTED;
    return OutputPinBase::CheckConnect(peer);
}

HRESULT TransformOutputPin::GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) {
    return transform_->GetMediaType(position, type);
}

HRESULT TransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!transform_->IsInputConnected()) return E_UNEXPECTED;
    return transform_->CheckTransform(transform_->InputConnectionType(), type);
}

HRESULT TransformOutputPin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    return transform_->DecideBufferSize(allocator, request);
}

}  // namespace velkorix
