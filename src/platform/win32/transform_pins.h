// The two pins of the transform filter: "XForm In" hands samples and stream
// notifications to the filter and takes the types the filter's CheckInputType
// takes; "XForm Out" offers the filter's output types, sizes its buffers by the
// filter's DecideBufferSize, passes quality messages upstream through the
// input pin and seeks through the filter's input.
#pragma once

#include "pins.h"
#include "seeking_pass_through.h"

namespace velkorix {

class TransformFilterBase;

class TransformInputPin final : public InputPinBase {
public:
    TransformInputPin(TransformFilterBase *filter, IUnknown *owner);

    // IPin: the streaming notifications from upstream.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;

private:
    TransformFilterBase *transform_;
};

class TransformOutputPin final : public OutputPinBase {
public:
    // `input` is the filter's input pin: quality messages and seeking go
    // upstream through it.
    TransformOutputPin(TransformFilterBase *filter, IUnknown *owner, InputPinBase *input);

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IQualityControl: messages from downstream go upstream.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

    HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

protected:
    // The output type derives from the input type: no output without input.
    HRESULT CheckConnect(IPin *peer) override;

private:
    TransformFilterBase *transform_;
    InputPinBase *input_;
    SeekingPassThrough seeking_;
};

}  // namespace velkorix
