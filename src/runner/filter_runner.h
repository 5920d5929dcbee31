// Drives one decoding filter instance the way a graph does: the input pin is
// connected with the WAVE type and a WAVEFORMATEX block for the given rate and
// channel count, the output pin to a sink, and each record is received as one
// input sample on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "filter/audio_decoder_filter.h"

namespace velkorix::runner {

class FilterRunner {
public:
    using OutputHandler = std::function<void(const uint8_t *data, std::size_t size)>;

    FilterRunner(int rate, int channels, OutputHandler onOutput);
    ~FilterRunner();

    // HRESULT of setting the graph up; S_OK when the filter is ready.
    HRESULT Status() const { return status_; }
    // Feeds one record (header and payload) as an input sample. The record
    // is not copied, and no memory is allocated per record.
    HRESULT Feed(const uint8_t *record, std::size_t size);
    AudioDecoderFilter &Filter() { return *filter_; }

private:
    class Sink;
    AudioDecoderFilter *filter_ = nullptr;
    std::unique_ptr<Sink> sink_;
    MediaSample *input_ = nullptr;  // reused for every record while only the runner holds it
    HRESULT status_ = E_FAIL;
};

// A WAVEFORMATEX block (18 bytes) for 16-bit PCM.
void BuildWaveFormat(uint8_t (&block)[18], int rate, int channels);

}  // namespace velkorix::runner
