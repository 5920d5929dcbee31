#include "runner/filter_runner.h"

#include <climits>
#include <cstring>

#include "filter/guids.h"

namespace velkorix::runner {

class FilterRunner::Sink : public DownstreamPin {
public:
    explicit Sink(OutputHandler handler) : handler_(std::move(handler)) {}
    HRESULT Receive(IMediaSample *sample) override {
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        if (data && length > 0) handler_(data, static_cast<std::size_t>(length));
        return S_OK;
    }

private:
    OutputHandler handler_;
};

void BuildWaveFormat(uint8_t (&block)[18], int rate, int channels) {
    auto put16 = [&](int at, uint32_t v) {
        block[at] = static_cast<uint8_t>(v);
        block[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](int at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    std::memset(block, 0, sizeof(block));
    put16(0, 1);  // PCM
    put16(2, static_cast<uint32_t>(channels));
    put32(4, static_cast<uint32_t>(rate));
    put32(8, static_cast<uint32_t>(rate * channels * 2));
    put16(12, static_cast<uint32_t>(channels * 2));
    put16(14, 16);
}

FilterRunner::FilterRunner(int rate, int channels, OutputHandler onOutput)
    : sink_(std::make_unique<Sink>(std::move(onOutput))) {
    HRESULT created = S_OK;
    UnknownBase *object = AudioDecoderFilter::Create(nullptr, &created);
    if (!object) {
        status_ = created;
        return;
    }
    object->NonDelegatingAddRef();
    filter_ = static_cast<AudioDecoderFilter *>(object);

    uint8_t format[18];
    BuildWaveFormat(format, rate, channels);
    AM_MEDIA_TYPE type{};
    type.majortype = kMediaTypeAudio;
    type.subtype = kSubtypeWave;
    type.bFixedSizeSamples = FALSE;
    type.formattype = kFormatWaveFormatEx;
    type.cbFormat = sizeof(format);
    type.pbFormat = format;
    status_ = filter_->ConnectInput(&type);
    if (SUCCEEDED(status_)) status_ = filter_->ConnectOutput(sink_.get());
    if (SUCCEEDED(status_)) status_ = filter_->Run();
}

FilterRunner::~FilterRunner() {
    if (input_) input_->Release();
    if (filter_) {
        filter_->Stop();
        filter_->NonDelegatingRelease();
    }
}

HRESULT FilterRunner::Feed(const uint8_t *record, std::size_t size) {
    if (FAILED(status_)) return status_;
    const LONG length = size > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<LONG>(size);
    BYTE *data = const_cast<BYTE *>(record);
    if (input_) {
        // Reuse the sample unless the filter or a downstream pin kept a
        // reference to it; then leave it to them and wrap a new one.
        if (input_->Unshared()) {
            input_->Rewrap(data, length);
        } else {
            input_->Release();
            input_ = nullptr;
        }
    }
    if (!input_) input_ = MediaSample::Wrap(data, length);
    return filter_->Receive(input_);
}

}  // namespace velkorix::runner
