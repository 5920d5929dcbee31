// The pins of the filter bases over real DirectShow: what every pin does
// (identity, connection and media-type negotiation, quality sink), what every
// input pin does (the upstream allocator, flushing, quality messages passed
// upstream) and what every output pin does (allocator negotiation with the
// downstream pin, delivery of samples and stream notifications). A pin knows
// its filter only through PinOwner; what a kind of filter adds to its pins
// (the types they take, the buffers they need, where samples go) it adds by
// deriving from InputPinBase and OutputPinBase.
#pragma once

#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

class PinBase;

// The filter behind its pins, as they see it.
class PinOwner {
public:
    // The filter object: pins hand it out (QueryPinInfo) and report as it.
    virtual IBaseFilter *AsBaseFilter() = 0;
    // Guards the filter's state and its pins' connections.
    virtual CRITICAL_SECTION &FilterLock() = 0;
    // Whether the filter is stopped, read under FilterLock: connections are
    // made and broken only then.
    virtual bool IsStopped() = 0;
    // The filter's pins by position; null past the end.
    virtual PinBase *PinAt(int position) = 0;

protected:
    ~PinOwner() = default;
};

// What every pin shares: identity, the connection (peer pin and media type)
// and the quality-control sink. Pins live inside their filter and count their
// references on it.
class PinBase : public UnknownBase, public IPin, public IQualityControl {
public:
    // `owner` is the filter's controlling unknown, which the pin's references
    // go to.
    PinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name, PIN_DIRECTION direction);
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
    // Stores `type` as the connection type (a type change announced while
    // streaming replaces it this way).
    HRESULT SetConnectionType(const AM_MEDIA_TYPE *type);

protected:
    // Checks the other pin before a connection attempt; releases what it
    // acquired when it fails.
    virtual HRESULT CheckConnect(IPin *peer);
    // Finishes a connection whose type both sides agreed on.
    virtual HRESULT CompleteConnect(IPin *peer);
    // Undoes CheckConnect and CompleteConnect.
    virtual void BreakConnect() {}

    PinOwner *filter_;
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

// An input pin: takes samples through IMemInputPin on the allocator the
// upstream pin chose (ours when it asks for one), refuses them while
// flushing, and passes quality messages upstream. Samples and stream
// notifications are the derived pin's to handle.
class InputPinBase : public PinBase, public IMemInputPin {
public:
    InputPinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name);
    ~InputPinBase() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IQualityControl: an input pin receives no quality messages.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

    // IMemInputPin, but for Receive and ReceiveCanBlock.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *properties) override;
    // Receive for each sample in turn, up to the first answer other than S_OK.
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;

    // An input pin has no preferred types: it takes what upstream offers.
    HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) override;

    // Passes a quality message upstream: to the sink set on this pin, else to
    // the upstream output pin.
    HRESULT PassNotify(Quality quality);

    // Flushing: from BeginFlush to EndFlush every sample is refused.
    void SetFlushing(bool flushing) { InterlockedExchange(&flushing_, flushing ? 1 : 0); }
    bool IsFlushing() const { return flushing_ != 0; }

    // The filter stops: decommitting the allocator releases an upstream
    // thread waiting for a buffer; a flush in progress is over.
    void Inactive();

protected:
    void BreakConnect() override;

private:
    IMemAllocator *allocator_ = nullptr;
    volatile LONG flushing_ = 0;
};

// An output pin: agrees on an allocator with the downstream input pin (the
// downstream one when it takes our buffer request, else a memory allocator of
// our own), commits it while the filter runs, and delivers samples and stream
// notifications downstream. The derived pin says which types it offers and
// takes and how many buffers of what size it needs.
class OutputPinBase : public PinBase {
public:
    OutputPinBase(PinOwner *filter, IUnknown *owner, const WCHAR *name);
    ~OutputPinBase() override;

    // IPin: an output pin receives no streaming notifications.
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }

    // Sets the allocator's properties for the pin's needs: `request` holds
    // what the downstream pin asked for.
    virtual HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;

    // State changes of the filter: commit and decommit the allocator.
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
    // Takes the downstream pin's IMemInputPin.
    HRESULT CheckConnect(IPin *peer) override;
    // Agrees on the allocator.
    HRESULT CompleteConnect(IPin *peer) override;
    void BreakConnect() override;

private:
    HRESULT DecideAllocator(IMemInputPin *downstream, IMemAllocator **allocator);

    IMemInputPin *downstreamInput_ = nullptr;
    IMemAllocator *allocator_ = nullptr;
};

}  // namespace velkorix
