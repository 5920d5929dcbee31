// The transform-filter base over real DirectShow and COM: a filter object
// (FilterBase: IBaseFilter, IMediaFilter, IPersist) with one input pin
// "XForm In" and one output pin "XForm Out" (transform_pins.h). The base handles connection and
// media-type negotiation, allocator negotiation (through the derived filter's
// DecideBufferSize), state changes, the per-sample path shared with the
// portable stand-in (platform/sample_path.h: prepare an output sample,
// Transform, deliver or skip), flushing, end of stream, new segments, seeking
// passed upstream and quality messages passed upstream. Derived filters
// override the five hooks and nothing else.
#pragma once

#include "filter_base.h"
#include "pins.h"
#include "platform/sample_path.h"
#include "platform.h"
#include "transform_pins.h"

namespace velkorix {

class TransformFilterBase : public FilterBase, private SamplePathHost {
public:
    TransformFilterBase(const char *name, IUnknown *outer, REFCLSID clsid);
    ~TransformFilterBase() override;

    // Hooks of the derived filter. CheckInputType and Transform serve the
    // sample path as they are.
    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override = 0;
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;
    // Fills an empty type (no format block) at `position`; the caller frees it.
    virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) = 0;
    HRESULT Transform(IMediaSample *input, IMediaSample *output) override = 0;

    // What the derived filter reads of its pins.
    bool IsInputConnected() const { return input_.IsConnected(); }
    const AM_MEDIA_TYPE *InputConnectionType() const { return &input_.ConnectionType(); }
    HRESULT SetInputConnectionType(const AM_MEDIA_TYPE *type) override;
    static const char *InputPinName() { return "XForm In"; }
    static const char *OutputPinName() { return "XForm Out"; }

    // The pins, by position (0 input, 1 output); null past the end.
    PinBase *PinAt(int position) override;

protected:
    // State changes: the pins' allocators, and the end of a stream that has
    // no input.
    HRESULT OnActivate() override;
    void OnStop() override;

private:
    friend class TransformInputPin;

    // What the input pin hands on, under the receive lock.
    HRESULT ReceiveSample(IMediaSample *sample);
    HRESULT EndOfStreamFromInput();
    HRESULT BeginFlushFromInput();
    HRESULT EndFlushFromInput();
    HRESULT NewSegmentFromInput(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Receive blocks exactly when delivery downstream can.
    HRESULT ReceiveCanBlockFromInput();
    HRESULT CheckStreaming();

    // The sample path's view of the base.
    bool IsOutputConnected() const override { return output_.IsConnected(); }
    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                              DWORD flags) override;
    HRESULT Deliver(IMediaSample *sample) override { return output_.Deliver(sample); }
    void ReadProperties(IMediaSample *sample, SampleProperties *properties) override;
    void CompleteOutputSample(const SampleProperties &input, IMediaSample *output) override;
    void AbortStream(HRESULT reason) override;

    CRITICAL_SECTION receiveLock_;  // one sample (or stream notification) at a time
    TransformSamplePath samplePath_;
    bool endOfStreamDelivered_ = false;
    // The pins live inside the filter and count their references on it.
    TransformInputPin input_;
    TransformOutputPin output_;
};

}  // namespace velkorix
