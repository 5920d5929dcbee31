// Test filters for graphs around the decoder under wine, written for the
// tests alone (small, plain reference counts, no aggregation):
// - StreamSource: one output pin that streams framed records as media
//   samples with time stamps from its own thread, or hands the test single
//   samples to push; answers seeking queries and records quality messages.
// - CollectSink: one input pin that keeps everything that arrives (PCM bytes,
//   sample properties, flushes, segments, end of stream) and reports
//   EC_COMPLETE to the graph like a renderer.
// - TestSample: an IMediaSample2 whose every property the test sets.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

namespace vtest {

// Media type helpers of the tests.
void FreeType(AM_MEDIA_TYPE &type);
HRESULT CopyType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);
void DeleteType(AM_MEDIA_TYPE *type);
// The input type of the decoder: audio, WAVE subtype, a 16-bit PCM
// WAVEFORMATEX block for `rate` and `channels` (the caller frees it).
AM_MEDIA_TYPE WaveInputType(int rate, int channels);

class TestSample final : public IMediaSample2 {
public:
    // Starts with one reference; owns a copy of `data`.
    explicit TestSample(const std::vector<BYTE> &data);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE **buffer) override;
    LONG STDMETHODCALLTYPE GetSize() override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override;
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override;
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override;
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **type) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override;
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *start, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *start, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE *properties) override;
    HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE *properties) override;

    void SetStreamId(DWORD id) { properties_.dwStreamId = id; }
    // Whether GetProperties answers (else callers use IMediaSample alone).
    void SetAnswersProperties(bool value) { answersProperties_ = value; }

private:
    ~TestSample();
    void SetFlag(DWORD flag, BOOL value);

    LONG references_ = 1;
    std::vector<BYTE> data_;
    AM_SAMPLE2_PROPERTIES properties_{};
    AM_MEDIA_TYPE *type_ = nullptr;
    bool mediaTimeValid_ = false;
    LONGLONG mediaStart_ = 0, mediaStop_ = 0;
    bool answersProperties_ = true;
};

class FilterCore;

// What both test pins share.
class PinCore : public IPin {
public:
    PinCore(FilterCore *filter, const wchar_t *name, PIN_DIRECTION direction);
    virtual ~PinCore();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override;

    IPin *Peer() const { return peer_; }
    const AM_MEDIA_TYPE &Type() const { return type_; }

protected:
    // Interfaces beyond IPin that the pin answers.
    virtual void *Extra(REFIID iid) = 0;
    virtual void OnDisconnect() {}

    FilterCore *filter_;
    std::wstring name_;
    PIN_DIRECTION direction_;
    IPin *peer_ = nullptr;
    AM_MEDIA_TYPE type_{};
};

// What both test filters share: IBaseFilter over one pin.
class FilterCore : public IBaseFilter {
public:
    FilterCore(const CLSID &clsid, PinCore *pin);
    virtual ~FilterCore();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;

    FILTER_STATE State() const { return state_; }
    PinCore *Pin() const { return pin_; }
    // Sends an event to the graph (when in one).
    HRESULT Notify(LONG code, LONG_PTR first, LONG_PTR second);

protected:
    virtual void *Extra(REFIID) { return nullptr; }
    virtual HRESULT OnPause(FILTER_STATE from) = 0;
    virtual HRESULT OnRun() = 0;
    virtual HRESULT OnStop() = 0;

    CRITICAL_SECTION lock_;
    volatile FILTER_STATE state_ = State_Stopped;

private:
    LONG references_ = 1;
    CLSID clsid_;
    PinCore *pin_;
    IReferenceClock *clock_ = nullptr;
    IFilterGraph *graph_ = nullptr;
    IMediaEventSink *events_ = nullptr;
    std::wstring name_;
};

class StreamSource;

class SourcePin final : public PinCore, public IMediaSeeking, public IQualityControl {
public:
    explicit SourcePin(StreamSource *source);
    ~SourcePin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return PinCore::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return PinCore::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return PinCore::Release(); }

    HRESULT STDMETHODCALLTYPE Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }

    // IMediaSeeking: the stream's duration and times; no actual seeking.
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
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *, DWORD, LONGLONG *, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *current, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override;

    // IQualityControl: messages from downstream are recorded.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *) override { return S_OK; }

    IMemInputPin *Input() const { return input_; }
    IMemAllocator *Allocator() const { return allocator_; }

    int qualityMessages = 0;
    Quality lastQuality{};
    IBaseFilter *lastQualitySender = nullptr;

protected:
    void *Extra(REFIID iid) override;
    void OnDisconnect() override;

private:
    StreamSource *source_;
    IMemInputPin *input_ = nullptr;
    IMemAllocator *allocator_ = nullptr;
};

class StreamSource final : public FilterCore {
public:
    // Records: whole input samples (header and payload); each lasts
    // `recordDuration` in 100 ns units. The output type is WaveInputType.
    StreamSource(std::vector<std::vector<BYTE>> records, REFERENCE_TIME recordDuration, int rate, int channels);
    ~StreamSource() override;

    // With streaming off the source sends nothing by itself: the test pushes.
    void SetStreaming(bool value) { streaming_ = value; }
    const AM_MEDIA_TYPE &OutputType() const { return outputType_; }
    REFERENCE_TIME Duration() const;
    SourcePin *OutputPin() { return &pin_; }

    // Result of the last Receive that ended streaming early (S_OK otherwise).
    HRESULT StreamResult() const { return streamResult_; }
    int Delivered() const { return delivered_; }

protected:
    HRESULT OnPause(FILTER_STATE from) override;
    HRESULT OnRun() override;
    HRESULT OnStop() override;

private:
    friend class SourcePin;
    static DWORD WINAPI ThreadMain(void *self);
    void Stream();

    SourcePin pin_;
    std::vector<std::vector<BYTE>> records_;
    REFERENCE_TIME recordDuration_;
    AM_MEDIA_TYPE outputType_;
    bool streaming_ = true;
    HANDLE thread_ = nullptr;
    volatile LONG stopRequested_ = 0;
    HRESULT streamResult_ = S_OK;
    volatile LONG delivered_ = 0;
};

struct ReceivedSample {
    IMediaSample *identity = nullptr;  // not referenced: for comparison only
    LONG length = 0;
    std::vector<BYTE> bytes;
    HRESULT timeResult = S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    bool syncPoint = false, discontinuity = false, preroll = false;
    bool typeAttached = false;
    AM_MEDIA_TYPE type{};  // a copy when attached
    DWORD streamId = AM_STREAM_MEDIA;
    DWORD typeSpecificFlags = 0;
};

class CollectSink;

class SinkPin final : public PinCore, public IMemInputPin {
public:
    explicit SinkPin(CollectSink *sink);
    ~SinkPin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return PinCore::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return PinCore::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return PinCore::Release(); }

    HRESULT STDMETHODCALLTYPE Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

protected:
    void *Extra(REFIID iid) override;
    void OnDisconnect() override;

private:
    CollectSink *sink_;
};

class CollectSink final : public FilterCore, public IAMFilterMiscFlags {
public:
    // With `offerAllocator` the pin offers an allocator of its own; without
    // it the upstream pin must bring one.
    explicit CollectSink(bool offerAllocator);
    ~CollectSink() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return FilterCore::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FilterCore::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FilterCore::Release(); }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    SinkPin *InputPin() { return &pin_; }

    // What arrived (read after streaming has ended).
    std::vector<ReceivedSample> samples;
    std::vector<BYTE> pcm;  // media-stream bytes, in order
    int endOfStreams = 0, beginFlushes = 0, endFlushes = 0;
    std::vector<REFERENCE_TIME> segmentStarts, segmentStops;
    std::vector<double> segmentRates;
    ALLOCATOR_PROPERTIES allocatorProperties{};
    // Set before connecting: the pin takes PCM only (audio, PCM subtype), so
    // that intelligent connect must put a decoder in front of it.
    bool pcmOnly = false;
    bool allocatorNotified = false;
    bool offeredAllocatorUsed = false;

protected:
    void *Extra(REFIID iid) override;
    HRESULT OnPause(FILTER_STATE from) override;
    HRESULT OnRun() override;
    HRESULT OnStop() override;

private:
    friend class SinkPin;
    void EndOfStreamArrived();

    SinkPin pin_;
    bool offerAllocator_;
    IMemAllocator *offered_ = nullptr;
    IMemAllocator *allocator_ = nullptr;
    bool completionPending_ = false;
    bool completed_ = false;
};

}  // namespace vtest
