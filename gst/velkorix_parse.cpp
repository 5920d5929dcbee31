// velkorixparse: a framed stream in, one buffer per record out, each stamped
// with the time and duration of the output it decodes to.
//
// Pull mode (a file, directly or behind typefind in decodebin): on its first
// run the parser indexes the stream, reading only the headers, then pulls
// one record after another. The index gives the duration, and a seek to a
// time starts at the record whose output holds that time.
//
// Seeking and the decoders' memory: the G.726 and G.729 decoders carry
// state from record to record (predictors, filters, post-filter), so
// decoding that began at the sought record would give other samples than the
// whole decode. After a seek the parser therefore starts at the latest record
// at or before the sought one that decodes alike from a fresh decoder (the
// first record, a change of codec, or a record of a codec without such state:
// G.711, IMA ADPCM with its header), whose output also begins on a whole
// sample frame (stream::DecodeStartFor); for a G.726 or G.729 stream of one
// format that is its first record. It sends those records with their true
// time stamps and a segment that starts at the sought time, so the decoder
// decodes them and drops their output before the segment: what comes out is
// exactly the whole decode from the sought sample on. Decoding is thousands
// of times faster than real time; the cost of a seek grows with the distance
// from that record (see README).
//
// Push mode (a pipe, a network source, a queue in front): records are split
// from the arriving chunks by the stream layer's scanner and indexed as they
// pass. A seek becomes a seek in bytes upstream to the record decoding must
// start at (the latest one indexed when the sought time lies beyond what has
// arrived), when upstream can seek.
//
// Damage: the stream ends after the last complete record, with a warning on
// the bus that says why and at which byte offset; a stream without a single
// complete record is an error.
#include <gst/base/gstadapter.h>
#include <gst/gst.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "elements.h"
#include "filter/codec_context.h"
#include "record_splitter.h"
#include "stream/byte_source.h"
#include "stream/stream_index.h"

GST_DEBUG_CATEGORY_STATIC(velkorix_parse_debug);
#define GST_CAT_DEFAULT velkorix_parse_debug

namespace velkorix::gst {
namespace {

// Reads the stream through the upstream pad in pull mode, a block at a time,
// so that indexing a stream of short records does not pull every header
// separately.
class PullSource final : public stream::ByteSource {
public:
    static constexpr uint32_t kBlock = 64 * 1024;

    // `size`: the stream's length in bytes, or UINT64_MAX when unknown.
    PullSource(GstPad *pad, uint64_t size) : pad_(pad), size_(size) {}

    std::size_t Read(uint8_t *into, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            if (position_ < blockStart_ || position_ >= blockStart_ + block_.size()) {
                if (!Fill(position_)) break;
            }
            const std::size_t at = static_cast<std::size_t>(position_ - blockStart_);
            const std::size_t take = std::min(size - done, block_.size() - at);
            std::memcpy(into + done, block_.data() + at, take);
            done += take;
            position_ += take;
        }
        return done;
    }

    uint64_t Skip(uint64_t count) override {
        if (size_ == UINT64_MAX) return ByteSource::Skip(count);
        const uint64_t take = position_ >= size_ ? 0 : std::min(count, size_ - position_);
        position_ += take;
        return take;
    }

    bool Seek(uint64_t offset) override {
        if (size_ != UINT64_MAX && offset > size_) return false;
        position_ = offset;
        return true;
    }

    bool Failed() const override { return flow_ != GST_FLOW_OK && flow_ != GST_FLOW_EOS; }
    std::string Error() const override { return std::string("reading failed: ") + gst_flow_get_name(flow_); }
    GstFlowReturn Flow() const { return flow_; }

private:
    bool Fill(uint64_t offset) {
        if (flow_ != GST_FLOW_OK) return false;
        GstBuffer *buffer = nullptr;
        flow_ = gst_pad_pull_range(pad_, offset, kBlock, &buffer);
        if (flow_ != GST_FLOW_OK) return false;
        const gsize size = gst_buffer_get_size(buffer);
        block_.resize(size);
        gst_buffer_extract(buffer, 0, block_.data(), size);
        gst_buffer_unref(buffer);
        blockStart_ = offset;
        if (size == 0) {
            flow_ = GST_FLOW_EOS;
            return false;
        }
        return true;
    }

    GstPad *pad_;
    uint64_t size_;
    uint64_t position_ = 0;
    std::vector<uint8_t> block_;
    uint64_t blockStart_ = 0;
    GstFlowReturn flow_ = GST_FLOW_OK;
};

// A seek in push mode, waiting for upstream's segment at its byte offset.
struct PendingSeek {
    bool active = false;
    GstSegment segment;
    std::size_t record = 0;
    uint64_t offset = 0;
    guint32 seqnum = 0;
};

// Everything the element keeps besides its pads. `lock` guards what the
// application's queries and seeks read while the streaming thread works:
// the index (pull mode) or the splitter (push mode), the segment, the
// negotiated rate and channels, and a pending seek. The streaming thread
// never holds it while pushing.
struct ParseState {
    std::mutex lock;
    bool pull = false;

    // Pull mode.
    bool indexed = false;
    stream::StreamIndex index;
    std::size_t next = 0;

    // Push mode.
    RecordSplitter splitter;
    GstAdapter *adapter = nullptr;
    bool pushEnded = false;  // damage seen: the rest of the input is refused
    PendingSeek pendingSeek;

    GstSegment segment;
    guint32 segmentSeqnum = 0;
    bool streamStarted = false;
    bool capsSent = false;
    bool needSegment = true;
    bool discont = true;
    int rate = kDefaultRate;
    int channels = kDefaultChannels;

    // The index in use: the whole stream's in pull mode, what has passed in
    // push mode.
    const stream::StreamIndex &Index() const { return pull ? index : splitter.Index(); }
    bool IndexComplete() const { return pull ? indexed : splitter.Complete(); }

    void Reset() {
        indexed = false;
        index = stream::StreamIndex{};
        next = 0;
        splitter = RecordSplitter{};
        if (adapter) gst_adapter_clear(adapter);
        pushEnded = false;
        pendingSeek = PendingSeek{};
        gst_segment_init(&segment, GST_FORMAT_TIME);
        segmentSeqnum = gst_util_seqnum_next();
        streamStarted = false;
        capsSent = false;
        needSegment = true;
        discont = true;
        rate = kDefaultRate;
        channels = kDefaultChannels;
    }
};

}  // namespace

struct VelkorixParse {
    GstElement element;
    GstPad *sinkpad;
    GstPad *srcpad;
    ParseState *state;
};

struct VelkorixParseClass {
    GstElementClass parent_class;
};

#define VELKORIX_PARSE(object) (reinterpret_cast<VelkorixParse *>(object))

G_DEFINE_TYPE(VelkorixParse, velkorix_parse, GST_TYPE_ELEMENT)

GType ParseGetType() { return velkorix_parse_get_type(); }

namespace {

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(kStreamCaps));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(kFramedCaps));

// ---- bus messages about the stream's end ----

void PostDamage(VelkorixParse *self, const stream::StreamEnd &end, std::size_t records) {
    const std::string reason = end.Reason();
    GST_ELEMENT_WARNING(self, STREAM, DECODE,
                        ("stream ends at byte offset %" G_GUINT64_FORMAT ": %s", static_cast<guint64>(end.offset),
                         reason.c_str()),
                        ("%" G_GSIZE_FORMAT " complete records before it were given out", records));
}

void PostNoRecords(VelkorixParse *self, const stream::StreamEnd &end) {
    if (end.kind == stream::StreamEnd::Kind::Clean) {
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("the stream is empty: it holds no records"), (nullptr));
    } else {
        const std::string reason = end.Reason();
        GST_ELEMENT_ERROR(self, STREAM, DECODE,
                          ("the stream holds no complete record: at byte offset %" G_GUINT64_FORMAT " %s",
                           static_cast<guint64>(end.offset), reason.c_str()),
                          (nullptr));
    }
}

// ---- caps, segment and records downstream ----

// Fixes rate and channels with what downstream prefers (the decoder asks for
// its own), 8000 Hz mono when it does not care; sends the caps when they are
// new or changed.
bool Negotiate(VelkorixParse *self) {
    ParseState &st = *self->state;
    GstCaps *templ = gst_pad_get_pad_template_caps(self->srcpad);
    GstCaps *caps = gst_pad_peer_query_caps(self->srcpad, templ);
    gst_caps_unref(templ);
    if (gst_caps_is_empty(caps)) {
        gst_caps_unref(caps);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (nullptr), ("downstream accepts no framed stream"));
        return false;
    }
    caps = gst_caps_truncate(caps);
    caps = gst_caps_make_writable(caps);
    GstStructure *s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "rate", kDefaultRate);
    gst_structure_fixate_field_nearest_int(s, "channels", kDefaultChannels);
    gst_structure_fixate_field_boolean(s, "framed", TRUE);
    caps = gst_caps_fixate(caps);
    s = gst_caps_get_structure(caps, 0);
    int rate = kDefaultRate, channels = kDefaultChannels;
    if (!gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels) || rate < 1 ||
        rate > kMaxRate || channels < 1 || channels > kMaxChannels) {
        gst_caps_unref(caps);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (nullptr), ("no usable rate and channel count downstream"));
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(st.lock);
        if (st.capsSent && rate == st.rate && channels == st.channels) {
            gst_caps_unref(caps);
            return true;
        }
        st.rate = rate;
        st.channels = channels;
    }
    GST_DEBUG_OBJECT(self, "caps %" GST_PTR_FORMAT, caps);
    // A caps event that does not get through (flushing, not linked yet) is
    // kept on the pad and goes with the next record.
    gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
    st.capsSent = true;
    return true;
}

// Stream start, caps and segment as needed before a record.
bool PrepareDownstream(VelkorixParse *self) {
    ParseState &st = *self->state;
    if (!st.streamStarted) {
        gchar *id = gst_pad_create_stream_id(self->srcpad, GST_ELEMENT(self), nullptr);
        GstEvent *event = gst_event_new_stream_start(id);
        gst_event_set_group_id(event, gst_util_group_id_next());
        g_free(id);
        gst_pad_push_event(self->srcpad, event);
        st.streamStarted = true;
    }
    if (!st.capsSent || gst_pad_check_reconfigure(self->srcpad)) {
        if (!Negotiate(self)) return false;
    }
    GstEvent *segment = nullptr;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        if (st.needSegment) {
            segment = gst_event_new_segment(&st.segment);
            gst_event_set_seqnum(segment, st.segmentSeqnum);
            st.needSegment = false;
        }
    }
    if (segment) gst_pad_push_event(self->srcpad, segment);
    return true;
}

// Outcome of offering a record downstream.
enum class Offer { Pushed, PastStop };

// Stamps `buffer` (the record `entry`) and pushes it; PastStop (and the
// buffer dropped) when the record starts at or after the segment's stop.
Offer PushRecord(VelkorixParse *self, GstBuffer *buffer, const stream::IndexEntry &entry, GstFlowReturn *flow) {
    ParseState &st = *self->state;
    *flow = GST_FLOW_OK;
    if (!PrepareDownstream(self)) {
        gst_buffer_unref(buffer);
        *flow = GST_FLOW_NOT_NEGOTIATED;
        return Offer::Pushed;
    }
    RecordTimes times;
    bool discont = false;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        times = TimesOf(entry, st.rate, st.channels);
        if (GST_CLOCK_TIME_IS_VALID(st.segment.stop) && times.pts >= st.segment.stop && times.pts > st.segment.start) {
            gst_buffer_unref(buffer);
            return Offer::PastStop;
        }
        st.segment.position = std::max<guint64>(st.segment.position, times.pts);
        discont = st.discont;
        st.discont = false;
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = times.pts;
    GST_BUFFER_DTS(buffer) = times.pts;
    GST_BUFFER_DURATION(buffer) = times.duration;
    GST_BUFFER_OFFSET(buffer) = entry.offset;
    GST_BUFFER_OFFSET_END(buffer) = entry.offset + entry.Size();
    if (discont)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    else
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
    *flow = gst_pad_push(self->srcpad, buffer);
    return Offer::Pushed;
}

// The end of the segment or of the stream: segment-done for a segment seek,
// end of stream otherwise.
void PushEnd(VelkorixParse *self) {
    ParseState &st = *self->state;
    GstSegment segment;
    guint32 seqnum;
    uint64_t duration;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        segment = st.segment;
        seqnum = st.segmentSeqnum;
        duration = DurationOf(st.Index(), st.rate, st.channels);
    }
    if (segment.flags & GST_SEGMENT_FLAG_SEGMENT) {
        const gint64 stop = GST_CLOCK_TIME_IS_VALID(segment.stop) ? static_cast<gint64>(segment.stop)
                                                                  : static_cast<gint64>(duration);
        GstMessage *message = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, stop);
        gst_message_set_seqnum(message, seqnum);
        gst_element_post_message(GST_ELEMENT(self), message);
        GstEvent *event = gst_event_new_segment_done(GST_FORMAT_TIME, stop);
        gst_event_set_seqnum(event, seqnum);
        gst_pad_push_event(self->srcpad, event);
    } else {
        GstEvent *event = gst_event_new_eos();
        gst_event_set_seqnum(event, seqnum);
        gst_pad_push_event(self->srcpad, event);
    }
}

// ---- pull mode ----

enum class Indexing { Ready, Flushing, Failed };

// Indexes the stream on the first run (headers only). Failed when there is
// nothing to play (an error has been posted), Flushing when a seek
// interrupted the reading.
Indexing EnsureIndex(VelkorixParse *self) {
    ParseState &st = *self->state;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        if (st.indexed) return st.index.Records().empty() ? Indexing::Failed : Indexing::Ready;
    }
    gint64 length = -1;
    const uint64_t size = gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &length) && length >= 0
                              ? static_cast<uint64_t>(length)
                              : UINT64_MAX;
    PullSource source(self->sinkpad, size);
    stream::StreamIndex index = stream::StreamIndex::Build(source);
    if (source.Flow() == GST_FLOW_FLUSHING) return Indexing::Flushing;
    if (index.End().kind == stream::StreamEnd::Kind::ReadError) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr),
                          ("cannot index the stream: %s", gst_flow_get_name(source.Flow())));
        return Indexing::Failed;
    }
    GST_DEBUG_OBJECT(self, "indexed %" G_GSIZE_FORMAT " records, %" G_GUINT64_FORMAT " output bytes", index.Records().size(),
                     static_cast<guint64>(index.OutputBytes()));
    const bool empty = index.Records().empty();
    const stream::StreamEnd end = index.End();
    {
        std::lock_guard<std::mutex> guard(st.lock);
        st.index = std::move(index);
        st.indexed = true;
    }
    if (empty) {
        PostNoRecords(self, end);
        return Indexing::Failed;
    }
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_duration_changed(GST_OBJECT(self)));
    return Indexing::Ready;
}

void Loop(gpointer data) {
    GstPad *pad = GST_PAD(data);
    VelkorixParse *self = VELKORIX_PARSE(GST_PAD_PARENT(pad));
    ParseState &st = *self->state;
    GstFlowReturn flow = GST_FLOW_OK;

    switch (EnsureIndex(self)) {
        case Indexing::Ready: break;
        case Indexing::Flushing: gst_pad_pause_task(pad); return;
        case Indexing::Failed:
            // An error is on the bus. No end of stream follows it: the
            // application stops the pipeline (an end of stream would
            // complete the preroll while it does, and gst-launch-1.0 can
            // hang on that race).
            gst_pad_pause_task(pad);
            return;
    }

    stream::IndexEntry entry;
    std::size_t count = 0, next = 0;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        count = st.index.Records().size();
        next = st.next;
        if (next < count) entry = st.index.Records()[next];
    }
    if (next >= count) {
        // Past the last complete record: say why the stream ends there when
        // it is damaged.
        stream::StreamEnd end;
        {
            std::lock_guard<std::mutex> guard(st.lock);
            end = st.index.End();
        }
        if (end.Damaged()) PostDamage(self, end, count);
        PrepareDownstream(self);
        gst_pad_pause_task(pad);
        PushEnd(self);
        return;
    }

    GstBuffer *buffer = nullptr;
    flow = gst_pad_pull_range(pad, entry.offset, static_cast<guint>(entry.Size()), &buffer);
    if (flow == GST_FLOW_OK && gst_buffer_get_size(buffer) < entry.Size()) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr),
                          ("the input ends before the record at byte offset %" G_GUINT64_FORMAT
                           " that was indexed: it changed while playing",
                           static_cast<guint64>(entry.offset)));
        flow = GST_FLOW_ERROR;
    }
    if (flow == GST_FLOW_OK) {
        if (PushRecord(self, buffer, entry, &flow) == Offer::PastStop) {
            gst_pad_pause_task(pad);
            PushEnd(self);
            return;
        }
        std::lock_guard<std::mutex> guard(st.lock);
        ++st.next;
    }
    if (flow == GST_FLOW_OK) return;

    GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
    gst_pad_pause_task(pad);
    if (flow == GST_FLOW_EOS) {
        PushEnd(self);
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        if (flow != GST_FLOW_ERROR) GST_ELEMENT_FLOW_ERROR(self, flow);
        gst_pad_push_event(self->srcpad, gst_event_new_eos());
    }
}

// A seek event's fields, read once.
struct SeekRequest {
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType startType = GST_SEEK_TYPE_NONE, stopType = GST_SEEK_TYPE_NONE;
    gint64 start = -1, stop = -1;
    guint32 seqnum;

    explicit SeekRequest(GstEvent *event) : seqnum(gst_event_get_seqnum(event)) {
        gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    }
};

// The segment a seek makes from the current one, and the record holding its
// start. Where `index` holds the whole stream (`complete`), its duration
// bounds the segment and a start at or beyond it (which the segment holds to
// the duration, a time inside the last sample frame) lands past the last
// record, so nothing plays; a start beyond what an incomplete index holds
// lands past its last record too. `valid` is false where the segment refused
// the seek.
struct SeekLanding {
    GstSegment segment;
    std::size_t record = 0;
    bool valid = false;
};

SeekLanding Land(const ParseState &st, const stream::StreamIndex &index, bool complete, const SeekRequest &seek) {
    SeekLanding landing;
    landing.segment = st.segment;
    if (complete) landing.segment.duration = DurationOf(index, st.rate, st.channels);
    landing.valid = gst_segment_do_seek(&landing.segment, seek.rate, seek.format, seek.flags, seek.startType, seek.start,
                                        seek.stopType, seek.stop, nullptr);
    const bool beyond = complete && seek.startType == GST_SEEK_TYPE_SET && seek.start >= 0 &&
                        static_cast<guint64>(seek.start) >= landing.segment.duration;
    landing.record = beyond ? index.Records().size()
                            : index.RecordAtTime(static_cast<int64_t>(landing.segment.start), st.rate, st.channels,
                                                 kNanosecondsPerSecond);
    return landing;
}

// The record decoding starts at so that `record` decodes as in the whole
// stream (see the head of this file).
std::size_t DecodeStart(const stream::StreamIndex &index, std::size_t record, int channels) {
    return stream::DecodeStartFor(index, record, stream::kBytesPerSample * channels, FilterDecoderOf);
}

bool SeekPull(VelkorixParse *self, const SeekRequest &seek) {
    ParseState &st = *self->state;
    const guint32 seqnum = seek.seqnum;
    const bool flush = (seek.flags & GST_SEEK_FLAG_FLUSH) != 0;

    if (flush) {
        GstEvent *flushStart = gst_event_new_flush_start();
        gst_event_set_seqnum(flushStart, seqnum);
        gst_pad_push_event(self->srcpad, flushStart);
    } else {
        gst_pad_pause_task(self->sinkpad);
    }
    GST_PAD_STREAM_LOCK(self->sinkpad);

    const bool indexed = EnsureIndex(self) == Indexing::Ready;
    if (flush) {
        GstEvent *flushStop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flushStop, seqnum);
        gst_pad_push_event(self->srcpad, flushStop);
    }
    if (!indexed) {
        GST_PAD_STREAM_UNLOCK(self->sinkpad);
        return false;
    }
    bool segmentSeek;
    GstSegment segment;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        const SeekLanding landing = Land(st, st.index, true, seek);
        segment = landing.segment;
        const std::size_t target = landing.record;
        st.next = target >= st.index.Records().size() ? target : DecodeStart(st.index, target, st.channels);
        GST_DEBUG_OBJECT(self, "seek to %" GST_TIME_FORMAT ": record %" G_GSIZE_FORMAT ", decoding from record %" G_GSIZE_FORMAT "",
                         GST_TIME_ARGS(segment.start), target, st.next);
        st.segment = segment;
        st.segmentSeqnum = seqnum;
        st.needSegment = true;
        st.discont = true;
        segmentSeek = (segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0;
    }
    if (segmentSeek) {
        GstMessage *message =
            gst_message_new_segment_start(GST_OBJECT(self), GST_FORMAT_TIME, static_cast<gint64>(segment.start));
        gst_message_set_seqnum(message, seqnum);
        gst_element_post_message(GST_ELEMENT(self), message);
    }
    gst_pad_start_task(self->sinkpad, Loop, self->sinkpad, nullptr);
    GST_PAD_STREAM_UNLOCK(self->sinkpad);
    return true;
}

// ---- push mode ----

bool SeekPush(VelkorixParse *self, const SeekRequest &seek) {
    ParseState &st = *self->state;
    const guint32 seqnum = seek.seqnum;

    uint64_t offset;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        const stream::StreamIndex &index = st.splitter.Index();
        const SeekLanding landing = Land(st, index, st.splitter.Complete(), seek);
        if (!landing.valid) return false;
        const GstSegment &segment = landing.segment;
        const std::size_t count = index.Records().size();
        std::size_t record;
        if (landing.record < count) {
            record = DecodeStart(index, landing.record, st.channels);
        } else if (st.splitter.Complete()) {
            record = count;  // beyond the end
        } else {
            // Not arrived yet: decode on from the last place indexed.
            record = count == 0 ? 0 : DecodeStart(index, count - 1, st.channels);
        }
        offset = st.splitter.OffsetOf(record);
        st.pendingSeek.active = true;
        st.pendingSeek.segment = segment;
        st.pendingSeek.record = record;
        st.pendingSeek.offset = offset;
        st.pendingSeek.seqnum = seqnum;
        GST_DEBUG_OBJECT(self, "seek to %" GST_TIME_FORMAT ": bytes from %" G_GUINT64_FORMAT " (record %" G_GSIZE_FORMAT ")",
                         GST_TIME_ARGS(segment.start), static_cast<guint64>(offset), record);
    }
    GstEvent *bytes = gst_event_new_seek(1.0, GST_FORMAT_BYTES,
                                         static_cast<GstSeekFlags>(seek.flags & GST_SEEK_FLAG_FLUSH), GST_SEEK_TYPE_SET,
                                         static_cast<gint64>(offset), GST_SEEK_TYPE_NONE, -1);
    gst_event_set_seqnum(bytes, seqnum);
    if (gst_pad_push_event(self->sinkpad, bytes)) return true;
    std::lock_guard<std::mutex> guard(st.lock);
    st.pendingSeek.active = false;
    return false;
}

// Splits what arrived into records and pushes each complete one.
GstFlowReturn Chain(GstPad *, GstObject *parent, GstBuffer *buffer) {
    VelkorixParse *self = VELKORIX_PARSE(parent);
    ParseState &st = *self->state;
    if (st.pushEnded) {
        gst_buffer_unref(buffer);
        return GST_FLOW_EOS;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot read an input buffer"));
        return GST_FLOW_ERROR;
    }
    gst_adapter_push(st.adapter, gst_buffer_ref(buffer));

    GstFlowReturn flow = GST_FLOW_OK;
    std::size_t used = 0;
    while (flow == GST_FLOW_OK && used < map.size) {
        RecordSplitter::Step step;
        stream::IndexEntry entry;
        stream::StreamEnd end;
        std::size_t count;
        {
            std::lock_guard<std::mutex> guard(st.lock);
            step = st.splitter.Feed(map.data + used, map.size - used);
            count = st.splitter.Index().Records().size();
            if (step.event == RecordSplitter::Event::Record) entry = st.splitter.Index().Records()[step.record];
            end = st.splitter.End();
        }
        used += step.consumed;
        if (step.event == RecordSplitter::Event::NeedMore) break;
        if (step.event == RecordSplitter::Event::Ended) {
            gst_adapter_clear(st.adapter);
            st.pushEnded = true;
            if (count == 0) {
                PostNoRecords(self, end);
                flow = GST_FLOW_ERROR;
            } else {
                PostDamage(self, end, count);
                PushEnd(self);
                flow = GST_FLOW_EOS;
            }
            break;
        }
        GstBuffer *record = gst_adapter_take_buffer(st.adapter, static_cast<gsize>(entry.Size()));
        if (PushRecord(self, record, entry, &flow) == Offer::PastStop) {
            gst_adapter_clear(st.adapter);
            st.pushEnded = true;
            PushEnd(self);
            flow = GST_FLOW_EOS;
        }
    }
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return flow;
}

// Upstream's segment in bytes after a seek here: start over at the record
// the seek chose.
void TakeUpstreamSegment(VelkorixParse *self, const GstSegment *upstream) {
    ParseState &st = *self->state;
    std::lock_guard<std::mutex> guard(st.lock);
    if (upstream->format != GST_FORMAT_BYTES) return;
    if (st.pendingSeek.active && upstream->start == st.pendingSeek.offset) {
        st.splitter.RestartAt(st.pendingSeek.record);
        st.segment = st.pendingSeek.segment;
        st.segmentSeqnum = st.pendingSeek.seqnum;
        st.pendingSeek.active = false;
    } else if (upstream->start == st.splitter.Position() && upstream->start == 0) {
        return;  // the first segment
    } else {
        // Someone else moved upstream: go on at the record that starts
        // there, if one is indexed.
        const auto &records = st.splitter.Index().Records();
        std::size_t record = records.size();
        for (std::size_t k = 0; k < records.size(); ++k) {
            if (records[k].offset == upstream->start) record = k;
        }
        if (record == records.size() && upstream->start != st.splitter.OffsetOf(record)) {
            GST_WARNING_OBJECT(self, "upstream moved to byte %" G_GUINT64_FORMAT ", not a known record",
                               static_cast<guint64>(upstream->start));
            return;
        }
        st.splitter.RestartAt(record);
        gst_segment_init(&st.segment, GST_FORMAT_TIME);
        const RecordTimes times = record < records.size() ? TimesOf(records[record], st.rate, st.channels)
                                                          : RecordTimes{DurationOf(st.splitter.Index(), st.rate, st.channels), 0};
        st.segment.start = st.segment.time = st.segment.position = times.pts;
    }
    if (st.adapter) gst_adapter_clear(st.adapter);
    st.pushEnded = false;
    st.needSegment = true;
    st.discont = true;
}

gboolean SinkEvent(GstPad *pad, GstObject *parent, GstEvent *event) {
    VelkorixParse *self = VELKORIX_PARSE(parent);
    ParseState &st = *self->state;
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS:
            // The parser states its own caps.
            gst_event_unref(event);
            return TRUE;
        case GST_EVENT_STREAM_START:
            st.streamStarted = true;
            return gst_pad_event_default(pad, parent, event);
        case GST_EVENT_SEGMENT: {
            const GstSegment *segment = nullptr;
            gst_event_parse_segment(event, &segment);
            TakeUpstreamSegment(self, segment);
            gst_event_unref(event);
            return TRUE;
        }
        case GST_EVENT_FLUSH_STOP: {
            std::lock_guard<std::mutex> guard(st.lock);
            gst_adapter_clear(st.adapter);
            st.needSegment = true;
            st.discont = true;
            break;
        }
        case GST_EVENT_EOS: {
            if (st.pushEnded) {
                // The end was given downstream already.
                gst_event_unref(event);
                return TRUE;
            }
            stream::StreamEnd end;
            std::size_t count;
            {
                std::lock_guard<std::mutex> guard(st.lock);
                end = st.splitter.Finish();
                count = st.splitter.Index().Records().size();
            }
            gst_adapter_clear(st.adapter);
            if (count == 0) {
                // An error; no end of stream after it (see Loop).
                PostNoRecords(self, end);
                gst_event_unref(event);
                return TRUE;
            } else {
                if (end.Damaged()) PostDamage(self, end, count);
                if (!PrepareDownstream(self)) break;
            }
            bool segmentSeek;
            {
                std::lock_guard<std::mutex> guard(st.lock);
                segmentSeek = (st.segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0;
            }
            if (segmentSeek && count > 0) {
                gst_event_unref(event);
                PushEnd(self);
                return TRUE;
            }
            break;
        }
        default: break;
    }
    return gst_pad_event_default(pad, parent, event);
}

// ---- the source pad: seeks and queries ----

gboolean SrcEvent(GstPad *pad, GstObject *parent, GstEvent *event) {
    VelkorixParse *self = VELKORIX_PARSE(parent);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK) return gst_pad_event_default(pad, parent, event);
    const SeekRequest seek(event);
    bool done = false;
    if (seek.format != GST_FORMAT_TIME || seek.rate <= 0.0) {
        GST_DEBUG_OBJECT(self, "refusing a seek in %s at rate %g", gst_format_get_name(seek.format), seek.rate);
    } else {
        done = self->state->pull ? SeekPull(self, seek) : SeekPush(self, seek);
    }
    gst_event_unref(event);
    return done;
}

gboolean SrcQuery(GstPad *pad, GstObject *parent, GstQuery *query) {
    VelkorixParse *self = VELKORIX_PARSE(parent);
    ParseState &st = *self->state;
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_DURATION: {
            GstFormat format;
            gst_query_parse_duration(query, &format, nullptr);
            if (format != GST_FORMAT_TIME) break;
            std::lock_guard<std::mutex> guard(st.lock);
            if (!st.IndexComplete()) break;
            gst_query_set_duration(query, GST_FORMAT_TIME,
                                   static_cast<gint64>(DurationOf(st.Index(), st.rate, st.channels)));
            return TRUE;
        }
        case GST_QUERY_POSITION: {
            GstFormat format;
            gst_query_parse_position(query, &format, nullptr);
            if (format != GST_FORMAT_TIME) break;
            std::lock_guard<std::mutex> guard(st.lock);
            gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(st.segment.position));
            return TRUE;
        }
        case GST_QUERY_SEEKING: {
            GstFormat format;
            gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
            if (format != GST_FORMAT_TIME) break;
            bool seekable;
            gint64 duration = -1;
            if (st.pull) {
                seekable = true;
            } else {
                GstQuery *upstream = gst_query_new_seeking(GST_FORMAT_BYTES);
                gboolean bytes = FALSE;
                if (gst_pad_peer_query(self->sinkpad, upstream))
                    gst_query_parse_seeking(upstream, nullptr, &bytes, nullptr, nullptr);
                gst_query_unref(upstream);
                seekable = bytes;
            }
            {
                std::lock_guard<std::mutex> guard(st.lock);
                if (st.IndexComplete()) duration = static_cast<gint64>(DurationOf(st.Index(), st.rate, st.channels));
            }
            gst_query_set_seeking(query, GST_FORMAT_TIME, seekable, 0, duration);
            return TRUE;
        }
        default: break;
    }
    return gst_pad_query_default(pad, parent, query);
}

// ---- activation and state ----

gboolean SinkActivate(GstPad *pad, GstObject *) {
    GstQuery *query = gst_query_new_scheduling();
    bool pull = false;
    if (gst_pad_peer_query(pad, query))
        pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
    gst_query_unref(query);
    return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

gboolean SinkActivateMode(GstPad *pad, GstObject *parent, GstPadMode mode, gboolean active) {
    VelkorixParse *self = VELKORIX_PARSE(parent);
    switch (mode) {
        case GST_PAD_MODE_PUSH:
            if (active) self->state->pull = false;
            return TRUE;
        case GST_PAD_MODE_PULL:
            if (active) {
                self->state->pull = true;
                return gst_pad_start_task(pad, Loop, pad, nullptr);
            }
            return gst_pad_stop_task(pad);
        default: return FALSE;
    }
}

GstStateChangeReturn ChangeState(GstElement *element, GstStateChange transition) {
    VelkorixParse *self = VELKORIX_PARSE(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        std::lock_guard<std::mutex> guard(self->state->lock);
        self->state->Reset();
    }
    const GstStateChangeReturn result = GST_ELEMENT_CLASS(velkorix_parse_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        std::lock_guard<std::mutex> guard(self->state->lock);
        self->state->Reset();
    }
    return result;
}

void Finalize(GObject *object) {
    VelkorixParse *self = VELKORIX_PARSE(object);
    if (self->state) {
        if (self->state->adapter) g_object_unref(self->state->adapter);
        delete self->state;
        self->state = nullptr;
    }
    G_OBJECT_CLASS(velkorix_parse_parent_class)->finalize(object);
}

}  // namespace

static void velkorix_parse_class_init(VelkorixParseClass *klass) {
    GObjectClass *objectClass = G_OBJECT_CLASS(klass);
    GstElementClass *elementClass = GST_ELEMENT_CLASS(klass);
    objectClass->finalize = Finalize;
    elementClass->change_state = ChangeState;
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Velkorix stream parser", "Codec/Parser/Audio",
        "Splits a framed Velkorix stream into records, one buffer each, stamped with the time of the audio it "
        "decodes to; indexes the stream for seeking",
        "Velkorix");
}

static void velkorix_parse_init(VelkorixParse *self) {
    self->state = new ParseState;
    self->state->adapter = gst_adapter_new();
    self->state->Reset();

    self->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_activate_function(self->sinkpad, SinkActivate);
    gst_pad_set_activatemode_function(self->sinkpad, SinkActivateMode);
    gst_pad_set_chain_function(self->sinkpad, Chain);
    gst_pad_set_event_function(self->sinkpad, SinkEvent);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

    self->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_set_event_function(self->srcpad, SrcEvent);
    gst_pad_set_query_function(self->srcpad, SrcQuery);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

gboolean RegisterParse(GstPlugin *plugin) {
    GST_DEBUG_CATEGORY_INIT(velkorix_parse_debug, "velkorixparse", 0, "Velkorix stream parser");
    return gst_element_register(plugin, "velkorixparse", GST_RANK_PRIMARY + 1, velkorix_parse_get_type());
}

}  // namespace velkorix::gst
