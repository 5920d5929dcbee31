// The transform-filter base over real DirectShow and COM: a filter object
// (IBaseFilter, IMediaFilter, IPersist) with one input pin "XForm In" and one
// output pin "XForm Out". The base handles connection and media-type
// negotiation, allocator negotiation (through the derived filter's
// DecideBufferSize), state changes, the per-sample path (prepare an output
// sample, Transform, deliver), flushing, end of stream, new segments, seeking
// passed upstream and quality messages passed upstream. Derived filters
// override the five hooks and nothing else.
#pragma once

#include "platform/com_base.h"
#include "platform/sample_path.h"
#include "platform.h"

namespace velkorix {

class TransformFilterBase;

// What both pins share: identity, the connection (peer pin and media type)
// and the quality-control sink.
class PinBase : public UnknownBase, public IPin, public IQualityControl {
public:
    PinBase(TransformFilterBase *filter, IUnknown *owner, const WCHAR *name, PIN_DIRECTION direction);
    ~PinBase() override;

    // Pins answer their own interfaces and count their references on the filter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override;

    // IQualityControl
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *sink) override;

    // The pin's preferred types, in order: S_OK and a filled type, or
    // VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) = 0;
    // S_OK when the pin accepts `type` for a connection.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) = 0;

    bool IsConnected() const { return peer_ != nullptr; }
    IPin *Peer() const { return peer_; }
    const AM_MEDIA_TYPE &ConnectionType() const { return type_; }
    const WCHAR *Name() const { return name_; }

protected:
    // Checks the other pin before a connection attempt; releases what it
    // acquired when it fails.
    virtual HRESULT CheckConnect(IPin *peer);
    // Finishes a connection whose type both sides agreed on.
    virtual HRESULT CompleteConnect(IPin *peer);
    // Undoes CheckConnect and CompleteConnect.
    virtual void BreakConnect() {}

public:
    // Stores the agreed connection type.
    virtual HRESULT SetConnectionType(const AM_MEDIA_TYPE *type);

protected:

    TransformFilterBase *filter_;
    IQualityControl *qualitySink_ = nullptr;  // not referenced, as the interface prescribes

private:
    HRESULT TryConnection(IPin *receivePin, const AM_MEDIA_TYPE *type);
    HRESULT TryTypesOf(IEnumMediaTypes *types, IPin *receivePin, const AM_MEDIA_TYPE *partial);
    void ClearConnection();

    const WCHAR *name_;
    PIN_DIRECTION direction_;
    IPin *peer_ = nullptr;
    AM_MEDIA_TYPE type_{};
    // Guards replacing and copying type_: a type change announced on a sample
    // replaces it on the streaming thread while the graph may read it. Never
    // held while calling out of the pin.
    CRITICAL_SECTION typeLock_;
};

class TransformInputPin final : public PinBase, public IMemInputPin {
public:
    TransformInputPin(TransformFilterBase *filter, IUnknown *owner);
    ~TransformInputPin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IPin: the streaming notifications from upstream.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IQualityControl: an input pin receives no quality messages.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *properties) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;

    // Passes a quality message upstream: to the sink set on this pin, else to
    // the upstream output pin.
    HRESULT PassNotify(Quality quality);

    // State changes of the filter.
    void Inactive();
    bool IsFlushing() const { return flushing_ != 0; }

    HRESULT SetConnectionType(const AM_MEDIA_TYPE *type) override;

protected:
    HRESULT CheckConnect(IPin *peer) override;
    void BreakConnect() override;

private:
    friend class TransformFilterBase;
    IMemAllocator *allocator_ = nullptr;
    volatile LONG flushing_ = 0;
};

class TransformOutputPin final : public PinBase, public IMediaSeeking {
public:
    TransformOutputPin(TransformFilterBase *filter, IUnknown *owner);
    ~TransformOutputPin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IPin: an output pin receives no streaming notifications.
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }

    // IQualityControl: messages from downstream go upstream.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

    // IMediaSeeking: every call goes to the pin upstream of the filter.
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                                const GUID *sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *current, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override;

    HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;

    // State changes of the filter.
    HRESULT Active();
    void Inactive();

    // Streaming towards the downstream input pin.
    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags);
    HRESULT Deliver(IMediaSample *sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

protected:
    HRESULT CheckConnect(IPin *peer) override;
    HRESULT CompleteConnect(IPin *peer) override;
    void BreakConnect() override;

private:
    // Agrees on an allocator with the downstream pin: the downstream one when
    // it takes our buffer request, else a new memory allocator.
    HRESULT DecideAllocator(IMemInputPin *downstream, IMemAllocator **allocator);
    // The seeking interface of the pin upstream of the filter, referenced.
    IMediaSeeking *UpstreamSeeking();

    IMemInputPin *downstreamInput_ = nullptr;
    IMemAllocator *allocator_ = nullptr;
};

class TransformFilterBase : public UnknownBase, public IBaseFilter, private SamplePathHost {
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
    PinBase *PinAt(int position);
    IBaseFilter *AsBaseFilter() { return this; }

private:
    friend class PinBase;
    friend class TransformInputPin;
    friend class TransformOutputPin;

    // The input pin's streaming path, under the receive lock.
    HRESULT ReceiveSample(IMediaSample *sample);
    HRESULT CheckStreaming();
    // The sample path's view of the base.
    bool IsOutputConnected() const override { return output_.IsConnected(); }
    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                              DWORD flags) override;
    HRESULT Deliver(IMediaSample *sample) override { return output_.Deliver(sample); }
    void ReadProperties(IMediaSample *sample, SampleProperties *properties) override;
    void CompleteOutputSample(const SampleProperties &input, IMediaSample *output) override;
    void AbortStream(HRESULT reason) override;
    HRESULT EndOfStreamFromInput();
    HRESULT BeginFlushFromInput();
    HRESULT EndFlushFromInput();
    HRESULT NewSegmentFromInput(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
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
