// The stream source (VelkorixSource.ax) in graphs the graph manager builds:
// RenderFile on a stream file with the collecting sink in the graph, taking
// PCM only, so that intelligent connect has to end there through the
// Velkorix Decoder; seeking on the source's pin; damaged and unreadable
// files.
//   render-file STREAM OUT_PCM mapper|decoder-first|file-type
//       RenderFile, run to the end, write the PCM. "mapper" leaves it to the
//       graph manager to find the decoder; "decoder-first" adds it before;
//       "file-type" adds it before and builds the graph from the file type
//       without trying RenderFile (no filter of wine's own is created).
//   source-seek STREAM REFERENCE_PCM [from-start]
//       seeks to the middle (while paused and while stopped), to the start
//       and beyond the end; after each the PCM must equal the reference from
//       the landing position on. With "from-start" (a stream of one codec
//       that keeps state across records) the seek to the middle must also
//       preroll from the file's first record.
//   source-damaged STREAM REFERENCE_PCM
//       a file with a damaged tail: the complete records play, the damage
//       event comes, then completion.
//   source-refuses FILE...
//       every FILE fails to load (empty, no complete record, missing).
// With VELKORIX_GRAPH_NO_THREAD set in the environment the graphs are made
// with CLSID_FilterGraphNoThread, the graph manager that keeps no thread of
// its own. tests/win/run.sh sets it for 32-bit wine under qemu-i386: there a
// thread created while others run may take over another thread's TLS
// segment (the emulator keeps one descriptor table per process), and the
// graph manager's own message thread made such processes hang in three runs
// of four; without it they pass every time. Players make the threaded one,
// which every other run of these checks uses.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/guids.h"
#include "harness.h"
#include "source_filter/source_guids.h"
#include "test_filters.h"

namespace {

using vtest::CollectSink;

std::wstring Wide(const char *text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

bool ReadFile(const char *path, std::vector<BYTE> *bytes) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    BYTE buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    std::fclose(file);
    return true;
}

bool WriteFile(const char *path, const std::vector<BYTE> &bytes) {
    FILE *file = std::fopen(path, "wb");
    if (!file) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// What came to the sink as samples to render: media-stream bytes of samples
// that are not preroll.
std::vector<BYTE> Rendered(const CollectSink &sink) {
    std::vector<BYTE> pcm;
    for (const vtest::ReceivedSample &sample : sink.samples)
        if (!sample.preroll && sample.streamId == AM_STREAM_MEDIA)
            pcm.insert(pcm.end(), sample.bytes.begin(), sample.bytes.end());
    return pcm;
}

bool HasClass(IBaseFilter *filter, const CLSID &clsid) {
    CLSID id{};
    return SUCCEEDED(filter->GetClassID(&id)) && IsEqualGUID(id, clsid);
}

// Events until EC_COMPLETE (or an abort, or the time is up); the codes seen.
std::vector<LONG> EventsUntilComplete(IMediaEvent *events, DWORD milliseconds) {
    std::vector<LONG> codes;
    const DWORD until = GetTickCount() + milliseconds;
    for (;;) {
        const LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0) return codes;
        LONG code = 0;
        LONG_PTR first = 0, second = 0;
        const HRESULT got = events->GetEvent(&code, &first, &second, left);
        if (got == E_ABORT) {  // wine's queue may wake without an event: look again
            Sleep(5);
            continue;
        }
        if (got != S_OK) return codes;
        if (code != EC_COMPLETE && code != EC_CLOCK_CHANGED)
            std::printf("  event 0x%lx (%s, %s)\n", static_cast<unsigned long>(code), vtest::Hex(static_cast<long>(first)).c_str(),
                        vtest::Hex(static_cast<long>(second)).c_str());
        events->FreeEventParams(code, first, second);
        codes.push_back(code);
        if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) return codes;
    }
}

const CLSID &GraphClass() {
    static const bool noThread = std::getenv("VELKORIX_GRAPH_NO_THREAD") != nullptr;
    return noThread ? CLSID_FilterGraphNoThread : CLSID_FilterGraph;
}

bool Saw(const std::vector<LONG> &codes, LONG code) {
    for (LONG c : codes)
        if (c == code) return true;
    return false;
}

// A graph that RenderFile builds, ending in the collecting sink.
struct RenderGraph {
    IGraphBuilder *builder = nullptr;
    IMediaControl *control = nullptr;
    IMediaEvent *events = nullptr;
    CollectSink *sink = nullptr;
    IBaseFilter *source = nullptr;
    IBaseFilter *decoder = nullptr;
    IMediaSeeking *seeking = nullptr;  // the source's output pin

    // The graph with the sink (and the decoder when `decoderFirst`) in it.
    HRESULT Create(bool decoderFirst) {
        HRESULT hr = CoCreateInstance(GraphClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      reinterpret_cast<void **>(&builder));
        if (FAILED(hr)) return hr;
        builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
        builder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events));
        sink = new CollectSink(true);
        sink->pcmOnly = true;
        hr = builder->AddFilter(sink, L"Collecting sink");
        if (FAILED(hr) || !decoderFirst) return hr;
        IBaseFilter *added = nullptr;
        hr = CoCreateInstance(velkorix::kClsidVelkorixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void **>(&added));
        if (FAILED(hr)) return hr;
        hr = builder->AddFilter(added, L"Velkorix Decoder");
        added->Release();
        return hr;
    }

    void Release() {
        if (control) control->Stop();
        if (seeking) seeking->Release();
        if (source) source->Release();
        if (decoder) decoder->Release();
        if (events) events->Release();
        if (control) control->Release();
        if (builder) builder->Release();
        if (sink) sink->Release();
        seeking = nullptr;
        source = decoder = nullptr;
        events = nullptr;
        control = nullptr;
        builder = nullptr;
        sink = nullptr;
    }

    // RenderFile on `path`; returns what it returned. When the graph
    // manager did not create the source from the file type (wine's does
    // not: it reads the "Source Filter" value of the extension's key but
    // then opens every file with its own async file reader), the graph is
    // built again as Windows' RenderFile builds it: the class the
    // extension's key names, loaded with the file, its pin rendered.
    // With `tryRenderFile` false the graph is built from the file type at
    // once.
    HRESULT Render(const char *path, bool decoderFirst, bool tryRenderFile = true) {
        HRESULT hr = S_OK;
        const std::wstring file = Wide(path);
        if (tryRenderFile) {
            hr = Create(decoderFirst);
            if (FAILED(hr)) return hr;
            hr = builder->RenderFile(file.c_str(), nullptr);
            FindFilters();
            if (source) return hr;
            std::printf("  RenderFile (%s) opened the file without the registered source; building from the file type\n",
                        vtest::Hex(hr).c_str());
            Release();
        }
        hr = Create(decoderFirst);
        if (FAILED(hr)) return hr;
        CLSID clsid{};
        if (!FileTypeSource(&clsid)) return REGDB_E_CLASSNOTREG;
        IBaseFilter *created = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void **>(&created));
        if (FAILED(hr)) return hr;
        IFileSourceFilter *loader = nullptr;
        hr = created->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void **>(&loader));
        if (SUCCEEDED(hr)) {
            hr = loader->Load(file.c_str(), nullptr);
            loader->Release();
        }
        if (SUCCEEDED(hr)) hr = builder->AddFilter(created, file.c_str());
        IPin *pin = nullptr;
        if (SUCCEEDED(hr)) hr = created->FindPin(L"Output", &pin);
        created->Release();
        if (SUCCEEDED(hr)) {
            hr = builder->Render(pin);
            pin->Release();
        }
        FindFilters();
        return hr;
    }

    // The class registered for .vks files.
    static bool FileTypeSource(CLSID *clsid) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Media Type\\Extensions\\.vks", 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        WCHAR text[64] = {};
        DWORD size = sizeof(text) - sizeof(WCHAR), type = 0;
        const LONG status =
            RegQueryValueExW(key, L"Source Filter", nullptr, &type, reinterpret_cast<BYTE *>(text), &size);
        RegCloseKey(key);
        return status == ERROR_SUCCESS && type == REG_SZ && SUCCEEDED(CLSIDFromString(text, clsid));
    }

    void FindFilters() {
        IEnumFilters *filters = nullptr;
        if (FAILED(builder->EnumFilters(&filters))) return;
        IBaseFilter *filter = nullptr;
        while (filters->Next(1, &filter, nullptr) == S_OK) {
            if (!source && HasClass(filter, velkorix::kClsidVelkorixSource)) {
                source = filter;
                source->AddRef();
            }
            if (!decoder && HasClass(filter, velkorix::kClsidVelkorixDecoder)) {
                decoder = filter;
                decoder->AddRef();
            }
            filter->Release();
        }
        filters->Release();
        if (source) {
            IPin *pin = nullptr;
            if (SUCCEEDED(source->FindPin(L"Output", &pin))) {
                pin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking));
                pin->Release();
            }
        }
    }

    // Prints the filters of the graph and how they are connected.
    void Describe() {
        IEnumFilters *filters = nullptr;
        if (FAILED(builder->EnumFilters(&filters))) return;
        IBaseFilter *filter = nullptr;
        while (filters->Next(1, &filter, nullptr) == S_OK) {
            FILTER_INFO info{};
            filter->QueryFilterInfo(&info);
            if (info.pGraph) info.pGraph->Release();
            std::printf("  filter \"%ls\"\n", info.achName);
            filter->Release();
        }
        filters->Release();
    }

    // Runs until completion; the events seen.
    std::vector<LONG> RunToEnd() {
        const HRESULT hr = control->Run();
        if (FAILED(hr)) {
            std::printf("  Run = %s\n", vtest::Hex(hr).c_str());
            return {};
        }
        return EventsUntilComplete(events, 60000);
    }

    ~RenderGraph() { Release(); }
};

void ClearSink(CollectSink &sink) {
    sink.samples.clear();
    sink.pcm.clear();
    sink.segmentStarts.clear();
    sink.segmentStops.clear();
    sink.segmentRates.clear();
    sink.endOfStreams = 0;
}

int RunRenderFile(const char *stream, const char *out, bool decoderFirst, bool tryRenderFile) {
    RenderGraph graph;
    const HRESULT hr = graph.Render(stream, decoderFirst, tryRenderFile);
    if (FAILED(hr) || !graph.decoder) {
        std::printf("RenderFile = %s; the graph holds:\n", vtest::Hex(hr).c_str());
        graph.Describe();
    }
    CHECK_HR(hr, S_OK);
    REQUIRE(graph.source && graph.decoder);
    // source -> decoder -> sink, the decoder's input fed by the source.
    {
        IPin *decoderIn = nullptr, *peer = nullptr;
        REQUIRE(SUCCEEDED(graph.decoder->FindPin(L"XForm In", &decoderIn)));
        CHECK_HR(decoderIn->ConnectedTo(&peer), S_OK);
        if (peer) {
            PIN_INFO info{};
            peer->QueryPinInfo(&info);
            CHECK(info.pFilter == graph.source);
            if (info.pFilter) info.pFilter->Release();
            peer->Release();
        }
        decoderIn->Release();
    }
    CHECK(graph.sink->InputPin()->Type().cbFormat >= sizeof(WAVEFORMATEX));
    const std::vector<LONG> codes = graph.RunToEnd();
    CHECK(Saw(codes, EC_COMPLETE));
    CHECK(!Saw(codes, velkorix::kEventStreamDamaged));
    CHECK_EQ(graph.sink->endOfStreams, 1);
    // Time stamps follow the output: each sample starts where the one before
    // stopped, the first at 0.
    REFERENCE_TIME next = 0;
    for (const vtest::ReceivedSample &sample : graph.sink->samples) {
        CHECK(!sample.preroll);
        if (sample.start != next) {
            CHECK_EQ(sample.start, next);
            break;
        }
        next = sample.stop;
    }
    REQUIRE(WriteFile(out, graph.sink->pcm));
    return vtest::Finish("render-file");
}

// Seeks the source's pin to `position`; returns the position it landed on.
LONGLONG SeekTo(RenderGraph &graph, LONGLONG position) {
    LONGLONG current = position;
    CHECK_HR(graph.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr,
                                         AM_SEEKING_NoPositioning),
             S_OK);
    return current;
}

// The PCM of the whole decode from `position` on (8000 Hz mono: 1250 units
// a sample).
std::vector<BYTE> From(const std::vector<BYTE> &reference, LONGLONG position) {
    const size_t at = static_cast<size_t>(position / 1250) * 2;
    if (at >= reference.size()) return {};
    return std::vector<BYTE>(reference.begin() + static_cast<std::ptrdiff_t>(at), reference.end());
}

void CheckRun(RenderGraph &graph, const std::vector<BYTE> &reference, LONGLONG landed, const char *what) {
    const std::vector<BYTE> rendered = Rendered(*graph.sink);
    const std::vector<BYTE> expected = From(reference, landed);
    if (rendered != expected)
        std::printf("%s: %zu bytes rendered, %zu expected from %lld\n", what, rendered.size(), expected.size(),
                    static_cast<long long>(landed));
    CHECK(rendered == expected);
    // The segment starts at the landing position, and the first sample
    // rendered at 0 within it.
    CHECK(!graph.sink->segmentStarts.empty() && graph.sink->segmentStarts.back() == landed);
    for (const vtest::ReceivedSample &sample : graph.sink->samples) {
        if (sample.preroll) continue;
        CHECK_EQ(sample.start, static_cast<REFERENCE_TIME>(0));
        break;
    }
}

bool WaitForEndOfStream(CollectSink &sink, DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    while (sink.endOfStreams == 0) {
        if (static_cast<LONG>(until - GetTickCount()) <= 0) return false;
        Sleep(5);
    }
    return true;
}

int RunSeek(const char *stream, const char *referencePath, bool prerollFromStart) {
    std::vector<BYTE> reference;
    REQUIRE(ReadFile(referencePath, &reference));
    REQUIRE(reference.size() > 4000);
    RenderGraph graph;
    CHECK_HR(graph.Render(stream, true, false), S_OK);
    REQUIRE(graph.seeking);
    LONGLONG duration = 0;
    CHECK_HR(graph.seeking->GetDuration(&duration), S_OK);
    CHECK_EQ(duration, static_cast<LONGLONG>(reference.size() / 2) * 1250);
    DWORD capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;
    CHECK_HR(graph.seeking->CheckCapabilities(&capabilities), S_OK);

    // Stopped: to the middle, then run.
    LONGLONG landed = SeekTo(graph, duration / 2);
    CHECK(landed <= duration / 2 && landed > 0);
    CHECK(Saw(graph.RunToEnd(), EC_COMPLETE));
    CheckRun(graph, reference, landed, "middle, stopped");
    // Preroll samples, where the landing record needs them, come first; the
    // PCM above shows they were the right ones. In a stream of one codec
    // with state they start at the file's first record, whose time lies the
    // landing position before the segment's start.
    bool rendering = false, prerollFirst = true;
    for (const vtest::ReceivedSample &sample : graph.sink->samples) {
        if (!sample.preroll) rendering = true;
        if (rendering && sample.preroll) prerollFirst = false;
    }
    CHECK(prerollFirst);
    if (prerollFromStart) {
        CHECK(!graph.sink->samples.empty() && graph.sink->samples.front().preroll);
        if (!graph.sink->samples.empty()) CHECK_EQ(graph.sink->samples.front().start, -landed);
    }
    LONGLONG current = -1;
    CHECK_HR(graph.seeking->GetCurrentPosition(&current), S_OK);
    CHECK_EQ(current, landed);
    CHECK(SUCCEEDED(graph.control->Stop()));

    // Paused, with a run that has delivered everything: the seek flushes and
    // runs again from a third of the way.
    ClearSink(*graph.sink);
    SeekTo(graph, 0);
    CHECK(SUCCEEDED(graph.control->Pause()));
    CHECK(WaitForEndOfStream(*graph.sink, 30000));
    const int flushesBefore = graph.sink->beginFlushes;
    ClearSink(*graph.sink);
    landed = SeekTo(graph, duration / 3);
    CHECK(landed <= duration / 3 && landed > 0);
    CHECK_EQ(graph.sink->beginFlushes, flushesBefore + 1);
    CHECK(Saw(graph.RunToEnd(), EC_COMPLETE));
    CheckRun(graph, reference, landed, "a third, paused");
    CHECK(SUCCEEDED(graph.control->Stop()));

    // To the start: the whole decode, no preroll.
    ClearSink(*graph.sink);
    landed = SeekTo(graph, 0);
    CHECK_EQ(landed, static_cast<LONGLONG>(0));
    CHECK(Saw(graph.RunToEnd(), EC_COMPLETE));
    CheckRun(graph, reference, 0, "start");
    CHECK(!graph.sink->samples.empty() && !graph.sink->samples.front().preroll);
    CHECK(SUCCEEDED(graph.control->Stop()));

    // Beyond the end: nothing to render, and the stream still completes.
    ClearSink(*graph.sink);
    landed = SeekTo(graph, duration + 10000000);
    CHECK_EQ(landed, duration);
    CHECK(Saw(graph.RunToEnd(), EC_COMPLETE));
    CHECK(Rendered(*graph.sink).empty());
    CHECK_EQ(graph.sink->endOfStreams, 1);
    CHECK(SUCCEEDED(graph.control->Stop()));

    // A stop position: the run ends with the record that holds it.
    ClearSink(*graph.sink);
    current = 0;
    LONGLONG stop = duration / 4;
    CHECK_HR(graph.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop,
                                         AM_SEEKING_AbsolutePositioning),
             S_OK);
    CHECK(Saw(graph.RunToEnd(), EC_COMPLETE));
    const std::vector<BYTE> partial = Rendered(*graph.sink);
    CHECK(partial.size() >= static_cast<size_t>(stop / 1250) * 2 && partial.size() < reference.size());
    CHECK(std::equal(partial.begin(), partial.end(), reference.begin()));
    return vtest::Finish("source-seek");
}

int RunDamaged(const char *stream, const char *referencePath) {
    std::vector<BYTE> reference;
    REQUIRE(ReadFile(referencePath, &reference));
    RenderGraph graph;
    CHECK_HR(graph.Render(stream, true, false), S_OK);
    REQUIRE(graph.source);
    const std::vector<LONG> codes = graph.RunToEnd();
    CHECK(Saw(codes, velkorix::kEventStreamDamaged));
    CHECK(Saw(codes, EC_COMPLETE));
    CHECK_EQ(graph.sink->endOfStreams, 1);
    CHECK(graph.sink->pcm == reference);
    return vtest::Finish("source-damaged");
}

int RunRefuses(int count, char **files) {
    for (int i = 0; i < count; ++i) {
        IBaseFilter *source = nullptr;
        REQUIRE(SUCCEEDED(CoCreateInstance(velkorix::kClsidVelkorixSource, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IBaseFilter, reinterpret_cast<void **>(&source))));
        IFileSourceFilter *file = nullptr;
        CHECK_HR(source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void **>(&file)), S_OK);
        if (file) {
            const HRESULT hr = file->Load(Wide(files[i]).c_str(), nullptr);
            if (SUCCEEDED(hr)) std::printf("%s loaded\n", files[i]);
            CHECK(FAILED(hr));
            // Nothing to connect: the pin offers no type.
            IPin *pin = nullptr;
            CHECK_HR(source->FindPin(L"Output", &pin), S_OK);
            if (pin) {
                IEnumMediaTypes *types = nullptr;
                if (SUCCEEDED(pin->EnumMediaTypes(&types))) {
                    AM_MEDIA_TYPE *type = nullptr;
                    CHECK_HR(types->Next(1, &type, nullptr), S_FALSE);
                    types->Release();
                }
                pin->Release();
            }
            LPOLESTR name = nullptr;
            CHECK(FAILED(file->GetCurFile(&name, nullptr)));
            file->Release();
        }
        source->Release();
    }
    return vtest::Finish("source-refuses");
}

}  // namespace

VTEST_COMMAND(RenderFileCommand, "render-file", "render-file STREAM OUT_PCM mapper|decoder-first|file-type") {
    const bool known = argc == 4 && (std::strcmp(argv[3], "mapper") == 0 || std::strcmp(argv[3], "decoder-first") == 0 ||
                                     std::strcmp(argv[3], "file-type") == 0);
    if (!known) {
        std::printf("usage: render-file STREAM OUT_PCM mapper|decoder-first|file-type\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const bool mapper = std::strcmp(argv[3], "mapper") == 0;
    const int status = RunRenderFile(argv[1], argv[2], !mapper, std::strcmp(argv[3], "file-type") != 0);
    CoUninitialize();
    return status;
}

VTEST_COMMAND(SourceSeekCommand, "source-seek", "source-seek STREAM REFERENCE_PCM [from-start]") {
    const bool fromStart = argc == 4 && std::strcmp(argv[3], "from-start") == 0;
    if (argc != 3 && !fromStart) {
        std::printf("usage: source-seek STREAM REFERENCE_PCM [from-start]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = RunSeek(argv[1], argv[2], fromStart);
    CoUninitialize();
    return status;
}

VTEST_COMMAND(SourceDamagedCommand, "source-damaged", "source-damaged STREAM REFERENCE_PCM") {
    if (argc != 3) {
        std::printf("usage: source-damaged STREAM REFERENCE_PCM\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = RunDamaged(argv[1], argv[2]);
    CoUninitialize();
    return status;
}

VTEST_COMMAND(SourceRefusesCommand, "source-refuses", "source-refuses FILE...") {
    if (argc < 2) {
        std::printf("usage: source-refuses FILE...\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int status = RunRefuses(argc - 1, argv + 1);
    CoUninitialize();
    return status;
}
