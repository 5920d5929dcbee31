// The per-sample path of a transform filter, one for both platforms: what an
// input sample says about itself, how the output sample inherits it, and what
// becomes of a sample by the answer of the filter's Transform. The Windows
// base and the portable stand-in both run their samples through it; only how
// a sample is read and where an output buffer comes from differ, and those
// each base supplies as a SamplePathHost.
#pragma once

#include <atomic>

#include "platform.h"

namespace velkorix {

// What an input sample says about itself, read once as it arrives.
struct SampleProperties {
    SampleProperties() = default;
    ~SampleProperties();
    SampleProperties(const SampleProperties &) = delete;
    SampleProperties &operator=(const SampleProperties &) = delete;

    bool hasStart = false;  // the sample has a start time
    bool hasStop = false;   // ... and a stop time (never without a start)
    REFERENCE_TIME start = 0, stop = 0;
    bool hasMediaTime = false;
    LONGLONG mediaStart = 0, mediaStop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
    bool preroll = false;
    // A media type announced on the sample (the stream changes type from this
    // sample on), or null. Freed with the properties when `ownsType` says the
    // reader made a copy; otherwise it belongs to the sample.
    AM_MEDIA_TYPE *type = nullptr;
    bool ownsType = false;
    // The stream the sample belongs to: only AM_STREAM_MEDIA samples are
    // transformed.
    DWORD streamId = AM_STREAM_MEDIA;
    // Flags whose meaning the media type defines; carried over unread where
    // the platform's samples have them.
    DWORD typeSpecificFlags = 0;
};

// Reads a sample's properties through IMediaSample, one call each. The
// announced type is a copy; the stream is taken to be the media stream.
void ReadSampleProperties(IMediaSample *sample, SampleProperties *properties);

// The allocator flags for the output buffer of a sample: AM_GBF_NOTASYNCPOINT
// when the input is no sync point, AM_GBF_PREVFRAMESKIPPED after a skipped
// sample.
DWORD OutputBufferFlags(const SampleProperties &input, bool previousSkipped);

// Gives the output sample what it inherits from its input: the times (start
// alone when the input has no stop), the media times, the sync point, preroll
// and discontinuity flags, each set or cleared. After a skipped sample the
// output is a discontinuity whatever the input says.
void CopyToOutputSample(const SampleProperties &input, bool previousSkipped, IMediaSample *output);

// What the sample path needs of the filter base it runs in. The first three
// are the derived filter's own hooks.
class SamplePathHost {
public:
    // S_OK when the filter takes `type` as its input type.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE *type) = 0;
    // Makes `type` the input pin's connection type.
    virtual HRESULT SetInputConnectionType(const AM_MEDIA_TYPE *type) = 0;
    // The filter's work on one sample: S_OK delivers the output, S_FALSE
    // declines it, a failure is handed back upstream.
    virtual HRESULT Transform(IMediaSample *input, IMediaSample *output) = 0;

    virtual bool IsOutputConnected() const = 0;
    // An empty output sample (one reference) from the output pin's allocator.
    virtual HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                      DWORD flags) = 0;
    // Hands a sample to the downstream input pin.
    virtual HRESULT Deliver(IMediaSample *sample) = 0;

    // How the base reads an input sample; by default one call a property.
    virtual void ReadProperties(IMediaSample *sample, SampleProperties *properties) {
        ReadSampleProperties(sample, properties);
    }
    // What the platform's samples carry beyond IMediaSample, set on the
    // output sample after CopyToOutputSample.
    virtual void CompleteOutputSample(const SampleProperties &, IMediaSample *) {}
    // The stream cannot go on (a type announced on a sample was refused):
    // tells the graph, where there is one.
    virtual void AbortStream(HRESULT) {}

protected:
    ~SamplePathHost() = default;
};

// The sample path of one filter. It remembers whether the filter declined the
// last sample, so that the next output marks the gap.
class TransformSamplePath {
public:
    // Takes one input sample through the filter, in order:
    // 1. a media type announced on the sample is checked with CheckInputType
    //    and becomes the input connection type; a refused one aborts the
    //    stream (VFW_E_INVALIDMEDIATYPE) before anything is delivered;
    // 2. without a connected output: VFW_E_NOT_CONNECTED;
    // 3. a sample of another stream than the media stream is delivered as it
    //    is, without Transform;
    // 4. an output sample is taken from the allocator and given the input's
    //    times and flags;
    // 5. Transform: on S_OK the output is delivered and the result is the
    //    delivery's; on S_FALSE it is dropped, the result is S_OK and the next
    //    output sample is a discontinuity; a failure is the result.
    // Called under the filter's receive lock, once the base has found the
    // filter streaming.
    HRESULT Receive(IMediaSample *sample, SamplePathHost &host);

    // A new stream begins (the filter leaves the stopped state, or a flush
    // ends): whatever was skipped before does not mark the next sample.
    void Restart() { sampleSkipped_.store(false, std::memory_order_relaxed); }
    bool SampleSkipped() const { return sampleSkipped_.load(std::memory_order_relaxed); }

private:
    // Written on the streaming thread and by Restart, which a state change may
    // call while a sample is still under way: atomic, ordered by nothing else.
    std::atomic<bool> sampleSkipped_{false};
};

}  // namespace velkorix
