// "Velkorix Stream Source": a DirectShow source filter for framed stream
// files. IFileSourceFilter::Load indexes the file (headers only); one output
// pin "Output" offers the type the Velkorix Decoder takes (audio, WAVE
// subtype, a 16-bit PCM WAVEFORMATEX block: 8000 Hz mono unless the type
// given to Load says otherwise) and delivers one sample per record from a
// streaming thread of its own, time-stamped with the time of the record's
// output in the whole decode. The pin seeks (IMediaSeeking, reference time):
// a seek lands on a record boundary and delivers the records before it as
// preroll, so that the decoder's state is exact where rendering resumes.
// Which records go out, with which stamps and flags, and how a run ends is
// the portable RecordPump's (source/record_pump.h); this file is the COM
// and threading around it.
#pragma once

#include <string>

#include "file_byte_source.h"
#include "filter_base.h"
#include "pins.h"
#include "platform.h"
#include "source/record_pump.h"

namespace velkorix {

class StreamSourceFilter;

class StreamSourcePin final : public OutputPinBase, public IMediaSeeking {
public:
    StreamSourcePin(StreamSourceFilter *filter, IUnknown *owner);
    ~StreamSourcePin() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IQualityControl: a file is read as fast as it is asked for; the source
    // cannot act on quality messages.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

    HRESULT GetMediaTypeAt(int position, AM_MEDIA_TYPE *type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    // As many buffers as asked (at least 4) of the largest sample's size.
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

    // IMediaSeeking, in reference time (TIME_FORMAT_MEDIA_TIME) only.
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
    // Positions land on record boundaries: the current position becomes the
    // start of the record it falls in; AM_SEEKING_ReturnTime hands back the
    // positions taken. While the filter streams, a new current position
    // flushes downstream and restarts the run from there; a new stop
    // position is taken by the run under way.
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *current, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override;

    // The filter leaves the stopped state: commit the allocator, start the
    // streaming thread. Under the filter lock.
    HRESULT StartStreaming();
    // The filter stops: end the thread (a thread waiting for a buffer is
    // released by the decommit). Under the filter lock.
    void StopStreaming();
    // A file was loaded: positions from its start to its end.
    void ResetPositions();

protected:
    // Nothing to offer before a file is loaded.
    HRESULT CheckConnect(IPin *peer) override;

private:
    static DWORD WINAPI ThreadMain(void *self);
    void Stream();
    HRESULT StartThread();
    void EndThread();
    HRESULT Seek(LONGLONG current, bool moveCurrent);

    StreamSourceFilter *source_;
    HANDLE thread_ = nullptr;
    HANDLE started_ = nullptr;  // set by the thread once it runs
    volatile LONG stopRequested_ = 0;
    // Guards the positions; the streaming thread reads them.
    CRITICAL_SECTION positionLock_;
    LONGLONG current_ = 0;
    LONGLONG stop_ = 0;
};

class StreamSourceFilter final : public FilterBase, public IFileSourceFilter {
public:
    // Creation function of the class table.
    static UnknownBase *Create(IUnknown *outer, HRESULT *result);
    ~StreamSourceFilter() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IFileSourceFilter. Load indexes the file: a file without a complete
    // record fails with VFW_E_INVALID_FILE_FORMAT, one whose index would not
    // fit with E_OUTOFMEMORY, one that cannot be opened or read with the
    // platform's error. A type with a 16-bit PCM WAVEFORMATEX block sets the
    // rate and channel count (anything else: 8000 Hz mono). Only while
    // stopped and unconnected.
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *type) override;

    PinBase *PinAt(int position) override;

    // The output type: audio, WAVE subtype, the PCM format block.
    HRESULT OutputType(AM_MEDIA_TYPE *type) const;
    bool IsLoaded() const { return pump_.Loaded(); }
    const source::RecordPump &Pump() const { return pump_; }
    FileByteSource &File() { return file_; }
    // Sends an event to the graph (for the streaming thread).
    HRESULT Notify(LONG code, LONG_PTR first, LONG_PTR second) { return NotifyEvent(code, first, second); }

protected:
    HRESULT OnActivate() override;
    void OnStop() override;

private:
    explicit StreamSourceFilter(IUnknown *outer);

    source::RecordPump pump_;
    FileByteSource file_;
    std::wstring fileName_;
    // The pin lives inside the filter and counts its references on it.
    StreamSourcePin pin_;
};

}  // namespace velkorix
