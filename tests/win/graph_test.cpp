// The decoder in a real filter graph: a test source feeds a framed stream
// file as time-stamped media samples through the Velkorix Decoder into a
// test sink; or single samples probe the base's streaming rules.
//   stream STREAM_FILE OUT_PCM   run the whole file, write the PCM
//   scenarios                    the base's behaviour, sample by sample
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filter/guids.h"
#include "filter/level_adjust.h"
#include "harness.h"
#include "test_filters.h"

namespace {

using velkorix::kClsidVelkorixDecoder;
using vtest::CollectSink;
using vtest::StreamSource;
using vtest::TestSample;

constexpr REFERENCE_TIME kRecordDuration = 400000;  // 40 ms in 100 ns units
constexpr LONG kRequiredBuffer = 100000;

bool ReadStream(const char *path, std::vector<std::vector<BYTE>> *records) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    std::vector<BYTE> all;
    BYTE buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) all.insert(all.end(), buffer, buffer + n);
    std::fclose(file);
    size_t at = 0;
    while (at + 18 <= all.size()) {
        const int32_t length = static_cast<int32_t>(all[at + 14] | all[at + 15] << 8 | all[at + 16] << 16 |
                                                    static_cast<uint32_t>(all[at + 17]) << 24);
        if (length < 0 || at + 18 + static_cast<size_t>(length) > all.size()) return false;
        records->emplace_back(all.begin() + at, all.begin() + at + 18 + length);
        at += 18 + static_cast<size_t>(length);
    }
    return at == all.size();
}

// One graph: source -> Velkorix Decoder -> sink, built through the graph manager.
struct Graph {
    IGraphBuilder *builder = nullptr;
    IMediaControl *control = nullptr;
    IMediaEvent *events = nullptr;
    StreamSource *source = nullptr;
    IBaseFilter *decoder = nullptr;
    CollectSink *sink = nullptr;
    IPin *decoderIn = nullptr;
    IPin *decoderOut = nullptr;

    bool Create(std::vector<std::vector<BYTE>> records, bool streaming, bool sinkOffersAllocator) {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    reinterpret_cast<void **>(&builder))))
            return false;
        builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
        builder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events));
        source = new StreamSource(std::move(records), kRecordDuration, 8000, 1);
        source->SetStreaming(streaming);
        sink = new CollectSink(sinkOffersAllocator);
        // The decoder as any graph gets it: by class identifier, after registration.
        if (FAILED(CoCreateInstance(kClsidVelkorixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void **>(&decoder))))
            return false;
        if (FAILED(builder->AddFilter(source, L"Stream source")) ||
            FAILED(builder->AddFilter(decoder, L"Velkorix Decoder")) ||
            FAILED(builder->AddFilter(sink, L"Collecting sink")))
            return false;
        return SUCCEEDED(decoder->FindPin(L"XForm In", &decoderIn)) &&
               SUCCEEDED(decoder->FindPin(L"XForm Out", &decoderOut));
    }

    HRESULT ConnectInput(const AM_MEDIA_TYPE *type) { return builder->ConnectDirect(source->OutputPin(), decoderIn, type); }
    HRESULT ConnectOutput() { return builder->ConnectDirect(decoderOut, sink->InputPin(), nullptr); }

    ~Graph() {
        if (control) control->Stop();
        if (decoderIn) decoderIn->Release();
        if (decoderOut) decoderOut->Release();
        if (events) events->Release();
        if (control) control->Release();
        if (builder) builder->Release();  // removes and releases the filters
        if (decoder) decoder->Release();
        if (source) source->Release();
        if (sink) sink->Release();
    }
};

// The decoder's output type is its input type with the PCM subtype.
void CheckOutputType(Graph &graph) {
    AM_MEDIA_TYPE in{}, out{};
    CHECK_HR(graph.decoderIn->ConnectionMediaType(&in), S_OK);
    CHECK_HR(graph.decoderOut->ConnectionMediaType(&out), S_OK);
    CHECK(IsEqualGUID(out.majortype, velkorix::kMediaTypeAudio));
    CHECK(IsEqualGUID(out.subtype, velkorix::kSubtypePcm));
    CHECK(IsEqualGUID(out.formattype, in.formattype));
    CHECK(out.cbFormat == in.cbFormat && out.cbFormat > 0 &&
          std::memcmp(out.pbFormat, in.pbFormat, out.cbFormat) == 0);
    const AM_MEDIA_TYPE &atSink = graph.sink->InputPin()->Type();
    CHECK(IsEqualGUID(atSink.subtype, velkorix::kSubtypePcm));
    vtest::FreeType(in);
    vtest::FreeType(out);
}

LONG WaitForEvent(IMediaEvent *events, LONG wanted, DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    for (;;) {
        LONG code = 0;
        LONG_PTR first = 0, second = 0;
        const DWORD now = GetTickCount();
        const LONG left = static_cast<LONG>(until - now);
        if (left <= 0) return 0;
        if (events->GetEvent(&code, &first, &second, static_cast<LONG>(left)) != S_OK) return 0;
        events->FreeEventParams(code, first, second);
        if (code == wanted) return code;
    }
}

int RunStream(const char *streamPath, const char *outPath) {
    std::vector<std::vector<BYTE>> records;
    REQUIRE(ReadStream(streamPath, &records));
    REQUIRE(!records.empty());
    const size_t count = records.size();

    Graph graph;
    REQUIRE(graph.Create(records, true, true));
    // The output cannot connect before the input.
    CHECK(FAILED(graph.ConnectOutput()));
    CHECK_HR(graph.ConnectInput(&graph.source->OutputType()), S_OK);
    CHECK_HR(graph.ConnectOutput(), S_OK);
    CheckOutputType(graph);
    // The sink offered its allocator, and the decoder sized it.
    CHECK(graph.sink->allocatorNotified && graph.sink->offeredAllocatorUsed);
    CHECK(graph.sink->allocatorProperties.cBuffers >= 1);
    CHECK(graph.sink->allocatorProperties.cbBuffer >= kRequiredBuffer);

    CHECK(SUCCEEDED(graph.control->Run()));
    LONG code = 0;
    CHECK_HR(graph.events->WaitForCompletion(30000, &code), S_OK);
    CHECK_EQ(code, static_cast<LONG>(EC_COMPLETE));
    CHECK_HR(graph.source->StreamResult(), S_OK);

    // One output sample per record, with the record's times.
    CollectSink &sink = *graph.sink;
    CHECK_EQ(sink.samples.size(), count);
    for (size_t i = 0; i < sink.samples.size() && i < count; ++i) {
        const vtest::ReceivedSample &s = sink.samples[i];
        if (s.timeResult != S_OK || s.start != kRecordDuration * static_cast<REFERENCE_TIME>(i) ||
            s.stop != s.start + kRecordDuration || !s.syncPoint || s.discontinuity != (i == 0) ||
            s.streamId != AM_STREAM_MEDIA || s.typeAttached) {
            vtest::Fail(__FILE__, __LINE__, "output sample " + std::to_string(i) + " has wrong times or flags");
            break;
        }
    }
    CHECK_EQ(sink.endOfStreams, 1);
    CHECK_EQ(sink.segmentStarts.size(), 1u);
    if (sink.segmentStarts.size() == 1) {
        CHECK(sink.segmentStarts[0] == 0 && sink.segmentStops[0] == graph.source->Duration());
        CHECK(sink.segmentRates[0] == 1.0);
    }

    // Seeking questions go to the source.
    IMediaSeeking *seeking = nullptr;
    CHECK_HR(graph.decoderOut->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)), S_OK);
    if (seeking) {
        LONGLONG duration = 0;
        CHECK_HR(seeking->GetDuration(&duration), S_OK);
        CHECK(duration == graph.source->Duration());
        DWORD capabilities = 0, expected = 0;
        CHECK_HR(seeking->GetCapabilities(&capabilities), S_OK);
        graph.source->OutputPin()->GetCapabilities(&expected);
        CHECK_EQ(capabilities, expected);
        GUID format{};
        CHECK_HR(seeking->GetTimeFormat(&format), S_OK);
        CHECK(IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
        LONGLONG position = 0;
        CHECK_HR(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_NOTIMPL);
        seeking->Release();
    }

    // Quality messages from downstream reach the source, sent by the decoder.
    IQualityControl *quality = nullptr;
    CHECK_HR(graph.decoderOut->QueryInterface(IID_IQualityControl, reinterpret_cast<void **>(&quality)), S_OK);
    if (quality) {
        Quality q{Famine, 900, -50000, 1234567};
        CHECK_HR(quality->Notify(graph.sink, q), S_OK);
        const vtest::SourcePin &pin = *graph.source->OutputPin();
        CHECK_EQ(pin.qualityMessages, 1);
        CHECK(pin.lastQuality.Type == Famine && pin.lastQuality.Proportion == 900 &&
              pin.lastQuality.Late == -50000 && pin.lastQuality.TimeStamp == 1234567);
        CHECK(pin.lastQualitySender == graph.decoder);
        quality->Release();
    }

    // A flush goes downstream and refuses samples until it ends.
    IMemInputPin *input = nullptr;
    CHECK_HR(graph.decoderIn->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input)), S_OK);
    if (input) {
        CHECK_HR(graph.decoderIn->BeginFlush(), S_OK);
        CHECK_EQ(sink.beginFlushes, 1);
        TestSample *sample = new TestSample(records[0]);
        CHECK_HR(input->Receive(sample), S_FALSE);
        CHECK_HR(graph.decoderIn->EndFlush(), S_OK);
        CHECK_EQ(sink.endFlushes, 1);
        CHECK_HR(input->Receive(sample), S_OK);
        sample->Release();
        input->Release();
    }
    CHECK_EQ(sink.samples.size(), count + 1);

    CHECK(SUCCEEDED(graph.control->Stop()));
    FILE *out = std::fopen(outPath, "wb");
    REQUIRE(out != nullptr);
    // The PCM of the streamed records only (not the flush probe's sample).
    size_t bytes = 0;
    for (size_t i = 0; i < count && i < sink.samples.size(); ++i) bytes += sink.samples[i].bytes.size();
    REQUIRE(std::fwrite(sink.pcm.data(), 1, bytes, out) == bytes);
    std::fclose(out);
    std::printf("  %zu records, %zu bytes of PCM\n", count, bytes);
    return vtest::Finish("graph_test stream");
}

std::vector<BYTE> Format0Record() {
    std::vector<BYTE> record(18 + 120, 0);
    record[13] = 0;
    record[14] = 120;
    for (size_t i = 18; i < record.size(); ++i) record[i] = static_cast<BYTE>(i * 37);
    return record;
}

int RunScenarios() {
    const std::vector<BYTE> record = Format0Record();
    Graph graph;
    REQUIRE(graph.Create({record}, false, false));
    CollectSink &sink = *graph.sink;

    // Connection: the WAVE type only; the output offers the PCM type.
    AM_MEDIA_TYPE pcmType = vtest::WaveInputType(8000, 1);
    pcmType.subtype = velkorix::kSubtypePcm;
    CHECK_HR(graph.decoderIn->QueryAccept(&pcmType), S_FALSE);
    CHECK_HR(graph.decoderIn->QueryAccept(&graph.source->OutputType()), S_OK);
    CHECK(FAILED(graph.ConnectInput(&pcmType)));
    CHECK_HR(graph.ConnectInput(&graph.source->OutputType()), S_OK);
    IEnumMediaTypes *types = nullptr;
    CHECK_HR(graph.decoderOut->EnumMediaTypes(&types), S_OK);
    if (types) {
        AM_MEDIA_TYPE *offered[2] = {};
        ULONG fetched = 0;
        CHECK_HR(types->Next(2, offered, &fetched), S_FALSE);
        CHECK_EQ(fetched, 1ul);
        if (fetched == 1) {
            CHECK(IsEqualGUID(offered[0]->subtype, velkorix::kSubtypePcm));
            vtest::DeleteType(offered[0]);
        }
        types->Release();
    }
    CHECK_HR(graph.ConnectOutput(), S_OK);
    CheckOutputType(graph);
    // Without an allocator from the sink the decoder brings its own.
    CHECK(sink.allocatorNotified && !sink.offeredAllocatorUsed);
    CHECK(sink.allocatorProperties.cbBuffer >= kRequiredBuffer);

    IMemInputPin *input = nullptr;
    REQUIRE(SUCCEEDED(graph.decoderIn->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input))));
    auto receive = [&](TestSample *sample) {
        const HRESULT hr = input->Receive(sample);
        sample->Release();
        return hr;
    };

    // Stopped: nothing streams.
    CHECK_HR(receive(new TestSample(record)), VFW_E_WRONG_STATE);
    CHECK(SUCCEEDED(graph.control->Pause()));
    FILTER_STATE state = State_Stopped;
    CHECK_HR(graph.decoder->GetState(0, &state), S_OK);
    CHECK(state == State_Paused);
    CHECK_HR(graph.decoderIn->Disconnect(), VFW_E_NOT_STOPPED);

    // Times and flags carry over; every output is a sync point.
    {
        TestSample *sample = new TestSample(record);
        REFERENCE_TIME start = 1000, stop = 2000;
        sample->SetTime(&start, &stop);
        sample->SetPreroll(TRUE);
        sample->SetDiscontinuity(TRUE);
        sample->SetSyncPoint(FALSE);
        CHECK_HR(receive(sample), S_OK);
        REQUIRE(sink.samples.size() == 1);
        const vtest::ReceivedSample &s = sink.samples.back();
        CHECK_EQ(s.length, 640L);
        CHECK_HR(s.timeResult, S_OK);
        CHECK(s.start == 1000 && s.stop == 2000);
        CHECK(s.preroll && s.discontinuity && s.syncPoint);
    }
    // A start time alone, through a sample without IMediaSample2.
    {
        TestSample *sample = new TestSample(record);
        sample->SetAnswersProperties(false);
        REFERENCE_TIME start = 5000;
        sample->SetTime(&start, nullptr);
        sample->SetSyncPoint(TRUE);
        CHECK_HR(receive(sample), S_OK);
        REQUIRE(sink.samples.size() == 2);
        const vtest::ReceivedSample &s = sink.samples.back();
        CHECK_HR(s.timeResult, VFW_S_NO_STOP_TIME);
        CHECK(s.start == 5000);
        CHECK(!s.preroll && !s.discontinuity && s.syncPoint);
    }
    // No time at all.
    {
        CHECK_HR(receive(new TestSample(record)), S_OK);
        REQUIRE(sink.samples.size() == 3);
        CHECK_HR(sink.samples.back().timeResult, VFW_E_SAMPLE_TIME_NOT_SET);
    }
    // A sample of another stream passes untouched: the very same sample.
    {
        const std::vector<BYTE> control = {'c', 'o', 'n', 't', 'r', 'o', 'l'};
        TestSample *sample = new TestSample(control);
        sample->SetStreamId(AM_STREAM_CONTROL);
        sample->AddRef();
        CHECK_HR(receive(sample), S_OK);
        REQUIRE(sink.samples.size() == 4);
        const vtest::ReceivedSample &s = sink.samples.back();
        CHECK(s.identity == sample);
        CHECK(s.bytes == control);
        CHECK_EQ(s.streamId, static_cast<DWORD>(AM_STREAM_CONTROL));
        sample->Release();
    }
    // A new input type announced on a sample is adopted.
    {
        TestSample *sample = new TestSample(record);
        AM_MEDIA_TYPE type = vtest::WaveInputType(16000, 1);
        sample->SetMediaType(&type);
        vtest::FreeType(type);
        CHECK_HR(receive(sample), S_OK);
        CHECK_EQ(sink.samples.size(), 5u);
        AM_MEDIA_TYPE now{};
        CHECK_HR(graph.decoderIn->ConnectionMediaType(&now), S_OK);
        CHECK(now.cbFormat >= sizeof(WAVEFORMATEX) &&
              reinterpret_cast<WAVEFORMATEX *>(now.pbFormat)->nSamplesPerSec == 16000);
        vtest::FreeType(now);
    }
    // ... and a type the decoder does not take ends the stream with an error.
    {
        TestSample *sample = new TestSample(record);
        sample->SetMediaType(&pcmType);
        CHECK_HR(receive(sample), VFW_E_INVALIDMEDIATYPE);
        CHECK_EQ(sink.samples.size(), 5u);
        CHECK_EQ(WaitForEvent(graph.events, EC_ERRORABORT, 2000), static_cast<LONG>(EC_ERRORABORT));
    }
    // Several samples at once.
    {
        IMediaSample *samples[2] = {new TestSample(record), new TestSample(record)};
        LONG processed = 0;
        CHECK_HR(input->ReceiveMultiple(samples, 2, &processed), S_OK);
        CHECK_EQ(processed, 2L);
        samples[0]->Release();
        samples[1]->Release();
        CHECK_EQ(sink.samples.size(), 7u);
    }
    CHECK_HR(input->ReceiveCanBlock(), S_FALSE);  // as the sink answers

    // A level change makes the next output sample carry the input type.
    {
        ILevelAdjust *level = nullptr;
        CHECK_HR(graph.decoder->QueryInterface(velkorix::kIidLevelAdjust, reinterpret_cast<void **>(&level)), S_OK);
        if (level) {
            CHECK_HR(level->SetLevel(5, 0), S_OK);
            CHECK_HR(receive(new TestSample(record)), S_OK);
            CHECK_HR(receive(new TestSample(record)), S_OK);
            REQUIRE(sink.samples.size() == 9);
            const vtest::ReceivedSample &changed = sink.samples[7];
            CHECK(changed.typeAttached && IsEqualGUID(changed.type.subtype, velkorix::kSubtypeWave));
            CHECK(!sink.samples[8].typeAttached);
            level->Release();
        }
    }

    // Segments, flushes and the end of the stream go downstream.
    CHECK_HR(graph.decoderIn->NewSegment(1000, 5000, 1.5), S_OK);
    CHECK(sink.segmentStarts.size() == 1 && sink.segmentStarts[0] == 1000 && sink.segmentStops[0] == 5000 &&
          sink.segmentRates[0] == 1.5);
    CHECK_HR(graph.decoderIn->BeginFlush(), S_OK);
    CHECK_HR(receive(new TestSample(record)), S_FALSE);
    CHECK_HR(graph.decoderIn->EndFlush(), S_OK);
    CHECK(sink.beginFlushes == 1 && sink.endFlushes == 1);
    CHECK_HR(receive(new TestSample(record)), S_OK);
    CHECK_HR(graph.decoderIn->EndOfStream(), S_OK);
    CHECK_EQ(sink.endOfStreams, 1);

    // Running, the sink reports the completion it saw.
    CHECK(SUCCEEDED(graph.control->Run()));
    LONG code = 0;
    CHECK_HR(graph.events->WaitForCompletion(10000, &code), S_OK);
    CHECK_EQ(code, static_cast<LONG>(EC_COMPLETE));

    CHECK(SUCCEEDED(graph.control->Stop()));
    CHECK_HR(graph.decoder->GetState(0, &state), S_OK);
    CHECK(state == State_Stopped);
    CHECK_HR(receive(new TestSample(record)), VFW_E_WRONG_STATE);
    // Stopped, the pins may be disconnected.
    CHECK_HR(graph.builder->Disconnect(graph.decoderOut), S_OK);
    CHECK_HR(graph.builder->Disconnect(graph.sink->InputPin()), S_OK);
    CHECK_HR(graph.decoderOut->Disconnect(), S_FALSE);
    input->Release();
    vtest::FreeType(pcmType);
    return vtest::Finish("scenarios");
}

}  // namespace

VTEST_COMMAND(StreamCommand, "stream", "stream STREAM_FILE OUT_PCM") {
    if (argc != 3) {
        std::printf("usage: stream STREAM_FILE OUT_PCM\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = RunStream(argv[1], argv[2]);
    CoUninitialize();
    return status;
}

VTEST_COMMAND(ScenariosCommand, "scenarios", "scenarios") {
    (void)argc;
    (void)argv;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = RunScenarios();
    CoUninitialize();
    return status;
}
