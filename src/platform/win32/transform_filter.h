// The transform-filter base over real DirectShow and COM: a filter object
// (IBaseFilter, IMediaFilter, IPersist) with one input pin "XForm In" and one
// output pin "XForm Out" (transform_pins.h). The base handles connection and
// media-type negotiation, allocator negotiation (through the derived filter's
// DecideBufferSize), state changes, the per-sample path shared with the
// portable stand-in (platform/sample_path.h: prepare an output sample,
// Transform, deliver or skip), flushing, end of stream, new segments, seeking
// passed upstream and quality messages passed upstream. Derived filters
// override the five hooks and nothing else.
#pragma once

#include "pins.h"
#include "platform/com_base.h"
#include "platform/sample_path.h"
#include "platform.h"
#include "transform_pins.h"

namespace velkorix {

class TransformFilterBase : public UnknownBase, public IBaseFilter, public PinOwner, private SamplePathHost {
public:
    TransformFilterBase(const char *name, IUnknown *outer, REFCLSID clsid);
    ~TransformFilterBase() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

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
    const CLSID &ClassId() const { return clsid_; }
    static const char *InputPinName() { return "XForm In"; }
    static const char *OutputPinName() { return "XForm Out"; }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;

    // The pins, by position (0 input, 1 output); null past the end.
    PinBase *PinAt(int position) override;
    IBaseFilter *AsBaseFilter() override { return this; }

private:
    friend class TransformInputPin;

    // PinOwner
    CRITICAL_SECTION &FilterLock() override { return filterLock_; }
    bool IsStopped() override { return state_ == State_Stopped; }

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

    // Sends an event to the graph's event sink, when the filter is in a graph.
    HRESULT NotifyEvent(LONG code, LONG_PTR first, LONG_PTR second);

    CLSID clsid_;
    CRITICAL_SECTION filterLock_;   // state, connections, graph membership
    CRITICAL_SECTION receiveLock_;  // one sample (or stream notification) at a time
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME startTime_ = 0;
    IReferenceClock *clock_ = nullptr;
    IFilterGraph *graph_ = nullptr;         // not referenced: the graph holds the filter
    IMediaEventSink *eventSink_ = nullptr;  // not referenced, for the same reason
    WCHAR name_[MAX_FILTER_NAME] = {};
    TransformSamplePath samplePath_;
    bool endOfStreamDelivered_ = false;
    // The pins live inside the filter and count their references on it.
    TransformInputPin input_;
    TransformOutputPin output_;
};

}  // namespace velkorix
