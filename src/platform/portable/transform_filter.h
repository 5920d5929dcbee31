// The transform-filter base of the portable stand-in: one input pin
// ("XForm In") and one output pin ("XForm Out"), connection by media type,
// allocator negotiation through DecideBufferSize, and the per-sample path
// that the Windows base runs too (platform/sample_path.h: prepare an output
// sample, Transform, deliver or skip). Derived filters override the hooks
// exactly as on the platform.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/com_base.h"
#include "platform/sample_path.h"
#include "media_sample.h"
#include "platform.h"

namespace velkorix {

// The downstream input pin that the output pin delivers to.
class DownstreamPin {
public:
    virtual ~DownstreamPin() = default;
    virtual HRESULT Receive(IMediaSample *sample) = 0;
    virtual HRESULT EndOfStream() { return S_OK; }
    virtual HRESULT BeginFlush() { return S_OK; }
    virtual HRESULT EndFlush() { return S_OK; }
    virtual HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
};

enum class FilterState { Stopped, Paused, Running };

class TransformFilterBase : public UnknownBase, private SamplePathHost {
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
    bool IsInputConnected() const { return inputConnected_; }
    const AM_MEDIA_TYPE *InputConnectionType() const { return &inputType_; }
    HRESULT SetInputConnectionType(const AM_MEDIA_TYPE *type) override;
    const CLSID &ClassId() const { return clsid_; }
    static const char *InputPinName() { return "XForm In"; }
    static const char *OutputPinName() { return "XForm Out"; }

    // ---- Graph-side operations of the stand-in ----
    HRESULT ConnectInput(const AM_MEDIA_TYPE *type);
    HRESULT QueryAcceptInput(const AM_MEDIA_TYPE *type) { return CheckInputType(type); }
    // Connects the output pin: with `proposed` the downstream pin's type is
    // checked with CheckTransform, else the filter's own types are tried in order.
    HRESULT ConnectOutput(DownstreamPin *downstream, const AM_MEDIA_TYPE *proposed = nullptr);
    void DisconnectInput();
    void DisconnectOutput();
    bool IsOutputConnected() const override { return downstream_ != nullptr; }
    const AM_MEDIA_TYPE *OutputConnectionType() const { return &outputType_; }
    ALLOCATOR_PROPERTIES OutputAllocatorProperties() const { return allocatorProps_; }

    HRESULT Stop();
    HRESULT Pause();
    HRESULT Run();
    FilterState State() const { return state_; }

    // The input pin's streaming entry points.
    HRESULT Receive(IMediaSample *sample);
    HRESULT EndOfStream();
    HRESULT BeginFlush();
    HRESULT EndFlush();
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

private:
    // The sample path's view of the base.
    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                              DWORD flags) override;
    HRESULT Deliver(IMediaSample *sample) override { return downstream_->Receive(sample); }
    void ReadProperties(IMediaSample *sample, SampleProperties *properties) override;

    CLSID clsid_;
    std::recursive_mutex filterLock_;
    std::mutex receiveLock_;
    std::atomic<FilterState> state_{FilterState::Stopped};
    std::atomic<bool> flushing_{false};
    TransformSamplePath samplePath_;

    bool inputConnected_ = false;
    AM_MEDIA_TYPE inputType_{};
    DownstreamPin *downstream_ = nullptr;
    AM_MEDIA_TYPE outputType_{};
    MemAllocator *allocator_ = nullptr;
    ALLOCATOR_PROPERTIES allocatorProps_{};
};

}  // namespace velkorix
