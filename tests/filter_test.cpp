// The decoding filter on the portable platform: media types, buffer request,
// the per-sample decode and level steps, and the codec context's life.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "common/aligned.h"
#include "filter/audio_decoder_filter.h"
#include "filter/guids.h"
#include "g726_stream/g726_stream.h"
#include "platform/media_type.h"
#include "test_support.h"

namespace {

using namespace velkorix::g726_stream;

using namespace velkorix;
using velkorix::test::DebugCapture;

// Downstream pin that keeps a copy of everything delivered.
struct Collected {
    std::vector<uint8_t> data;
    bool hasTime = false;
    REFERENCE_TIME start = 0, stop = 0;
    bool sync = false, discontinuity = false;
    AM_MEDIA_TYPE *type = nullptr;
};

class CollectingPin : public DownstreamPin {
public:
    ~CollectingPin() override {
        for (auto &c : samples) DeleteMediaType(c.type);
    }
    HRESULT Receive(IMediaSample *sample) override {
        Collected c;
        BYTE *p = nullptr;
        sample->GetPointer(&p);
        c.data.assign(p, p + sample->GetActualDataLength());
        c.hasTime = sample->GetTime(&c.start, &c.stop) == S_OK;
        c.sync = sample->IsSyncPoint() == S_OK;
        c.discontinuity = sample->IsDiscontinuity() == S_OK;
        sample->GetMediaType(&c.type);
        samples.push_back(std::move(c));
        return S_OK;
    }
    std::vector<Collected> samples;
};

std::vector<uint8_t> Record(uint8_t format, const std::vector<uint8_t> &payload, int32_t declared) {
    std::vector<uint8_t> r(18, 0);
    r[13] = format;
    std::memcpy(r.data() + 14, &declared, 4);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}
std::vector<uint8_t> Record(uint8_t format, const std::vector<uint8_t> &payload) {
    return Record(format, payload, static_cast<int32_t>(payload.size()));
}

std::vector<uint8_t> Noise(std::size_t n, uint32_t seed) {
    velkorix::test::Lcg rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng.Next() >> 24);
    return v;
}

AM_MEDIA_TYPE WaveType(std::vector<uint8_t> &format) {
    AM_MEDIA_TYPE t{};
    t.majortype = kMediaTypeAudio;
    t.subtype = kSubtypeWave;
    t.formattype = kFormatWaveFormatEx;
    t.cbFormat = static_cast<ULONG>(format.size());
    t.pbFormat = format.data();
    return t;
}

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = S_OK;
        UnknownBase *object = AudioDecoderFilter::Create(nullptr, &hr);
        ASSERT_NE(object, nullptr);
        object->NonDelegatingAddRef();
        filter = static_cast<AudioDecoderFilter *>(object);
    }
    void TearDown() override {
        if (filter) filter->NonDelegatingRelease();
    }
    void Connect() {
        format.assign(18, 0);
        format[0] = 1;
        format[2] = 1;
        AM_MEDIA_TYPE t = WaveType(format);
        ASSERT_EQ(filter->ConnectInput(&t), S_OK);
        ASSERT_EQ(filter->ConnectOutput(&sink), S_OK);
        ASSERT_EQ(filter->Run(), S_OK);
    }
    HRESULT Feed(const std::vector<uint8_t> &record, REFERENCE_TIME *start = nullptr, REFERENCE_TIME *stop = nullptr,
                 bool discontinuity = false) {
        MediaSample *s = MediaSample::Wrap(const_cast<BYTE *>(record.data()), static_cast<LONG>(record.size()));
        if (start) s->SetTime(start, stop);
        s->SetDiscontinuity(discontinuity);
        const HRESULT hr = filter->Receive(s);
        s->Release();
        return hr;
    }
    // Another filter connected like the fixture's (after Connect), running,
    // delivering to `to`. The caller releases it.
    AudioDecoderFilter *SecondFilter(CollectingPin &to) {
        HRESULT hr = S_OK;
        auto *other = static_cast<AudioDecoderFilter *>(AudioDecoderFilter::Create(nullptr, &hr));
        other->NonDelegatingAddRef();
        AM_MEDIA_TYPE t = WaveType(format);
        EXPECT_EQ(other->ConnectInput(&t), S_OK);
        EXPECT_EQ(other->ConnectOutput(&to), S_OK);
        other->Run();
        return other;
    }
    static void FeedTo(AudioDecoderFilter *to, std::vector<uint8_t> &record) {
        MediaSample *sample = MediaSample::Wrap(record.data(), static_cast<LONG>(record.size()));
        to->Receive(sample);
        sample->Release();
    }
    AudioDecoderFilter *filter = nullptr;
    CollectingPin sink;
    std::vector<uint8_t> format;
};

std::vector<uint8_t> DirectG726(const std::vector<std::vector<uint8_t>> &payloads) {
    G726StreamDecoder *d = G726StreamDecoderCreate();
    std::vector<uint8_t> all;
    for (const auto &p : payloads) {
        std::vector<int16_t> pcm(p.size() * 8 / 3);
        G726StreamDecoderDecode(d, p.data(), pcm.data(), static_cast<int32_t>(p.size()));
        const auto *bytes = reinterpret_cast<const uint8_t *>(pcm.data());
        all.insert(all.end(), bytes, bytes + pcm.size() * 2);
    }
    G726StreamDecoderDestroy(d);
    return all;
}

TEST_F(FilterTest, InputTypeCheck) {
    std::vector<uint8_t> anyFormat(3, 9);
    AM_MEDIA_TYPE t = WaveType(anyFormat);
    EXPECT_EQ(filter->CheckInputType(&t), S_OK);
    t.formattype = GUID_NULL;
    t.cbFormat = 0;
    t.pbFormat = nullptr;
    EXPECT_EQ(filter->CheckInputType(&t), S_OK);  // the format block is not examined
    t.subtype = kSubtypePcm;
    EXPECT_EQ(filter->CheckInputType(&t), E_FAIL);
    t.subtype = kSubtypeWave;
    t.majortype = kSubtypeWave;
    EXPECT_EQ(filter->CheckInputType(&t), E_FAIL);
    EXPECT_EQ(filter->CheckInputType(nullptr), E_POINTER);
    EXPECT_EQ(filter->CheckTransform(nullptr, nullptr), S_OK);
}

TEST_F(FilterTest, OutputTypeAndBufferNeedAConnectedInput) {
    AM_MEDIA_TYPE out{};
    EXPECT_EQ(filter->GetMediaType(0, &out), E_UNEXPECTED);
    ALLOCATOR_PROPERTIES props{};
    MemAllocator *allocator = MemAllocator::Create();
    EXPECT_EQ(filter->DecideBufferSize(allocator, &props), E_UNEXPECTED);
    EXPECT_EQ(filter->DecideBufferSize(nullptr, &props), E_POINTER);
    EXPECT_EQ(filter->DecideBufferSize(allocator, nullptr), E_POINTER);
    allocator->Release();

    Connect();
    EXPECT_EQ(filter->GetMediaType(-1, &out), E_INVALIDARG);
    EXPECT_EQ(filter->GetMediaType(1, &out), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter->GetMediaType(0, nullptr), E_POINTER);
    ASSERT_EQ(filter->GetMediaType(0, &out), S_OK);
    EXPECT_EQ(out.majortype, kMediaTypeAudio);
    EXPECT_EQ(out.subtype, kSubtypePcm);
    EXPECT_EQ(out.formattype, kFormatWaveFormatEx);
    ASSERT_EQ(out.cbFormat, format.size());
    EXPECT_EQ(std::memcmp(out.pbFormat, format.data(), format.size()), 0);
    EXPECT_NE(out.pbFormat, format.data());  // a copy
    FreeMediaType(out);

    // The connection asked for one buffer of 100000 bytes.
    EXPECT_EQ(filter->OutputAllocatorProperties().cBuffers, 1);
    EXPECT_EQ(filter->OutputAllocatorProperties().cbBuffer, 100000);
    EXPECT_EQ(filter->OutputConnectionType()->subtype, kSubtypePcm);
}

// An allocator that grants less than it is asked for.
class StingyAllocator : public IMemAllocator {
public:
    explicit StingyAllocator(LONG buffers, LONG size, HRESULT result = S_OK)
        : buffers_(buffers), size_(size), result_(result) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override {
        requested = *request;
        *actual = *request;
        actual->cBuffers = buffers_;
        actual->cbBuffer = size_;
        return result_;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Decommit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **, REFERENCE_TIME *, REFERENCE_TIME *, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *) override { return E_NOTIMPL; }
    ALLOCATOR_PROPERTIES requested{};

private:
    LONG buffers_, size_;
    HRESULT result_;
};

TEST_F(FilterTest, BufferRequest) {
    Connect();
    ALLOCATOR_PROPERTIES props{7, 5, 32, 8};
    StingyAllocator exact(1, 100000);
    EXPECT_EQ(filter->DecideBufferSize(&exact, &props), S_OK);
    EXPECT_EQ(exact.requested.cBuffers, 1);
    EXPECT_EQ(exact.requested.cbBuffer, 100000);
    EXPECT_EQ(exact.requested.cbAlign, 32);  // alignment and prefix left as passed in
    EXPECT_EQ(exact.requested.cbPrefix, 8);
    StingyAllocator small(1, 99999);
    EXPECT_EQ(filter->DecideBufferSize(&small, &props), E_FAIL);
    StingyAllocator none(0, 100000);
    EXPECT_EQ(filter->DecideBufferSize(&none, &props), E_FAIL);
    StingyAllocator failing(1, 100000, E_OUTOFMEMORY);
    EXPECT_EQ(filter->DecideBufferSize(&failing, &props), E_OUTOFMEMORY);
}

TEST_F(FilterTest, FormatZeroDecodesStraightIntoTheOutput) {
    Connect();
    std::vector<std::vector<uint8_t>> payloads = {Noise(120, 1), Noise(120, 2), Noise(60, 3)};
    for (const auto &p : payloads) ASSERT_EQ(Feed(Record(0, p)), S_OK);
    ASSERT_EQ(sink.samples.size(), 3u);
    EXPECT_EQ(sink.samples[0].data.size(), 640u);  // 120 bytes: 320 samples
    EXPECT_EQ(sink.samples[2].data.size(), 320u);
    std::vector<uint8_t> all;
    for (const auto &s : sink.samples) all.insert(all.end(), s.data.begin(), s.data.end());
    EXPECT_EQ(all, DirectG726(payloads));  // the decoder state runs across samples
}

TEST_F(FilterTest, FormatZeroPartialGroupGivesItsWholeCodes) {
    // A payload that ends inside a 3-byte group is taken whole: the decoder
    // gives the whole codes of the partial group (2 from 1 byte, 5 from 2),
    // the reported length's last byte is silence, and nothing is reported.
    Connect();
    DebugCapture capture;
    for (std::size_t n : {1u, 2u, 4u, 5u, 121u}) {
        sink.samples.clear();
        filter->QueryAcceptInput(filter->InputConnectionType());  // fresh decoder
        const auto payload = Noise(n, static_cast<uint32_t>(70 + n));
        ASSERT_EQ(Feed(Record(0, payload)), S_OK);
        ASSERT_EQ(sink.samples.size(), 1u);
        const auto &out = sink.samples[0].data;
        ASSERT_EQ(out.size(), 16 * n / 3) << n << " bytes";
        const auto expected = DirectG726({payload});
        ASSERT_EQ(expected.size(), 2 * (8 * n / 3));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << n << " bytes";
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(expected.size()), out.end(),
                                [](uint8_t b) { return b == 0; }))
            << n << " bytes";
    }
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 0);
}

TEST_F(FilterTest, TimesAndSyncPoints) {
    Connect();
    REFERENCE_TIME start = 400000, stop = 800000;
    ASSERT_EQ(Feed(Record(0, Noise(120, 4)), &start, &stop, true), S_OK);
    ASSERT_EQ(Feed(Record(0, Noise(120, 5))), S_OK);
    ASSERT_EQ(sink.samples.size(), 2u);
    EXPECT_TRUE(sink.samples[0].hasTime);
    EXPECT_EQ(sink.samples[0].start, 400000);
    EXPECT_EQ(sink.samples[0].stop, 800000);
    EXPECT_TRUE(sink.samples[0].discontinuity);
    EXPECT_TRUE(sink.samples[0].sync);
    EXPECT_FALSE(sink.samples[1].hasTime);
    EXPECT_TRUE(sink.samples[1].sync);
    EXPECT_FALSE(sink.samples[1].discontinuity);
}

TEST_F(FilterTest, InvalidFormatsKeepTheDecoderAndDeliverSilence) {
    Connect();
    DebugCapture capture;
    const auto a = Noise(120, 6), b = Noise(120, 7);
    ASSERT_EQ(Feed(Record(0, a)), S_OK);
    const void *decoder = filter->Context().Slot().instance;
    ASSERT_EQ(Feed(Record(4, Noise(30, 8))), S_OK);
    ASSERT_EQ(Feed(Record(5, Noise(9, 8))), S_OK);
    ASSERT_EQ(Feed(Record(200, Noise(12, 8))), S_OK);
    EXPECT_EQ(filter->Context().Slot().instance, decoder);
    EXPECT_EQ(filter->Context().CurrentType(), 4);
    ASSERT_EQ(Feed(Record(0, b)), S_OK);

    EXPECT_EQ(capture.Count("************INVALID AUDIO FORMAT*************"), 2);  // formats 4 and 5; 200 is silent
    ASSERT_EQ(sink.samples.size(), 5u);
    EXPECT_EQ(sink.samples[1].data, std::vector<uint8_t>(160, 0));  // 30 * 16 / 3
    EXPECT_EQ(sink.samples[2].data, std::vector<uint8_t>(48, 0));
    EXPECT_EQ(sink.samples[3].data, std::vector<uint8_t>(64, 0));
    // The format-0 decoder continued with its state.
    std::vector<uint8_t> got = sink.samples[0].data;
    got.insert(got.end(), sink.samples[4].data.begin(), sink.samples[4].data.end());
    EXPECT_EQ(got, DirectG726({a, b}));
}

TEST_F(FilterTest, FormatChangeRecreatesTheDecoder) {
    Connect();
    DebugCapture capture;
    const auto a = Noise(120, 9), b = Noise(120, 10);
    ASSERT_EQ(Feed(Record(0, a)), S_OK);
    ASSERT_EQ(Feed(Record(3, Noise(40, 11))), S_OK);
    EXPECT_EQ(filter->Context().CurrentType(), 8);
    ASSERT_EQ(Feed(Record(0, b)), S_OK);
    EXPECT_EQ(filter->Context().CurrentType(), 4);
    ASSERT_EQ(sink.samples.size(), 3u);
    EXPECT_EQ(sink.samples[1].data.size(), 640u);  // format 3 always reports 640
    // After the switch the format-0 decoder starts afresh.
    EXPECT_EQ(sink.samples[2].data, DirectG726({b}));
}

TEST_F(FilterTest, MediaTypeCheckResetsTheContext) {
    Connect();
    ASSERT_EQ(Feed(Record(0, Noise(120, 12))), S_OK);
    EXPECT_NE(filter->Context().Slot().instance, nullptr);
    AM_MEDIA_TYPE t = WaveType(format);
    t.subtype = kSubtypePcm;
    EXPECT_EQ(filter->QueryAcceptInput(&t), E_FAIL);  // even a refused type resets
    EXPECT_EQ(filter->Context().Slot().instance, nullptr);
    EXPECT_EQ(filter->Context().CurrentType(), -1);
    // A reset slot is all zeros, its staging buffer included.
    const auto *bytes = reinterpret_cast<const uint8_t *>(&filter->Context().Slot());
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(CodecSlot), [](uint8_t b) { return b == 0; }));
    // Stop and run keep the decoder.
    ASSERT_EQ(Feed(Record(0, Noise(120, 13))), S_OK);
    const void *decoder = filter->Context().Slot().instance;
    filter->Stop();
    filter->Run();
    filter->BeginFlush();
    filter->EndFlush();
    filter->EndOfStream();
    EXPECT_EQ(filter->Context().Slot().instance, decoder);
}

TEST_F(FilterTest, OutputLengthRules) {
    Connect();
    struct Case {
        uint8_t format;
        std::size_t payload;
        std::size_t expected;
    } cases[] = {{0, 120, 640}, {0, 3, 16}, {0, 4, 21}, {3, 40, 640}, {3, 400, 640},
                 {4, 10, 53},   {5, 0, 0},  {9, 100, 533}};
    for (const auto &c : cases) {
        sink.samples.clear();
        ASSERT_EQ(Feed(Record(c.format, Noise(c.payload, 14))), S_OK);
        ASSERT_EQ(sink.samples.size(), 1u);
        EXPECT_EQ(sink.samples[0].data.size(), c.expected) << "format " << int(c.format) << " payload " << c.payload;
    }
}

TEST_F(FilterTest, BoundsOfDamagedSamples) {
    Connect();
    DebugCapture capture;
    // A declared length beyond the sample: what is present is decoded, the
    // rest of the reported length is silence, and the sample is reported.
    auto full = Noise(120, 15);
    auto record = Record(0, {full.begin(), full.begin() + 60}, 120);
    ASSERT_EQ(Feed(record), S_OK);
    ASSERT_EQ(sink.samples.size(), 1u);
    ASSERT_EQ(sink.samples[0].data.size(), 640u);
    const auto expected = DirectG726({{full.begin(), full.begin() + 60}});
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sink.samples[0].data.begin()));
    EXPECT_TRUE(std::all_of(sink.samples[0].data.begin() + 320, sink.samples[0].data.end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 1);

    // A negative length decodes nothing and reports an empty sample.
    ASSERT_EQ(Feed(Record(0, Noise(30, 16), -30)), S_OK);
    EXPECT_EQ(sink.samples.back().data.size(), 0u);
    // A length near the top of the range is bounded by the output buffer.
    ASSERT_EQ(Feed(Record(0, Noise(30, 16), 0x7FFFFFFF)), S_OK);
    EXPECT_EQ(sink.samples.back().data.size(), 100000u);
    // A sample shorter than its header.
    std::vector<uint8_t> stub(10, 0);
    ASSERT_EQ(Feed(stub), S_OK);
    EXPECT_EQ(sink.samples.back().data.size(), 0u);
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 4);

    // Format 0 beyond the output buffer: 18750 bytes fill it exactly; more is cut.
    sink.samples.clear();
    filter->QueryAcceptInput(filter->InputConnectionType());  // fresh decoder
    const auto big = Noise(19002, 17);
    ASSERT_EQ(Feed(Record(0, big)), S_OK);
    ASSERT_EQ(sink.samples[0].data.size(), 100000u);
    EXPECT_EQ(sink.samples[0].data, DirectG726({{big.begin(), big.begin() + 18750}}));
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 5);
}

// Only the bytes a decoder writes are left to it; every other reported byte is
// silence, even though the one output buffer still holds the previous
// sample's output. Each damaged or short record must come out of a filter
// whose buffer is full of earlier audio exactly as out of a fresh filter.
TEST_F(FilterTest, EarlierOutputNeverShowsThroughAShortDecode) {
    Connect();
    struct Case {
        uint8_t format;
        std::size_t present;
        int32_t declared;
    } cases[] = {
        {0, 120, 120}, {0, 61, 120}, {0, 1, 1},   {0, 2, 2},     {0, 4, 4},    {0, 0, 30},  {0, 30, -5},
        {1, 160, 160}, {1, 100, 160}, {2, 7, 7},  {2, 0, 50},    {1, 20, -1},  {3, 40, 40}, {3, 25, 40},
        {3, 9, 40},    {3, 0, 0},     {3, 39, 0}, {6, 164, 164}, {6, 100, 164}, {6, 0, 0},  {6, 3000, 3000},
        {4, 30, 30},   {5, 9, 9},     {200, 12, 12}, {0, 19002, 19002}, {1, 60000, 60000},
    };
    // Earlier audio in the buffer: G.711 codes never decode to 0.
    const auto dirty = Record(1, Noise(50000, 40));
    for (const auto &c : cases) {
        auto record = Record(c.format, Noise(c.present, 41 + c.format), c.declared);

        sink.samples.clear();
        ASSERT_EQ(Feed(dirty), S_OK);
        filter->QueryAcceptInput(filter->InputConnectionType());  // fresh decoders for the record
        ASSERT_EQ(Feed(record), S_OK);
        ASSERT_EQ(sink.samples.size(), 2u);
        const std::vector<uint8_t> afterDirty = sink.samples[1].data;

        CollectingPin freshSink;
        AudioDecoderFilter *fresh = SecondFilter(freshSink);
        FeedTo(fresh, record);
        ASSERT_EQ(freshSink.samples.size(), 1u);
        EXPECT_EQ(afterDirty, freshSink.samples[0].data)
            << "format " << int(c.format) << ", " << c.present << " bytes present, " << c.declared << " declared";
        fresh->NonDelegatingRelease();
    }
}

TEST_F(FilterTest, ShortG729PayloadIsReportedAndBounded) {
    Connect();
    DebugCapture capture;
    ASSERT_EQ(Feed(Record(3, Noise(25, 18))), S_OK);
    ASSERT_EQ(sink.samples.size(), 1u);
    EXPECT_EQ(sink.samples[0].data.size(), 640u);
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 1);
    ASSERT_EQ(Feed(Record(3, Noise(40, 18), 0)), S_OK);  // the length field is not used by G.729
    EXPECT_EQ(capture.Count(kTruncatedSampleMessage), 1);
}

TEST_F(FilterTest, ShortFormat6PayloadIsReportedAndCompletedWithZeros) {
    Connect();
    DebugCapture capture;
    const auto payload = Noise(164, 19);
    struct Case {
        std::size_t present;
        int32_t declared;
        int reports;  // truncation reports for the record
    } cases[] = {
        {164, 164, 0}, {2044, 2044, 0},  // whole: the bytes after the 164 are not read
        {100, 100, 1}, {0, 0, 1},         // short payloads
        {164, 100, 1},                    // a short declared length over more bytes
        {100, 164, 1}, {3000, 3000, 1},   // cut, or beyond the frame's room
    };
    for (const Case &c : cases) {
        const auto copied = static_cast<std::ptrdiff_t>(std::min<std::size_t>(c.present, 164));
        std::vector<uint8_t> bytes(payload.begin(), payload.begin() + copied);
        bytes.resize(c.present, 0);
        capture.Clear();
        sink.samples.clear();
        filter->QueryAcceptInput(filter->InputConnectionType());  // a fresh decoder for each record
        ASSERT_EQ(Feed(Record(6, bytes, c.declared)), S_OK);
        ASSERT_EQ(sink.samples.size(), 1u);
        EXPECT_EQ(sink.samples[0].data.size(), 640u);
        EXPECT_EQ(capture.Count(kTruncatedSampleMessage), c.reports)
            << c.present << " bytes present, " << c.declared << " declared";
        EXPECT_EQ(capture.Messages().size(), static_cast<std::size_t>(c.reports));
    }
}

// A decoder that cannot be created leaves the slot without one: every sample
// of its format is then reported as a decode error and delivered as silence
// of the format's length, although the one output buffer still holds the
// previous sample's audio.
TEST_F(FilterTest, DecodeFailureDeliversSilenceAndIsReported) {
    Connect();
    DebugCapture capture;
    const struct {
        uint8_t format;
        std::size_t payload;
        std::size_t reported;
    } cases[] = {{0, 120, 640}, {1, 160, 320}, {2, 77, 154}, {3, 40, 640}, {6, 164, 640}};
    const auto dirty = Record(1, Noise(50000, 60));  // A-law codes never decode to 0
    for (const auto &c : cases) {
        const auto failing = Record(c.format, Noise(c.payload, 61));
        sink.samples.clear();
        ASSERT_EQ(Feed(dirty), S_OK);
        filter->QueryAcceptInput(filter->InputConnectionType());  // the next sample creates a decoder
        capture.Clear();
        const auto previous = SetRawAllocator({[](std::size_t) -> void * { return nullptr; }, nullptr});
        const HRESULT first = Feed(failing);
        SetRawAllocator(previous);
        ASSERT_EQ(first, S_OK);
        EXPECT_EQ(filter->Context().Slot().instance, nullptr);
        // The same format again: the type has not changed, so no new decoder
        // is tried and the sample fails the same way.
        ASSERT_EQ(Feed(failing), S_OK);
        ASSERT_EQ(sink.samples.size(), 3u);
        for (std::size_t i : {1u, 2u})
            EXPECT_EQ(sink.samples[i].data, std::vector<uint8_t>(c.reported, 0))
                << "format " << int(c.format) << ", sample " << i;
        EXPECT_EQ(capture.Count(kDecodeErrorMessage), 2) << "format " << int(c.format);
        EXPECT_EQ(capture.Messages().size(), 2u) << "format " << int(c.format);

        // After a media-type check the decoder is created and decodes again.
        filter->QueryAcceptInput(filter->InputConnectionType());
        ASSERT_EQ(Feed(failing), S_OK);
        EXPECT_NE(filter->Context().Slot().instance, nullptr);
        EXPECT_NE(sink.samples.back().data, std::vector<uint8_t>(c.reported, 0)) << "format " << int(c.format);
        EXPECT_EQ(capture.Count(kDecodeErrorMessage), 2) << "format " << int(c.format);
    }
}

TEST_F(FilterTest, FiltersDoNotShareDecoderState) {
    Connect();
    CollectingPin otherSink;
    AudioDecoderFilter *other = SecondFilter(otherSink);
    const auto a1 = Noise(120, 20), a2 = Noise(120, 21), b1 = Noise(120, 22);
    Feed(Record(0, a1));
    auto rb = Record(0, b1);
    FeedTo(other, rb);
    Feed(Record(0, a2));
    std::vector<uint8_t> got = sink.samples[0].data;
    got.insert(got.end(), sink.samples[1].data.begin(), sink.samples[1].data.end());
    EXPECT_EQ(got, DirectG726({a1, a2}));
    EXPECT_EQ(otherSink.samples[0].data, DirectG726({b1}));
    other->NonDelegatingRelease();
}

TEST_F(FilterTest, ConcurrentResetAndDecodeStayConsistent) {
    Connect();
    std::atomic<bool> stop{false};
    std::thread checker([&] {
        AM_MEDIA_TYPE t = WaveType(format);
        while (!stop) filter->QueryAcceptInput(&t);
    });
    for (int i = 0; i < 300; ++i) ASSERT_EQ(Feed(Record(i % 2 ? 0 : 3, Noise(120, 30 + i))), S_OK);
    stop = true;
    checker.join();
    EXPECT_EQ(sink.samples.size(), 300u);
}

TEST_F(FilterTest, LevelInterface) {
    ILevelAdjust *level = nullptr;
    ASSERT_EQ(filter->NonDelegatingQueryInterface(kIidLevelAdjust, reinterpret_cast<void **>(&level)), S_OK);
    signed char value = 99;
    EXPECT_EQ(level->GetLevel(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(level->SetLevel(-127, 0), S_OK);
    level->GetLevel(&value);
    EXPECT_EQ(value, -127);
    EXPECT_EQ(level->SetLevel(200, 0), S_OK);
    level->GetLevel(&value);
    EXPECT_EQ(value, -56);
    EXPECT_EQ(level->ResetLevel(), S_OK);
    level->GetLevel(&value);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(level->GetLevel(nullptr), E_POINTER);
    level->Release();
    EXPECT_EQ(filter->NonDelegatingQueryInterface(kIidLevelAdjust, nullptr), E_POINTER);
}

TEST_F(FilterTest, LevelChangeAttachesTheInputTypeOnce) {
    Connect();
    ASSERT_EQ(Feed(Record(0, Noise(120, 40))), S_OK);
    EXPECT_EQ(sink.samples.back().type, nullptr);  // defaults: nothing attached
    filter->SetLevel(10, 0);
    ASSERT_EQ(Feed(Record(0, Noise(120, 41))), S_OK);
    ASSERT_EQ(Feed(Record(0, Noise(120, 42))), S_OK);
    const auto &changed = sink.samples[1];
    ASSERT_NE(changed.type, nullptr);
    EXPECT_EQ(changed.type->majortype, kMediaTypeAudio);
    EXPECT_EQ(changed.type->subtype, kSubtypeWave);  // the input's type, not the PCM output type
    ASSERT_EQ(changed.type->cbFormat, format.size());
    EXPECT_EQ(std::memcmp(changed.type->pbFormat, format.data(), format.size()), 0);
    EXPECT_EQ(sink.samples[2].type, nullptr);
    // The audio bytes are untouched by the level step.
    EXPECT_EQ(changed.data.size(), 640u);
    // Back to the previously applied value: attached once more, then no more.
    filter->SetLevel(0, 0);
    Feed(Record(0, Noise(120, 43)));
    Feed(Record(0, Noise(120, 44)));
    EXPECT_NE(sink.samples[3].type, nullptr);
    EXPECT_EQ(sink.samples[4].type, nullptr);
}

// Input types whose format block is long enough to carry a palette (entry
// count at byte 80, 4-byte entries from byte 88): a level change attaches a
// copy of the input type whose palette is adjusted with the new level, and
// the input pin's own type stays as it was.
TEST_F(FilterTest, LevelStepAdjustsThePaletteOfACopyOfTheInputType) {
    format.assign(88 + 4 * 3, 0);
    for (std::size_t i = 0; i < 80; ++i) format[i] = static_cast<uint8_t>(i + 1);
    const uint32_t count = 3;
    std::memcpy(format.data() + 80, &count, 4);
    const uint8_t entries[12] = {0, 100, 255, 7, 10, 128, 245, 9, 1, 2, 3, 4};
    std::memcpy(format.data() + 88, entries, 12);
    const std::vector<uint8_t> original = format;
    AM_MEDIA_TYPE t = WaveType(format);
    ASSERT_EQ(filter->ConnectInput(&t), S_OK);
    ASSERT_EQ(filter->ConnectOutput(&sink), S_OK);
    ASSERT_EQ(filter->Run(), S_OK);

    // The attached type's palette after a change to `level`.
    auto paletteAfter = [&](LONG level) {
        filter->SetLevel(level, 0);
        EXPECT_EQ(Feed(Record(0, Noise(120, 70))), S_OK);
        const AM_MEDIA_TYPE *attached = sink.samples.back().type;
        std::vector<uint8_t> palette;
        if (!attached) return palette;
        EXPECT_EQ(attached->subtype, kSubtypeWave);
        EXPECT_EQ(attached->cbFormat, original.size());
        if (attached->cbFormat != original.size()) return palette;
        // Everything before the entries is the input's.
        EXPECT_EQ(std::memcmp(attached->pbFormat, original.data(), 88), 0);
        palette.assign(attached->pbFormat + 88, attached->pbFormat + 100);
        return palette;
    };
    auto inputTypeIsUntouched = [&] {
        const AM_MEDIA_TYPE *input = filter->InputConnectionType();
        return input->cbFormat == original.size() &&
               std::memcmp(input->pbFormat, original.data(), original.size()) == 0;
    };

    // Level 10: low 10, high 245, G = 235/255 (worked out in the palette test below).
    EXPECT_EQ(paletteAfter(10), (std::vector<uint8_t>{0, 97, 255, 7, 0, 128, 255, 9, 0, 0, 0, 4}));
    EXPECT_TRUE(inputTypeIsUntouched());
    // Level -10, again from the input's palette: v * 235/255 + 10.
    EXPECT_EQ(paletteAfter(-10), (std::vector<uint8_t>{10, 102, 245, 7, 19, 127, 235, 9, 10, 11, 12, 4}));
    EXPECT_TRUE(inputTypeIsUntouched());
    // Back to 0: the input's palette unchanged.
    EXPECT_EQ(paletteAfter(0), std::vector<uint8_t>(entries, entries + 12));
    EXPECT_TRUE(inputTypeIsUntouched());
}

TEST_F(FilterTest, AttachedOutputTypeIsCheckedAndAdopted) {
    Connect();
    // Simulate the downstream side announcing a type on the output sample by
    // calling Transform directly with prepared samples.
    auto record = Record(0, Noise(120, 50));
    MediaSample *in = MediaSample::Wrap(record.data(), static_cast<LONG>(record.size()));
    std::vector<uint8_t> buffer(100000);
    MediaSample *out = MediaSample::Wrap(buffer.data(), static_cast<LONG>(buffer.size()));
    std::vector<uint8_t> otherFormat(20, 3);
    AM_MEDIA_TYPE announced = WaveType(otherFormat);
    out->SetMediaType(&announced);
    EXPECT_EQ(filter->Transform(in, out), S_OK);
    EXPECT_EQ(filter->InputConnectionType()->cbFormat, 20u);  // adopted as the input connection type
    AM_MEDIA_TYPE *now = nullptr;
    ASSERT_EQ(out->GetMediaType(&now), S_OK);
    EXPECT_EQ(now->cbFormat, 20u);
    DeleteMediaType(now);

    announced.subtype = kSubtypePcm;  // refused: Transform fails
    out->SetMediaType(&announced);
    EXPECT_EQ(filter->Transform(in, out), E_FAIL);
    EXPECT_EQ(filter->Transform(nullptr, out), E_POINTER);
    EXPECT_EQ(filter->Transform(in, nullptr), E_POINTER);
    in->Release();
    out->Release();
}

TEST(Palette, AdjustmentOfEntriesInsideTheBlock) {
    std::vector<uint8_t> block(88 + 4 * 3, 0);
    uint32_t count = 3;
    std::memcpy(block.data() + 80, &count, 4);
    const uint8_t entries[12] = {0, 100, 255, 7, 10, 128, 245, 9, 1, 2, 3, 4};
    std::memcpy(block.data() + 88, entries, 12);
    AM_MEDIA_TYPE t{};
    t.cbFormat = static_cast<ULONG>(block.size());
    t.pbFormat = block.data();

    ASSERT_EQ(AdjustPalette(&t, 0), S_OK);
    EXPECT_EQ(std::memcmp(block.data() + 88, entries, 12), 0);

    ASSERT_EQ(AdjustPalette(&t, 10), S_OK);  // low 10, high 245, G = 235/255
    const uint8_t raised[12] = {0, 97, 255, 7, 0, 128, 255, 9, 0, 0, 0, 4};
    EXPECT_EQ(std::memcmp(block.data() + 88, raised, 12), 0);

    std::memcpy(block.data() + 88, entries, 12);
    ASSERT_EQ(AdjustPalette(&t, -10), S_OK);  // G = 255/235: v * 235/255 + 10
    const uint8_t lowered[12] = {10, 102, 245, 7, 19, 127, 235, 9, 10, 11, 12, 4};
    EXPECT_EQ(std::memcmp(block.data() + 88, lowered, 12), 0);
    EXPECT_EQ(AdjustPalette(nullptr, 1), E_POINTER);
}

TEST(Palette, NothingOutsideTheFormatBlockIsTouched) {
    // A count far larger than the block: only entries inside are adjusted.
    std::vector<uint8_t> block(96 + 16, 0x80);
    uint32_t count = 1000000;
    std::memcpy(block.data() + 80, &count, 4);
    AM_MEDIA_TYPE t{};
    t.cbFormat = 96;  // room for two entries
    t.pbFormat = block.data();
    ASSERT_EQ(AdjustPalette(&t, 127), S_OK);
    EXPECT_EQ(block[88], 255);
    EXPECT_EQ(block[92], 255);
    for (std::size_t i = 96; i < block.size(); ++i) EXPECT_EQ(block[i], 0x80) << i;
    // A block too short for the count (every audio format block) is left alone.
    std::vector<uint8_t> wave(18, 0x33);
    t.cbFormat = 18;
    t.pbFormat = wave.data();
    ASSERT_EQ(AdjustPalette(&t, 50), S_OK);
    EXPECT_EQ(wave, std::vector<uint8_t>(18, 0x33));
}

TEST(FilterObject, AggregationAndCreation) {
    // An outer object receives the delegating calls of the filter's interfaces.
    struct Outer : IUnknown {
        int queries = 0;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **) override {
            ++queries;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
    } outer;
    HRESULT hr = S_OK;
    UnknownBase *object = AudioDecoderFilter::Create(&outer, &hr);
    ASSERT_NE(object, nullptr);
    object->NonDelegatingAddRef();
    ILevelAdjust *level = nullptr;
    ASSERT_EQ(object->NonDelegatingQueryInterface(kIidLevelAdjust, reinterpret_cast<void **>(&level)), S_OK);
    void *anything = nullptr;
    level->QueryInterface(IID_IUnknown, &anything);
    EXPECT_EQ(outer.queries, 1);
    IUnknown *unknown = nullptr;
    EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    EXPECT_EQ(unknown, object->NonDelegatingUnknown());
    EXPECT_NE(unknown, object->GetOwner());
    unknown->Release();
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
}

TEST(FilterObject, LiveObjectsAreCounted) {
    const LONG before = activeObjectCount;
    HRESULT hr = S_OK;
    UnknownBase *object = AudioDecoderFilter::Create(nullptr, &hr);
    EXPECT_EQ(activeObjectCount, before + 1);
    object->NonDelegatingAddRef();
    object->NonDelegatingRelease();
    EXPECT_EQ(activeObjectCount, before);
}

}  // namespace
