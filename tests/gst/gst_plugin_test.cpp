// The GStreamer plugin in pipelines run by this program: the type finder on
// framed streams and on other files, seeking (pull and push mode, through
// decodebin too) against the whole decode of `velkorix decode`, the parser's
// buffers and time stamps, damaged and hostile streams ending in a bus
// message, and the decoder's properties and message counts.
//
// The streams and their references are made by make_streams.sh (the ctest
// fixture gst_streams) in VELKORIX_GST_STREAMS_DIR.
#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "record_splitter.h"
#include "stream/frame_format.h"
#include "stream/stream_index.h"
#include "type_find.h"

namespace {

using Bytes = std::vector<uint8_t>;
using velkorix::stream::StreamIndex;

const std::string kStreams = VELKORIX_GST_STREAMS_DIR;
constexpr int kTimeoutSeconds = 30;

Bytes ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string StreamPath(const std::string &name) { return kStreams + "/" + name + ".vks"; }

std::vector<std::string> StreamNames() {
    std::ifstream in(kStreams + "/streams.txt");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.push_back(line);
    return names;
}

// The reference PCM of a stream (velkorix decode's WAV data chunk).
Bytes Reference(const std::string &name, const std::string &variant = "") {
    return ReadFile(kStreams + "/" + name + variant + ".pcm");
}

uint32_t xorshift = 0x9E3779B9u;
uint8_t RandomByte() {
    xorshift ^= xorshift << 13;
    xorshift ^= xorshift >> 17;
    xorshift ^= xorshift << 5;
    return static_cast<uint8_t>(xorshift >> 24);
}

// ---- running pipelines ----

struct Outcome {
    bool eos = false;
    bool segmentDone = false;
    bool timedOut = false;
    std::vector<std::string> errors, warnings, infos;  // "source: text"

    std::string Describe() const {
        std::ostringstream out;
        out << (eos ? "EOS" : "no EOS") << (timedOut ? ", timed out" : "");
        for (const auto &e : errors) out << "\n  error: " << e;
        for (const auto &w : warnings) out << "\n  warning: " << w;
        return out.str();
    }
    bool HasWarning(const std::string &text) const {
        for (const auto &w : warnings)
            if (w.find(text) != std::string::npos) return true;
        return false;
    }
    bool HasError(const std::string &text) const {
        for (const auto &e : errors)
            if (e.find(text) != std::string::npos) return true;
        return false;
    }
};

// A pipeline ending in a fakesink named "sink" whose rendered bytes are kept.
class Pipeline {
public:
    explicit Pipeline(const std::string &description) {
        GError *error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        if (error) {
            ADD_FAILURE() << "cannot make '" << description << "': " << error->message;
            g_error_free(error);
        }
        if (!pipeline_) return;
        GstElement *sink = Get("sink");
        if (sink) {
            g_object_set(sink, "sync", FALSE, "signal-handoffs", TRUE, nullptr);
            g_signal_connect(sink, "handoff", G_CALLBACK(OnHandoff), this);
            gst_object_unref(sink);
        }
    }
    ~Pipeline() {
        if (!pipeline_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    bool Ok() const { return pipeline_ != nullptr; }

    // The element named `name` (a new reference), also inside bins.
    GstElement *Get(const char *name) { return gst_bin_get_by_name(GST_BIN(pipeline_), name); }
    GstElement *Element() { return pipeline_; }

    // To PAUSED; true once prerolled.
    bool Preroll(Outcome *outcome) {
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
        return WaitFor(GST_MESSAGE_ASYNC_DONE, outcome);
    }

    bool Seek(GstSeekFlags flags, gint64 start, gint64 stop, Outcome *outcome) {
        if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, start, GST_SEEK_TYPE_SET,
                              stop < 0 ? -1 : stop))
            return false;
        if (!(flags & GST_SEEK_FLAG_FLUSH)) return true;
        return WaitFor(GST_MESSAGE_ASYNC_DONE, outcome);
    }

    // Forgets what was rendered so far.
    void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        pcm_.clear();
        pts_.clear();
    }

    // Plays to the end of the stream (or a segment's end, or an error).
    Outcome Play() {
        Outcome outcome;
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        WaitFor(GST_MESSAGE_EOS, &outcome);
        return outcome;
    }

    // Prerolls and plays.
    Outcome Run() {
        Outcome outcome;
        if (!Preroll(&outcome)) return outcome;
        Outcome played = Play();
        played.warnings.insert(played.warnings.begin(), outcome.warnings.begin(), outcome.warnings.end());
        played.infos.insert(played.infos.begin(), outcome.infos.begin(), outcome.infos.end());
        return played;
    }

    Bytes Pcm() {
        std::lock_guard<std::mutex> guard(lock_);
        return pcm_;
    }
    // (PTS, bytes rendered before the buffer) of each buffer.
    std::vector<std::pair<GstClockTime, std::size_t>> Stamps() {
        std::lock_guard<std::mutex> guard(lock_);
        return pts_;
    }
    std::vector<Bytes> Buffers() {
        std::lock_guard<std::mutex> guard(lock_);
        return buffers_;
    }
    void KeepBuffers() { keepBuffers_ = true; }

private:
    static void OnHandoff(GstElement *, GstBuffer *buffer, GstPad *, gpointer data) {
        auto *self = static_cast<Pipeline *>(data);
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
        std::lock_guard<std::mutex> guard(self->lock_);
        self->pts_.emplace_back(GST_BUFFER_PTS(buffer), self->pcm_.size());
        self->pcm_.insert(self->pcm_.end(), map.data, map.data + map.size);
        if (self->keepBuffers_) self->buffers_.emplace_back(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
    }

    // Collects messages until `type` (or an error, or the end of stream).
    bool WaitFor(GstMessageType type, Outcome *outcome) {
        GstBus *bus = gst_element_get_bus(pipeline_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
        bool reached = false;
        while (!reached) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::seconds(0)) {
                outcome->timedOut = true;
                break;
            }
            GstMessage *message = gst_bus_timed_pop_filtered(
                bus, static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count()),
                static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_INFO |
                                            GST_MESSAGE_EOS | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_SEGMENT_DONE));
            if (!message) continue;
            const std::string source = GST_MESSAGE_SRC_NAME(message) ? GST_MESSAGE_SRC_NAME(message) : "?";
            GError *error = nullptr;
            gchar *debug = nullptr;
            switch (GST_MESSAGE_TYPE(message)) {
                case GST_MESSAGE_ERROR:
                    gst_message_parse_error(message, &error, &debug);
                    outcome->errors.push_back(source + ": " + error->message);
                    reached = true;  // nothing more comes
                    break;
                case GST_MESSAGE_WARNING:
                    gst_message_parse_warning(message, &error, &debug);
                    outcome->warnings.push_back(source + ": " + error->message);
                    break;
                case GST_MESSAGE_INFO:
                    gst_message_parse_info(message, &error, &debug);
                    outcome->infos.push_back(source + ": " + error->message);
                    break;
                case GST_MESSAGE_EOS:
                    outcome->eos = true;
                    reached = true;
                    break;
                case GST_MESSAGE_SEGMENT_DONE:
                    outcome->segmentDone = true;
                    reached = type == GST_MESSAGE_EOS;
                    break;
                case GST_MESSAGE_ASYNC_DONE: reached = reached || type == GST_MESSAGE_ASYNC_DONE; break;
                default: break;
            }
            if (error) g_error_free(error);
            g_free(debug);
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return reached && outcome->errors.empty() && (type != GST_MESSAGE_EOS || outcome->eos || outcome->segmentDone);
    }

    GstElement *pipeline_ = nullptr;
    std::mutex lock_;
    Bytes pcm_;
    std::vector<std::pair<GstClockTime, std::size_t>> pts_;
    std::vector<Bytes> buffers_;
    bool keepBuffers_ = false;
};

std::string ParseDecode(const std::string &path, const std::string &decoder = "velkorixdec") {
    return "filesrc location=\"" + path + "\" ! velkorixparse ! " + decoder + " name=dec ! fakesink name=sink";
}
std::string PushParseDecode(const std::string &path, int blocksize = 4096) {
    return "filesrc location=\"" + path + "\" blocksize=" + std::to_string(blocksize) +
           " ! queue ! velkorixparse name=parse ! velkorixdec name=dec ! fakesink name=sink";
}
std::string Decodebin(const std::string &path) {
    return "filesrc location=\"" + path + "\" ! decodebin ! fakesink name=sink";
}

// Whether two byte strings are equal, with the first difference when not.
::testing::AssertionResult SameBytes(const Bytes &expected, const Bytes &actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got " << actual.size()
                                         << "; first difference at byte " << at;
}

// ---- the plugin ----

TEST(GstPlugin, LoadsFromTheBuildWithItsThreeFeatures) {
    GstPlugin *plugin = gst_registry_find_plugin(gst_registry_get(), "velkorix");
    ASSERT_NE(plugin, nullptr) << "the registry has no plugin velkorix";
    EXPECT_STREQ(gst_plugin_get_filename(plugin), VELKORIX_GST_PLUGIN_FILE);
    GstPlugin *loaded = gst_plugin_load(plugin);
    ASSERT_NE(loaded, nullptr) << "the plugin does not load";
    EXPECT_TRUE(gst_plugin_is_loaded(loaded));
    gst_object_unref(loaded);
    gst_object_unref(plugin);

    GList *features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "velkorix");
    EXPECT_EQ(g_list_length(features), 3u);
    gst_plugin_feature_list_free(features);

    GstElementFactory *parse = gst_element_factory_find("velkorixparse");
    GstElementFactory *dec = gst_element_factory_find("velkorixdec");
    ASSERT_NE(parse, nullptr);
    ASSERT_NE(dec, nullptr);
    // decodebin takes parsers and decoders of a rank of at least marginal.
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(parse)), static_cast<guint>(GST_RANK_PRIMARY + 1));
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(dec)), static_cast<guint>(GST_RANK_PRIMARY));
    EXPECT_TRUE(gst_element_factory_list_is_type(parse, GST_ELEMENT_FACTORY_TYPE_PARSER));
    EXPECT_TRUE(gst_element_factory_list_is_type(dec, GST_ELEMENT_FACTORY_TYPE_DECODER));
    gst_object_unref(parse);
    gst_object_unref(dec);

    GstPluginFeature *finder = gst_registry_lookup_feature(gst_registry_get(), "audio/x-velkorix-stream");
    ASSERT_NE(finder, nullptr);
    ASSERT_TRUE(GST_IS_TYPE_FIND_FACTORY(finder));
    const gchar *const *extensions = gst_type_find_factory_get_extensions(GST_TYPE_FIND_FACTORY(finder));
    ASSERT_NE(extensions, nullptr);
    EXPECT_STREQ(extensions[0], "vks");
    gst_object_unref(finder);
}

// ---- the type finder ----

struct FindContext {
    const Bytes *data = nullptr;
    std::size_t available = 0;  // bytes peek may hand out
    bool lengthKnown = true;
    guint probability = 0;
    std::string caps;
    uint64_t maxPeekEnd = 0;
};

// Runs the plugin's type find function alone (as registered) on `data`.
FindContext FindWithPlugin(const Bytes &data, std::size_t available, bool lengthKnown) {
    FindContext context;
    context.data = &data;
    context.available = std::min(available, data.size());
    context.lengthKnown = lengthKnown;
    GstTypeFind find{};
    find.data = &context;
    find.peek = [](gpointer d, gint64 offset, guint size) -> const guint8 * {
        auto *c = static_cast<FindContext *>(d);
        if (offset < 0 || static_cast<uint64_t>(offset) + size > c->available) return nullptr;
        c->maxPeekEnd = std::max<uint64_t>(c->maxPeekEnd, static_cast<uint64_t>(offset) + size);
        return c->data->data() + offset;
    };
    find.suggest = [](gpointer d, guint probability, GstCaps *caps) {
        auto *c = static_cast<FindContext *>(d);
        if (probability <= c->probability) return;
        c->probability = probability;
        gchar *text = gst_caps_to_string(caps);
        c->caps = text;
        g_free(text);
    };
    find.get_length = [](gpointer d) -> guint64 {
        auto *c = static_cast<FindContext *>(d);
        return c->lengthKnown ? c->available : 0;
    };
    GstPluginFeature *factory = gst_registry_lookup_feature(gst_registry_get(), "audio/x-velkorix-stream");
    EXPECT_NE(factory, nullptr);
    if (factory) {
        gst_type_find_factory_call_function(GST_TYPE_FIND_FACTORY(factory), &find);
        gst_object_unref(factory);
    }
    return context;
}

// The caps every type finder of the registry agrees on for `data`.
std::string FindWithRegistry(const Bytes &data, const char *extension = nullptr) {
    GstTypeFindProbability probability;
    GstCaps *caps = extension ? gst_type_find_helper_for_data_with_extension(nullptr, data.data(), data.size(),
                                                                             extension, &probability)
                              : gst_type_find_helper_for_data(nullptr, data.data(), data.size(), &probability);
    if (!caps) return "";
    const std::string name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    gst_caps_unref(caps);
    return name;
}

TEST(GstTypeFind, RecognisesEveryStreamByItsStructure) {
    for (const std::string &name : StreamNames()) {
        SCOPED_TRACE(name);
        const Bytes data = ReadFile(StreamPath(name));
        const FindContext found = FindWithPlugin(data, data.size(), true);
        EXPECT_GE(found.probability, static_cast<guint>(GST_TYPE_FIND_LIKELY));
        EXPECT_EQ(found.caps, "audio/x-velkorix-stream, framed=(boolean)false");
        EXPECT_LE(found.maxPeekEnd, data.size());
        EXPECT_EQ(FindWithRegistry(data), "audio/x-velkorix-stream");
        // Whatever the name says.
        EXPECT_EQ(FindWithRegistry(data, "wav"), "audio/x-velkorix-stream");
    }
    // A damaged tail does not hide the stream.
    for (const char *name : {"cut-payload", "cut-header", "negative", "huge"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FindWithRegistry(ReadFile(StreamPath(name))), "audio/x-velkorix-stream");
    }
}

TEST(GstTypeFind, ProbabilityGrowsWithTheRecordsChecked) {
    // The first bytes of a stream as a push-mode typefind sees them, more
    // and more of them, length unknown.
    const Bytes data = ReadFile(StreamPath("speech-g726"));  // records of 138 bytes
    guint last = 0;
    std::vector<guint> seen;
    for (int records : {1, 2, 3, 4, 5, 8, 12, 40}) {
        const FindContext found = FindWithPlugin(data, static_cast<std::size_t>(records) * 138 + 18, false);
        seen.push_back(found.probability);
        EXPECT_GE(found.probability, last) << records << " records";
        last = found.probability;
    }
    EXPECT_LT(seen.front(), static_cast<guint>(GST_TYPE_FIND_POSSIBLE));
    EXPECT_GE(seen.back(), static_cast<guint>(GST_TYPE_FIND_NEARLY_CERTAIN));
    // One record alone, the whole input: likely, not certain.
    const Bytes one(data.begin(), data.begin() + 138);
    EXPECT_EQ(FindWithPlugin(one, one.size(), true).probability, static_cast<guint>(GST_TYPE_FIND_LIKELY));
    // The bytes that make it a stream are the header fields: a length one
    // off breaks the chain at once.
    Bytes broken = data;
    broken[14] = static_cast<uint8_t>(broken[14] + 1);
    EXPECT_EQ(FindWithPlugin(broken, broken.size(), true).probability, 0u);
    // So does a first record of a format the filter does not decode.
    Bytes invalid = data;
    invalid[13] = 4;
    EXPECT_EQ(FindWithPlugin(invalid, invalid.size(), true).probability, 0u);
}

TEST(GstTypeFind, RejectsOtherFilesWhateverTheirName) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char *name : {"speech.wav", "mixed.wav", "tone.wav", "tone.mp3", "silence.mp3", "tagged.mp3",
                             "zeros.bin", "readme.txt"})
        files.emplace_back(name, ReadFile(kStreams + "/other/" + name));
    // MPEG audio frame headers by hand: 128 kbit/s, 44.1 kHz frames of 417
    // bytes, silent and with noise.
    for (bool noise : {false, true}) {
        Bytes mp3;
        for (int frame = 0; frame < 40; ++frame) {
            const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x64};
            mp3.insert(mp3.end(), header, header + 4);
            for (int i = 0; i < 413; ++i) mp3.push_back(noise ? RandomByte() : 0);
        }
        files.emplace_back(noise ? "handmade noisy mp3" : "handmade silent mp3", mp3);
    }
    for (std::size_t size : {17u, 18u, 100u, 4096u, 100000u, 1000000u}) {
        for (int seed = 0; seed < 3; ++seed) {
            Bytes random(size);
            for (auto &b : random) b = RandomByte();
            files.emplace_back("random " + std::to_string(size), random);
        }
    }
    for (const auto &[name, data] : files) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(data.empty());
        const FindContext found = FindWithPlugin(data, data.size(), true);
        EXPECT_EQ(found.probability, 0u) << found.caps;
        EXPECT_NE(FindWithRegistry(data), "audio/x-velkorix-stream");
        EXPECT_NE(FindWithRegistry(data, "vks"), "audio/x-velkorix-stream");
    }
    EXPECT_EQ(FindWithRegistry(ReadFile(kStreams + "/other/speech.wav"), "vks"), "audio/x-wav");
    EXPECT_EQ(FindWithRegistry(ReadFile(kStreams + "/other/tone.mp3"), "vks"), "audio/mpeg");
}

// ---- the parser's buffers ----

TEST(GstParse, OneBufferPerRecordStampedWithItsOutput) {
    for (const char *name : {"mixed", "odd"}) {
        for (const char *mode : {"pull", "push"}) {
            SCOPED_TRACE(std::string(name) + ", " + mode);
            const Bytes data = ReadFile(StreamPath(name));
            const StreamIndex index = StreamIndex::Build(data.data(), data.size());
            const std::string queue = std::string(mode) == "push" ? " blocksize=1000 ! queue" : "";
            Pipeline pipeline("filesrc location=\"" + StreamPath(name) + "\"" + queue +
                              " ! velkorixparse ! fakesink name=sink");
            pipeline.KeepBuffers();
            const Outcome outcome = pipeline.Run();
            ASSERT_TRUE(outcome.eos) << outcome.Describe();
            EXPECT_TRUE(outcome.warnings.empty()) << outcome.Describe();
            const auto buffers = pipeline.Buffers();
            const auto stamps = pipeline.Stamps();
            ASSERT_EQ(buffers.size(), index.Records().size());
            for (std::size_t k = 0; k < buffers.size(); ++k) {
                const auto &entry = index.Records()[k];
                ASSERT_EQ(buffers[k].size(), entry.Size()) << "record " << k;
                EXPECT_EQ(std::memcmp(buffers[k].data(), data.data() + entry.offset, entry.Size()), 0);
                // The time of the record's first output sample at 8000 Hz.
                EXPECT_EQ(stamps[k].first, entry.FirstSample() * GST_SECOND / 8000) << "record " << k;
            }
        }
    }
}

TEST(GstParse, DurationInPullMode) {
    Pipeline pipeline(ParseDecode(StreamPath("speech-g726")));
    Outcome outcome;
    ASSERT_TRUE(pipeline.Preroll(&outcome)) << outcome.Describe();
    gint64 duration = -1;
    ASSERT_TRUE(gst_element_query_duration(pipeline.Element(), GST_FORMAT_TIME, &duration));
    EXPECT_EQ(duration, 72640 * GST_SECOND / 8000);  // 227 records of 320 samples
    GstQuery *query = gst_query_new_seeking(GST_FORMAT_TIME);
    ASSERT_TRUE(gst_element_query(pipeline.Element(), query));
    gboolean seekable = FALSE;
    gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    EXPECT_TRUE(seekable);
    gst_query_unref(query);
}

// ---- decoding ----

TEST(GstDecode, EveryStreamEqualsTheToolWithContinuousTimeStamps) {
    for (const std::string &name : StreamNames()) {
        SCOPED_TRACE(name);
        Pipeline pipeline(ParseDecode(StreamPath(name)));
        const Outcome outcome = pipeline.Run();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Reference(name), pipeline.Pcm()));
        for (const auto &[pts, before] : pipeline.Stamps())
            ASSERT_EQ(pts, gst_util_uint64_scale(before / 2, GST_SECOND, 8000)) << "buffer after " << before << " bytes";
    }
}

TEST(GstDecode, RateAndChannelsAsTheToolsOptions) {
    for (const char *name : {"odd", "mixed"}) {
        SCOPED_TRACE(name);
        Pipeline pipeline(ParseDecode(StreamPath(name), "velkorixdec rate=11025 channels=2"));
        const Outcome outcome = pipeline.Run();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Reference(name, ".11025x2"), pipeline.Pcm()));
        GstElement *sink = pipeline.Get("sink");
        GstPad *pad = gst_element_get_static_pad(sink, "sink");
        GstCaps *caps = gst_pad_get_current_caps(pad);
        ASSERT_NE(caps, nullptr);
        const GstStructure *s = gst_caps_get_structure(caps, 0);
        int rate = 0, channels = 0;
        gst_structure_get_int(s, "rate", &rate);
        gst_structure_get_int(s, "channels", &channels);
        EXPECT_EQ(rate, 11025);
        EXPECT_EQ(channels, 2);
        EXPECT_STREQ(gst_structure_get_string(s, "format"), "S16LE");
        gst_caps_unref(caps);
        gst_object_unref(pad);
        gst_object_unref(sink);
        gint64 duration = -1;
        ASSERT_TRUE(gst_element_query_duration(pipeline.Element(), GST_FORMAT_TIME, &duration));
        EXPECT_EQ(duration, static_cast<gint64>(gst_util_uint64_scale(Reference(name).size() / 4, GST_SECOND, 11025)));
    }
}

TEST(GstDecode, LevelChangesNoAudio) {
    GstElement *dec = gst_element_factory_make("velkorixdec", nullptr);
    ASSERT_NE(dec, nullptr);
    GParamSpec *spec = g_object_class_find_property(G_OBJECT_GET_CLASS(dec), "level");
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(G_PARAM_SPEC_INT(spec)->minimum, -128);
    EXPECT_EQ(G_PARAM_SPEC_INT(spec)->maximum, 127);
    EXPECT_EQ(G_PARAM_SPEC_INT(spec)->default_value, 0);
    gst_object_unref(dec);
    for (int level : {-128, -1, 64, 127}) {
        SCOPED_TRACE(level);
        Pipeline pipeline(ParseDecode(StreamPath("mixed"), "velkorixdec level=" + std::to_string(level)));
        const Outcome outcome = pipeline.Run();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Reference("mixed"), pipeline.Pcm()));
        GstElement *element = pipeline.Get("dec");
        int value = 0;
        g_object_get(element, "level", &value, nullptr);
        EXPECT_EQ(value, level);
        gst_object_unref(element);
    }
}

// The tool's summary line "invalid formats: N, decode failures: N, truncated samples: N".
void ToolCounts(const std::string &name, guint64 *invalid, guint64 *failures, guint64 *truncated) {
    std::ifstream in(kStreams + "/" + name + ".log");
    std::string line;
    unsigned long long a = 0, b = 0, c = 0;
    while (std::getline(in, line)) {
        if (std::sscanf(line.c_str(), "velkorix: invalid formats: %llu, decode failures: %llu, truncated samples: %llu",
                        &a, &b, &c) == 3)
            break;
    }
    *invalid = a;
    *failures = b;
    *truncated = c;
}

TEST(GstDecode, FilterMessagesAreCountedAndTheFirstOfEachKindPosted) {
    for (const char *name : {"mixed", "odd", "speech-g726"}) {
        SCOPED_TRACE(name);
        guint64 invalid, failures, truncated;
        ToolCounts(name, &invalid, &failures, &truncated);
        Pipeline pipeline(ParseDecode(StreamPath(name)));
        const Outcome outcome = pipeline.Run();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        GstElement *dec = pipeline.Get("dec");
        guint64 gotInvalid = 0, gotFailures = 0, gotTruncated = 0;
        g_object_get(dec, "invalid-formats", &gotInvalid, "decode-errors", &gotFailures, "truncated-records",
                     &gotTruncated, nullptr);
        gst_object_unref(dec);
        EXPECT_EQ(gotInvalid, invalid);
        EXPECT_EQ(gotFailures, failures);
        EXPECT_EQ(gotTruncated, truncated);

        const Bytes data = ReadFile(StreamPath(name));
        const StreamIndex index = StreamIndex::Build(data.data(), data.size());
        std::size_t decoderWarnings = 0;
        for (const std::string &warning : outcome.warnings) {
            if (warning.rfind("dec: ", 0) != 0) continue;
            ++decoderWarnings;
            unsigned long long offset = 0;
            ASSERT_EQ(std::sscanf(warning.c_str(), "dec: the record at byte offset %llu", &offset), 1) << warning;
            const velkorix::stream::IndexEntry *record = nullptr;
            for (const auto &e : index.Records())
                if (e.offset == offset) record = &e;
            ASSERT_NE(record, nullptr) << warning;
            if (warning.find("invalid audio format") != std::string::npos) {
                // The first record of format 4 or 5.
                const velkorix::stream::IndexEntry *first = nullptr;
                for (const auto &e : index.Records())
                    if (!first && (e.format == 4 || e.format == 5)) first = &e;
                EXPECT_EQ(record, first);
            }
        }
        EXPECT_EQ(decoderWarnings, (invalid > 0) + (failures > 0) + (truncated > 0)) << outcome.Describe();
        EXPECT_EQ(outcome.infos.size(), invalid + failures + truncated > 0 ? 1u : 0u);
    }
}

// ---- seeking ----

struct SeekCase {
    std::string name;
    std::string variant;  // "" (8000 Hz mono) or ".11025x2"
    int rate;
    int channels;
};

// The part of the whole decode from the sample frame at `start` to the one
// before `stop` (-1: to the end).
Bytes Slice(const Bytes &whole, int rate, int channels, gint64 start, gint64 stop) {
    const std::size_t frame = 2 * static_cast<std::size_t>(channels);
    const std::size_t frames = whole.size() / frame;
    std::size_t first = gst_util_uint64_scale(static_cast<guint64>(start), static_cast<guint64>(rate), GST_SECOND);
    std::size_t last = frames;
    if (stop >= 0)
        last = std::min<std::size_t>(frames, gst_util_uint64_scale_ceil(static_cast<guint64>(stop),
                                                                        static_cast<guint64>(rate), GST_SECOND));
    if (first >= last) return {};
    return Bytes(whole.begin() + static_cast<std::ptrdiff_t>(first * frame),
                 whole.begin() + static_cast<std::ptrdiff_t>(last * frame));
}

std::vector<gint64> ExactSeekTimes(const std::string &name, int rate, int channels) {
    const Bytes data = ReadFile(StreamPath(name));
    const StreamIndex index = StreamIndex::Build(data.data(), data.size());
    const gint64 end = static_cast<gint64>(velkorix::gst::DurationOf(index, rate, channels));
    std::vector<gint64> times = {0, static_cast<gint64>(GST_SECOND / rate), end / 3 + 12345, end / 2, end - 1, end,
                                 end + GST_SECOND};
    const auto &records = index.Records();
    for (std::size_t k : {records.size() / 5, records.size() / 2 + 1, records.size() - 1}) {
        times.push_back(static_cast<gint64>(velkorix::gst::TimesOf(records[k], rate, channels).pts));
        times.push_back(static_cast<gint64>(velkorix::gst::TimesOf(records[k], rate, channels).pts) + 77777);
    }
    for (std::size_t k = 1; k < records.size(); ++k) {
        if (records[k].format != records[k - 1].format)  // just after a change of format
            times.push_back(static_cast<gint64>(velkorix::gst::TimesOf(records[k], rate, channels).pts) + 200000);
    }
    return times;
}

// Times to seek to: the start, one sample in, inside records, on record
// boundaries, around codec changes, the last record, the end and beyond.
// At a rate whose sample frames do not last whole nanoseconds, a time
// within a nanosecond of a frame's start is ambiguous (time stamps are
// rounded down to nanoseconds, so the frame before may or may not hold it);
// there every time is moved to the middle of its frame.
std::vector<gint64> SeekTimes(const std::string &name, int rate, int channels) {
    std::vector<gint64> times = ExactSeekTimes(name, rate, channels);
    if (GST_SECOND % static_cast<guint64>(rate) != 0) {
        for (gint64 &t : times) {
            const guint64 frame = gst_util_uint64_scale(static_cast<guint64>(t), static_cast<guint64>(rate), GST_SECOND);
            t = static_cast<gint64>(gst_util_uint64_scale(2 * frame + 1, GST_SECOND, 2 * static_cast<guint64>(rate)));
        }
    }
    return times;
}

void CheckSeeks(const std::string &description, const SeekCase &c, const std::vector<gint64> &times) {
    const Bytes whole = Reference(c.name, c.variant);
    for (gint64 time : times) {
        SCOPED_TRACE("seek to " + std::to_string(time) + " ns");
        Pipeline pipeline(description);
        Outcome outcome;
        ASSERT_TRUE(pipeline.Preroll(&outcome)) << outcome.Describe();
        ASSERT_TRUE(pipeline.Seek(static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), time, -1,
                                  &outcome))
            << outcome.Describe();
        pipeline.Clear();
        outcome = pipeline.Play();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Slice(whole, c.rate, c.channels, time, -1), pipeline.Pcm()));
    }
}

TEST(GstSeek, PullModeGivesTheWholeDecodeFromTheSoughtSample) {
    for (const SeekCase &c : {SeekCase{"speech-g726", "", 8000, 1}, SeekCase{"speech-g729", "", 8000, 1},
                              SeekCase{"speech-adpcm", "", 8000, 1}, SeekCase{"mixed", "", 8000, 1},
                              SeekCase{"odd", "", 8000, 1}, SeekCase{"odd", ".11025x2", 11025, 2},
                              SeekCase{"mixed", ".11025x2", 11025, 2}}) {
        SCOPED_TRACE(c.name + c.variant);
        const std::string decoder = c.rate == 8000 ? "velkorixdec"
                                                   : "velkorixdec rate=" + std::to_string(c.rate) +
                                                         " channels=" + std::to_string(c.channels);
        CheckSeeks(ParseDecode(StreamPath(c.name), decoder), c, SeekTimes(c.name, c.rate, c.channels));
    }
}

TEST(GstSeek, DecodebinAndPushMode) {
    for (const SeekCase &c : {SeekCase{"speech-g729", "", 8000, 1}, SeekCase{"mixed", "", 8000, 1},
                              SeekCase{"odd", "", 8000, 1}}) {
        SCOPED_TRACE(c.name);
        const std::vector<gint64> times = SeekTimes(c.name, c.rate, c.channels);
        {
            SCOPED_TRACE("decodebin");
            CheckSeeks(Decodebin(StreamPath(c.name)), c, times);
        }
        {
            // Push mode: a seek in bytes upstream to the record decoding
            // starts at; records not yet seen are indexed on the way.
            SCOPED_TRACE("push mode");
            CheckSeeks(PushParseDecode(StreamPath(c.name), 3000), c, times);
        }
    }
}

TEST(GstSeek, AgainAfterTheEndWithAStopAndAsASegment) {
    const SeekCase c{"mixed", "", 8000, 1};
    const Bytes whole = Reference(c.name);
    const Bytes data = ReadFile(StreamPath(c.name));
    const StreamIndex index = StreamIndex::Build(data.data(), data.size());
    const gint64 end = static_cast<gint64>(velkorix::gst::DurationOf(index, 8000, 1));
    for (const std::string &description : {ParseDecode(StreamPath(c.name)), PushParseDecode(StreamPath(c.name), 512)}) {
        SCOPED_TRACE(description);
        Pipeline pipeline(description);
        Outcome outcome = pipeline.Run();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(whole, pipeline.Pcm()));
        // Back from the end, to a time before a stop.
        const gint64 start = end / 4 + 3333, stop = end / 2 + 98765;
        gst_element_set_state(pipeline.Element(), GST_STATE_PAUSED);
        gst_element_get_state(pipeline.Element(), nullptr, nullptr, GST_CLOCK_TIME_NONE);
        ASSERT_TRUE(
            pipeline.Seek(static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), start, stop, &outcome))
            << outcome.Describe();
        pipeline.Clear();
        outcome = pipeline.Play();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Slice(whole, 8000, 1, start, stop), pipeline.Pcm()));
        // Twice in a row before playing: the second one counts.
        gst_element_set_state(pipeline.Element(), GST_STATE_PAUSED);
        gst_element_get_state(pipeline.Element(), nullptr, nullptr, GST_CLOCK_TIME_NONE);
        ASSERT_TRUE(pipeline.Seek(GST_SEEK_FLAG_FLUSH, end / 2, -1, &outcome)) << outcome.Describe();
        ASSERT_TRUE(pipeline.Seek(GST_SEEK_FLAG_FLUSH, end / 8, -1, &outcome)) << outcome.Describe();
        pipeline.Clear();
        outcome = pipeline.Play();
        ASSERT_TRUE(outcome.eos) << outcome.Describe();
        EXPECT_TRUE(SameBytes(Slice(whole, 8000, 1, end / 8, -1), pipeline.Pcm()));
    }
    // A segment seek ends with segment-done instead of the end of stream.
    Pipeline pipeline(ParseDecode(StreamPath(c.name)));
    Outcome outcome;
    ASSERT_TRUE(pipeline.Preroll(&outcome));
    ASSERT_TRUE(pipeline.Seek(static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_SEGMENT), end / 3,
                              end / 3 * 2, &outcome));
    pipeline.Clear();
    outcome = pipeline.Play();
    EXPECT_TRUE(outcome.segmentDone) << outcome.Describe();
    EXPECT_TRUE(SameBytes(Slice(whole, 8000, 1, end / 3, end / 3 * 2), pipeline.Pcm()));
}

// ---- damaged and hostile streams ----

// "stream ends at byte offset N: REASON" as the stream layer says it.
std::string DamageText(const std::string &path) {
    const Bytes data = ReadFile(path);
    const StreamIndex index = StreamIndex::Build(data.data(), data.size());
    return "stream ends at byte offset " + std::to_string(index.End().offset) + ": " + index.End().Reason();
}

TEST(GstStreamErrors, ADamagedTailEndsTheStreamWithAWarning) {
    for (const char *name : {"cut-payload", "cut-header", "negative", "huge", "most-negative"}) {
        const std::string path = StreamPath(name);
        const std::string text = DamageText(path);
        for (const std::string &description :
             {ParseDecode(path), PushParseDecode(path, 100), PushParseDecode(path, 1), Decodebin(path)}) {
            SCOPED_TRACE(description);
            Pipeline pipeline(description);
            const Outcome outcome = pipeline.Run();
            EXPECT_TRUE(outcome.eos) << outcome.Describe();
            EXPECT_TRUE(outcome.errors.empty()) << outcome.Describe();
            EXPECT_TRUE(outcome.HasWarning(text)) << "expected: " << text << "\n" << outcome.Describe();
            EXPECT_TRUE(SameBytes(Reference(name), pipeline.Pcm()));
        }
    }
}

TEST(GstStreamErrors, NoCompleteRecordIsAnError) {
    const std::pair<const char *, const char *> cases[] = {
        {"empty", "the stream is empty: it holds no records"},
        {"short", "the stream holds no complete record: at byte offset 0 the input ends inside a record header (9 of "
                  "18 bytes)"},
        {"negative-first",
         "the stream holds no complete record: at byte offset 0 the record declares a negative payload length (-1)"},
        {"huge-first", "the stream holds no complete record: at byte offset 0 the input ends inside a record payload "
                       "(5000 of 1000000 bytes)"},
    };
    for (const auto &[name, text] : cases) {
        const std::string path = StreamPath(name);
        for (const std::string &description : {ParseDecode(path), PushParseDecode(path, 64)}) {
            SCOPED_TRACE(description);
            Pipeline pipeline(description);
            const Outcome outcome = pipeline.Run();
            EXPECT_FALSE(outcome.timedOut) << outcome.Describe();
            EXPECT_TRUE(outcome.HasError(text)) << "expected: " << text << "\n" << outcome.Describe();
            EXPECT_TRUE(pipeline.Pcm().empty());
        }
    }
}

// The data chunk of a WAV file (empty when there is none).
Bytes WavData(const Bytes &file) {
    std::size_t at = 12;
    while (file.size() >= 12 && at + 8 <= file.size()) {
        const uint32_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 | static_cast<uint32_t>(file[at + 7]) << 24;
        if (std::memcmp(file.data() + at, "data", 4) == 0) {
            const std::size_t length = std::min<std::size_t>(size, file.size() - at - 8);
            return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// Runs velkorix decode on `path`; the PCM it writes (empty when it writes nothing).
Bytes ToolDecode(const std::string &path) {
    const std::string wav = path + ".wav";
    std::remove(wav.c_str());
    const std::string command = std::string("\"") + VELKORIX_CLI_PATH + "\" decode \"" + path + "\" -o \"" + wav +
                                "\" 2>/dev/null >/dev/null";
    const int status = std::system(command.c_str());
    (void)status;
    return WavData(ReadFile(wav));
}

TEST(GstStreamErrors, HostileStreamsEndInAMessageAndDecodeAsTheToolDoes) {
    // The mixed stream with header bytes overwritten at random: lengths that
    // run past the end or far into the next records, negative lengths,
    // formats of every value; and random bytes after a sound first record.
    const Bytes mixed = ReadFile(StreamPath("mixed"));
    const StreamIndex index = StreamIndex::Build(mixed.data(), mixed.size());
    const std::string dir = std::string(VELKORIX_GST_WORK_DIR);
    std::vector<Bytes> inputs;
    for (int n = 0; n < 12; ++n) {
        Bytes data = mixed;
        for (int hits = 0; hits < 3; ++hits) {
            const auto &record = index.Records()[(RandomByte() * 256u + RandomByte()) % index.Records().size()];
            const std::size_t field = 13 + RandomByte() % 5;  // the format byte or a length byte
            data[record.offset + field] = RandomByte();
        }
        inputs.push_back(data);
    }
    {
        Bytes data(mixed.begin(), mixed.begin() + 138);
        for (int i = 0; i < 5000; ++i) data.push_back(RandomByte());
        inputs.push_back(data);
    }
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const std::string path = dir + "/hostile-" + std::to_string(k) + ".vks";
        WriteFile(path, inputs[k]);
        const Bytes expected = ToolDecode(path);
        const StreamIndex damaged = StreamIndex::Build(inputs[k].data(), inputs[k].size());
        for (const std::string &description : {ParseDecode(path), PushParseDecode(path, 333)}) {
            SCOPED_TRACE(description);
            Pipeline pipeline(description);
            const Outcome outcome = pipeline.Run();
            EXPECT_FALSE(outcome.timedOut) << outcome.Describe();
            if (damaged.Records().empty()) {
                EXPECT_FALSE(outcome.errors.empty()) << outcome.Describe();
                continue;
            }
            EXPECT_TRUE(outcome.eos) << outcome.Describe();
            if (damaged.End().Damaged()) {
                EXPECT_TRUE(outcome.HasWarning(DamageText(path))) << outcome.Describe();
            }
            EXPECT_TRUE(SameBytes(expected, pipeline.Pcm()));
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    // The plugin from the build and a registry of its own, unless the caller
    // says otherwise; plugins are scanned in this process, so that a
    // sanitizer build of the plugin loads.
    g_setenv("GST_PLUGIN_PATH", VELKORIX_GST_PLUGIN_DIR, FALSE);
    g_setenv("GST_REGISTRY", VELKORIX_GST_REGISTRY, FALSE);
    g_setenv("GST_REGISTRY_FORK", "no", FALSE);
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (ctest's discovery at build time) needs no registry.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    gst_init(&argc, &argv);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
