#include "platform/sample_path.h"

#include "platform/media_type.h"

namespace velkorix {

SampleProperties::~SampleProperties() {
    if (ownsType) DeleteMediaType(type);
}

void ReadSampleProperties(IMediaSample *sample, SampleProperties *properties) {
    SampleProperties &p = *properties;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timeResult = sample->GetTime(&start, &stop);
    if (SUCCEEDED(timeResult)) {
        p.hasStart = true;
        p.start = start;
        // VFW_S_NO_STOP_TIME: a start time alone.
        if (timeResult == S_OK) {
            p.hasStop = true;
            p.stop = stop;
        }
    }
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        p.hasMediaTime = true;
        p.mediaStart = mediaStart;
        p.mediaStop = mediaStop;
    }
    p.syncPoint = sample->IsSyncPoint() == S_OK;
    p.preroll = sample->IsPreroll() == S_OK;
    p.discontinuity = sample->IsDiscontinuity() == S_OK;
    AM_MEDIA_TYPE *type = nullptr;
    if (sample->GetMediaType(&type) == S_OK && type) {
        p.type = type;
        p.ownsType = true;
    }
}

DWORD OutputBufferFlags(const SampleProperties &input, bool previousSkipped) {
    DWORD flags = 0;
    if (!input.syncPoint) flags |= AM_GBF_NOTASYNCPOINT;
    if (previousSkipped) flags |= AM_GBF_PREVFRAMESKIPPED;
    return flags;
}

void CopyToOutputSample(const SampleProperties &input, bool previousSkipped, IMediaSample *output) {
    if (input.hasStart) {
        REFERENCE_TIME start = input.start, stop = input.stop;
        output->SetTime(&start, input.hasStop ? &stop : nullptr);
    }
    output->SetSyncPoint(input.syncPoint ? TRUE : FALSE);
    output->SetDiscontinuity(input.discontinuity || previousSkipped ? TRUE : FALSE);
    output->SetPreroll(input.preroll ? TRUE : FALSE);
    if (input.hasMediaTime) {
        LONGLONG start = input.mediaStart, stop = input.mediaStop;
        output->SetMediaTime(&start, &stop);
    }
}

HRESULT TransformSamplePath::Receive(IMediaSample *sample, SamplePathHost &host) {
    SampleProperties properties;
    host.ReadProperties(sample, &properties);

    // A new type announced on the sample replaces the input connection type.
    if (properties.type) {
        if (host.CheckInputType(properties.type) != S_OK) {
            host.AbortStream(VFW_E_INVALIDMEDIATYPE);
            return VFW_E_INVALIDMEDIATYPE;
        }
        const HRESULT hr = host.SetInputConnectionType(properties.type);
        if (FAILED(hr)) return hr;
    }
    if (!host.IsOutputConnected()) return VFW_E_NOT_CONNECTED;

    // Samples of another stream than the media stream pass untouched.
    if (properties.streamId != AM_STREAM_MEDIA) return host.Deliver(sample);

    const bool previousSkipped = SampleSkipped();
    REFERENCE_TIME start = properties.start, stop = properties.stop;
    IMediaSample *output = nullptr;
    HRESULT hr = host.GetDeliveryBuffer(&output, properties.hasStart ? &start : nullptr,
                                        properties.hasStop ? &stop : nullptr,
                                        OutputBufferFlags(properties, previousSkipped));
    if (FAILED(hr)) return hr;
    if (!output) return E_UNEXPECTED;
    CopyToOutputSample(properties, previousSkipped, output);
    host.CompleteOutputSample(properties, output);

    hr = host.Transform(sample, output);
    if (hr == S_OK) {
        hr = host.Deliver(output);
        sampleSkipped_.store(false, std::memory_order_relaxed);
    } else if (hr == S_FALSE) {
        // The filter declined the sample: nothing goes downstream, and the
        // next sample that does says that something is missing before it.
        sampleSkipped_.store(true, std::memory_order_relaxed);
        hr = S_OK;
    }
    output->Release();
    return hr;
}

}  // namespace velkorix
