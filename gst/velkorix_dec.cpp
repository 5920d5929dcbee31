// velkorixdec: records of a framed stream in, 16-bit PCM out. Each record
// goes through one instance of the decoding filter as one input sample
// (FilterRunner, the filter's own per-sample path, as `velkorix decode` runs
// it), so the output is the tool's byte for byte.
//
// The filter's output for a record may end inside a sample frame (the
// output length rule gives odd byte counts for some payload lengths); the
// tool writes the bytes as they come, so later samples straddle records.
// The decoder does the same: it keeps the bytes of an unfinished frame and
// puts them in front of the next record's output, and drops them at the end
// of the stream, as the tool does.
//
// Rate and channels: the properties are what the decoder asks its upstream
// for (the parser stamps time with them) and what the filter's input format
// block says, as the tool's --rate and --channels. The level property is the
// filter's ILevelAdjust level (it changes the media type the filter attaches,
// never the audio).
//
// The filter's debugger messages ("audio sample truncated!", an invalid
// audio format, a decode error) are caught per streaming thread. The first
// of each kind is posted as a warning naming the record's byte offset; all
// are counted in the read-only properties truncated-records,
// invalid-formats and decode-errors, and the totals go to the bus as an info
// message at the end of the stream.
#include <gst/audio/audio.h>
#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "common/debug_channel.h"
#include "elements.h"
#include "filter/audio_decoder_filter.h"
#include "filter/codec_context.h"
#include "runner/filter_runner.h"
#include "stream/frame_format.h"

GST_DEBUG_CATEGORY_STATIC(velkorix_dec_debug);
#define GST_CAT_DEFAULT velkorix_dec_debug

namespace velkorix::gst {
namespace {

enum Property {
    kPropRate = 1,
    kPropChannels,
    kPropLevel,
    kPropTruncated,
    kPropInvalidFormats,
    kPropDecodeErrors,
};

enum MessageKind { kTruncated, kInvalidFormat, kDecodeError, kMessageKinds };

struct DecState {
    // Properties (under the object lock).
    int rate = kDefaultRate;
    int channels = kDefaultChannels;
    int level = 0;

    // Streaming.
    int activeRate = 0;
    int activeChannels = 0;
    std::unique_ptr<runner::FilterRunner> runner;
    std::vector<uint8_t> pcm;  // output not yet given out: less than a frame between records
    uint64_t recordOffset = 0;  // byte offset of the record being decoded (GST_BUFFER_OFFSET)
    bool recordOffsetKnown = false;

    std::atomic<guint64> counts[kMessageKinds] = {};
    bool warned[kMessageKinds] = {};
};

}  // namespace

struct VelkorixDec {
    GstAudioDecoder decoder;
    DecState *state;
};

struct VelkorixDecClass {
    GstAudioDecoderClass parent_class;
};

#define VELKORIX_DEC(object) (reinterpret_cast<VelkorixDec *>(object))

G_DEFINE_TYPE(VelkorixDec, velkorix_dec, GST_TYPE_AUDIO_DECODER)

GType DecoderGetType() { return velkorix_dec_get_type(); }

namespace {

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(kFramedCaps));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                    "rate = (int) [ 1, 768000 ], channels = (int) [ 1, 16 ]"));

// ---- the filter's debugger messages ----

struct Capture {
    VelkorixDec *self;
};

void OnDebugMessage(void *context, const char *text) {
    VelkorixDec *self = static_cast<Capture *>(context)->self;
    DecState &st = *self->state;
    MessageKind kind;
    if (std::strcmp(text, kTruncatedSampleMessage) == 0)
        kind = kTruncated;
    else if (std::strcmp(text, kInvalidFormatMessage) == 0)
        kind = kInvalidFormat;
    else if (std::strcmp(text, kDecodeErrorMessage) == 0)
        kind = kDecodeError;
    else {
        GST_DEBUG_OBJECT(self, "filter: %s", text);
        return;
    }
    ++st.counts[kind];
    GST_LOG_OBJECT(self, "filter: %s", text);
    if (st.warned[kind]) return;
    st.warned[kind] = true;
    static const char *const what[kMessageKinds] = {
        "is truncated: its payload is shorter than its format needs, or its output longer than the filter's "
        "buffer; it is decoded as far as it goes (later ones are counted in the property truncated-records)",
        "has an invalid audio format: it decodes to silence (later ones are counted in the property "
        "invalid-formats)",
        "could not be decoded: its output is silence (later ones are counted in the property decode-errors)",
    };
    if (st.recordOffsetKnown) {
        GST_ELEMENT_WARNING(self, STREAM, DECODE,
                            ("the record at byte offset %" G_GUINT64_FORMAT " %s",
                             static_cast<guint64>(st.recordOffset), what[kind]),
                            ("filter: %s", text));
    } else {
        GST_ELEMENT_WARNING(self, STREAM, DECODE, ("a record %s", what[kind]), ("filter: %s", text));
    }
}

// ---- the filter ----

bool StartFilter(VelkorixDec *self) {
    DecState &st = *self->state;
    int level;
    GST_OBJECT_LOCK(self);
    level = st.level;
    GST_OBJECT_UNLOCK(self);
    st.runner.reset();
    st.pcm.clear();
    std::vector<uint8_t> *pcm = &st.pcm;
    auto runner = std::make_unique<runner::FilterRunner>(
        st.activeRate, st.activeChannels,
        [pcm](const uint8_t *data, std::size_t size) { pcm->insert(pcm->end(), data, data + size); });
    if (FAILED(runner->Status())) {
        GST_ELEMENT_ERROR(self, LIBRARY, INIT, (nullptr),
                          ("the decoding filter could not be set up (0x%08x)", static_cast<unsigned>(runner->Status())));
        return false;
    }
    runner->Filter().SetLevel(level, 0);
    st.pcm.reserve(static_cast<std::size_t>(stream::kOutputBufferBytes) + 64);
    st.runner = std::move(runner);
    return true;
}

gboolean Start(GstAudioDecoder *decoder) {
    DecState &st = *VELKORIX_DEC(decoder)->state;
    for (auto &count : st.counts) count = 0;
    for (bool &warned : st.warned) warned = false;
    st.activeRate = st.activeChannels = 0;
    st.runner.reset();
    st.pcm.clear();
    return TRUE;
}

gboolean Stop(GstAudioDecoder *decoder) {
    DecState &st = *VELKORIX_DEC(decoder)->state;
    st.runner.reset();
    st.pcm.clear();
    return TRUE;
}

gboolean SetFormat(GstAudioDecoder *decoder, GstCaps *caps) {
    VelkorixDec *self = VELKORIX_DEC(decoder);
    DecState &st = *self->state;
    GST_OBJECT_LOCK(self);
    int rate = st.rate, channels = st.channels;
    GST_OBJECT_UNLOCK(self);
    // The stream's caps carry the rate and channels the parser stamped time
    // with; they match the properties unless upstream insisted otherwise.
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(s, "rate", &rate);
    gst_structure_get_int(s, "channels", &channels);
    if (rate < 1 || rate > kMaxRate || channels < 1 || channels > kMaxChannels) return FALSE;

    GstAudioInfo info;
    gst_audio_info_init(&info);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, rate, channels, nullptr);
    if (!gst_audio_decoder_set_output_format(decoder, &info)) return FALSE;
    if (st.runner && rate == st.activeRate && channels == st.activeChannels) return TRUE;
    st.activeRate = rate;
    st.activeChannels = channels;
    return StartFilter(self);
}

GstFlowReturn HandleFrame(GstAudioDecoder *decoder, GstBuffer *buffer) {
    VelkorixDec *self = VELKORIX_DEC(decoder);
    DecState &st = *self->state;
    if (!buffer) {
        // Draining: the bytes of an unfinished frame have no sample to go in.
        if (!st.pcm.empty()) GST_DEBUG_OBJECT(self, "dropping %" G_GSIZE_FORMAT " bytes short of a frame", st.pcm.size());
        st.pcm.clear();
        return GST_FLOW_OK;
    }
    if (!st.runner) return GST_FLOW_NOT_NEGOTIATED;

    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot read an input buffer"));
        return GST_FLOW_ERROR;
    }
    st.recordOffsetKnown = GST_BUFFER_OFFSET_IS_VALID(buffer);
    st.recordOffset = st.recordOffsetKnown ? GST_BUFFER_OFFSET(buffer) : 0;
    Capture capture{self};
    DebugSink previous = nullptr;
    void *previousContext = nullptr;
    SetThreadDebugSink(OnDebugMessage, &capture, &previous, &previousContext);
    const HRESULT fed = st.runner->Feed(map.data, map.size);
    SetThreadDebugSink(previous, previousContext);
    gst_buffer_unmap(buffer, &map);
    if (FAILED(fed)) {
        GST_ELEMENT_ERROR(self, STREAM, DECODE, (nullptr),
                          ("the filter refused the record (0x%08x)", static_cast<unsigned>(fed)));
        return GST_FLOW_ERROR;
    }

    const std::size_t frame = static_cast<std::size_t>(stream::kBytesPerSample * st.activeChannels);
    const std::size_t whole = st.pcm.size() - st.pcm.size() % frame;
    if (whole == 0) return gst_audio_decoder_finish_frame(decoder, nullptr, 1);
    GstBuffer *out = gst_audio_decoder_allocate_output_buffer(decoder, whole);
    if (!out) return GST_FLOW_ERROR;
    gst_buffer_fill(out, 0, st.pcm.data(), whole);
    st.pcm.erase(st.pcm.begin(), st.pcm.begin() + static_cast<std::ptrdiff_t>(whole));
    return gst_audio_decoder_finish_frame(decoder, out, 1);
}

// A flush (a seek) or a discontinuity: the parser starts again at a record
// where the filter starts a fresh decoder, so the filter starts afresh too.
void Flush(GstAudioDecoder *decoder, gboolean) {
    VelkorixDec *self = VELKORIX_DEC(decoder);
    DecState &st = *self->state;
    if (st.runner) StartFilter(self);
    st.pcm.clear();
}

gboolean SinkEvent(GstAudioDecoder *decoder, GstEvent *event) {
    VelkorixDec *self = VELKORIX_DEC(decoder);
    DecState &st = *self->state;
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        const guint64 truncated = st.counts[kTruncated], invalid = st.counts[kInvalidFormat],
                      errors = st.counts[kDecodeError];
        if (truncated + invalid + errors > 0) {
            GST_ELEMENT_INFO(self, STREAM, DECODE,
                             ("records truncated: %" G_GUINT64_FORMAT ", invalid formats: %" G_GUINT64_FORMAT
                              ", decode errors: %" G_GUINT64_FORMAT,
                              truncated, invalid, errors),
                             (nullptr));
        }
    }
    return GST_AUDIO_DECODER_CLASS(velkorix_dec_parent_class)->sink_event(decoder, event);
}

// Upstream is asked for the rate and channels set on the element.
GstCaps *GetCaps(GstAudioDecoder *decoder, GstCaps *filter) {
    VelkorixDec *self = VELKORIX_DEC(decoder);
    GST_OBJECT_LOCK(self);
    const int rate = self->state->rate, channels = self->state->channels;
    GST_OBJECT_UNLOCK(self);
    GstCaps *caps = gst_static_pad_template_get_caps(&sinkTemplate);
    caps = gst_caps_make_writable(caps);
    gst_caps_set_simple(caps, "rate", G_TYPE_INT, rate, "channels", G_TYPE_INT, channels, nullptr);
    if (filter) {
        GstCaps *both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

void SetProperty(GObject *object, guint id, const GValue *value, GParamSpec *spec) {
    VelkorixDec *self = VELKORIX_DEC(object);
    DecState &st = *self->state;
    switch (id) {
        case kPropRate:
            GST_OBJECT_LOCK(self);
            st.rate = g_value_get_int(value);
            GST_OBJECT_UNLOCK(self);
            break;
        case kPropChannels:
            GST_OBJECT_LOCK(self);
            st.channels = g_value_get_int(value);
            GST_OBJECT_UNLOCK(self);
            break;
        case kPropLevel: {
            GST_OBJECT_LOCK(self);
            st.level = g_value_get_int(value);
            const int level = st.level;
            GST_OBJECT_UNLOCK(self);
            // The filter's level may change at any time; it is read under
            // the filter's own lock.
            GST_AUDIO_DECODER_STREAM_LOCK(self);
            if (st.runner) st.runner->Filter().SetLevel(level, 0);
            GST_AUDIO_DECODER_STREAM_UNLOCK(self);
            break;
        }
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec); break;
    }
}

void GetProperty(GObject *object, guint id, GValue *value, GParamSpec *spec) {
    VelkorixDec *self = VELKORIX_DEC(object);
    DecState &st = *self->state;
    switch (id) {
        case kPropRate:
            GST_OBJECT_LOCK(self);
            g_value_set_int(value, st.rate);
            GST_OBJECT_UNLOCK(self);
            break;
        case kPropChannels:
            GST_OBJECT_LOCK(self);
            g_value_set_int(value, st.channels);
            GST_OBJECT_UNLOCK(self);
            break;
        case kPropLevel:
            GST_OBJECT_LOCK(self);
            g_value_set_int(value, st.level);
            GST_OBJECT_UNLOCK(self);
            break;
        case kPropTruncated: g_value_set_uint64(value, st.counts[kTruncated]); break;
        case kPropInvalidFormats: g_value_set_uint64(value, st.counts[kInvalidFormat]); break;
        case kPropDecodeErrors: g_value_set_uint64(value, st.counts[kDecodeError]); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec); break;
    }
}

void Finalize(GObject *object) {
    VelkorixDec *self = VELKORIX_DEC(object);
    delete self->state;
    self->state = nullptr;
    G_OBJECT_CLASS(velkorix_dec_parent_class)->finalize(object);
}

}  // namespace

static void velkorix_dec_class_init(VelkorixDecClass *klass) {
    GObjectClass *objectClass = G_OBJECT_CLASS(klass);
    GstElementClass *elementClass = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass *decoderClass = GST_AUDIO_DECODER_CLASS(klass);
    objectClass->set_property = SetProperty;
    objectClass->get_property = GetProperty;
    objectClass->finalize = Finalize;

    const auto readyOnly = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        objectClass, kPropRate,
        g_param_spec_int("rate", "Rate",
                         "Sample rate of the stream's format block, in sample frames per second (as velkorix decode "
                         "--rate)",
                         1, kMaxRate, kDefaultRate, readyOnly));
    g_object_class_install_property(
        objectClass, kPropChannels,
        g_param_spec_int("channels", "Channels",
                         "Channel count of the stream's format block (as velkorix decode --channels)", 1, kMaxChannels,
                         kDefaultChannels, readyOnly));
    g_object_class_install_property(
        objectClass, kPropLevel,
        g_param_spec_int("level", "Level",
                         "The filter's level (its ILevelAdjust value); it changes the media type the filter attaches "
                         "to its output, not the audio",
                         -128, 127, 0,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                  GST_PARAM_MUTABLE_PLAYING)));
    const auto readable = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        objectClass, kPropTruncated,
        g_param_spec_uint64("truncated-records", "Truncated records",
                            "Records the filter reported as truncated (\"audio sample truncated!\")", 0, G_MAXUINT64,
                            0, readable));
    g_object_class_install_property(
        objectClass, kPropInvalidFormats,
        g_param_spec_uint64("invalid-formats", "Invalid formats", "Records of an invalid audio format", 0,
                            G_MAXUINT64, 0, readable));
    g_object_class_install_property(objectClass, kPropDecodeErrors,
                                    g_param_spec_uint64("decode-errors", "Decode errors",
                                                        "Records the codec failed to decode (\"audio decode error!\")",
                                                        0, G_MAXUINT64, 0, readable));

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Velkorix decoder", "Codec/Decoder/Audio",
        "Decodes the records of a framed Velkorix stream (G.726, G.711, G.729 Annex A, IMA ADPCM) to 16-bit PCM "
        "through the Velkorix decoding filter",
        "Velkorix");

    decoderClass->start = Start;
    decoderClass->stop = Stop;
    decoderClass->set_format = SetFormat;
    decoderClass->handle_frame = HandleFrame;
    decoderClass->flush = Flush;
    decoderClass->sink_event = SinkEvent;
    decoderClass->getcaps = GetCaps;
}

static void velkorix_dec_init(VelkorixDec *self) {
    self->state = new DecState;
    GstAudioDecoder *decoder = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_needs_format(decoder, TRUE);
    gst_audio_decoder_set_drainable(decoder, TRUE);
    gst_audio_decoder_set_tolerance(decoder, 0);
    gst_audio_decoder_set_use_default_pad_acceptcaps(decoder, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_AUDIO_DECODER_SINK_PAD(decoder));
}

gboolean RegisterDecoder(GstPlugin *plugin) {
    GST_DEBUG_CATEGORY_INIT(velkorix_dec_debug, "velkorixdec", 0, "Velkorix decoder");
    return gst_element_register(plugin, "velkorixdec", GST_RANK_PRIMARY, velkorix_dec_get_type());
}

}  // namespace velkorix::gst
