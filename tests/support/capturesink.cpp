#include "capturesink.h"

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

struct CaptureElement
{
    GstBaseSink parent;
};

struct CaptureElementClass
{
    GstBaseSinkClass parent;
};

std::mutex heardLock;
CaptureSink::Sound heard;
// Microseconds of the monotonic clock: when the sound played last ends, that end when the last
// flush came, and the silence from there to the next sound.
gint64 playedUntil = -1;
gint64 flushedAt = -1;
std::optional<double> flushSilence;
GstBaseSinkClass *baseClass = nullptr;

gboolean setCaps(GstBaseSink *, GstCaps *caps)
{
    const GstStructure *format = gst_caps_get_structure(caps, 0);
    int rate = 0;
    int channels = 0;
    if (!gst_structure_get_int(format, "rate", &rate) || !gst_structure_get_int(format, "channels", &channels))
        return FALSE;
    const std::lock_guard lock(heardLock);
    heard.rate = rate;
    heard.channels = channels;
    return TRUE;
}

GstFlowReturn render(GstBaseSink *sink, GstBuffer *buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_ERROR;
    const std::lock_guard lock(heardLock);
    // Like a sound card's sink, it plays nothing of a buffer before the segment: after a seek,
    // the first buffer may begin a little before the place sought.
    const qsizetype frameBytes = qsizetype(sizeof(float)) * std::max(heard.channels, 1);
    qsizetype skip = 0;
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    if (start != GST_CLOCK_TIME_NONE && start < sink->segment.start && heard.rate > 0)
        skip = qsizetype(gst_util_uint64_scale(sink->segment.start - start, guint64(heard.rate), GST_SECOND)) * frameBytes;
    skip = std::min(skip, qsizetype(map.size) / frameBytes * frameBytes);
    const qsizetype bytes = qsizetype(map.size) / frameBytes * frameBytes - skip;
    // A sink renders each buffer when the clock reaches it: now is when it starts to be heard.
    const gint64 now = g_get_monotonic_time();
    if (flushedAt >= 0 && bytes > 0) {
        flushSilence = double(now - flushedAt) / 1e6;
        flushedAt = -1;
    }
    if (bytes > 0 && heard.rate > 0)
        playedUntil = now + gint64(bytes / frameBytes) * 1000000 / heard.rate;
    const qsizetype had = heard.samples.size();
    heard.samples.resize(had + bytes / qsizetype(sizeof(float)));
    std::memcpy(heard.samples.data() + had, map.data + skip, std::size_t(bytes));
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

gboolean event(GstBaseSink *sink, GstEvent *event)
{
    // A seek flushes: what plays from here on is what the seek landed on.
    if (event->type == GST_EVENT_FLUSH_STOP) {
        const std::lock_guard lock(heardLock);
        heard.samples.clear();
        // A flush cuts short what is still playing.
        if (playedUntil >= 0 && flushedAt < 0)
            flushedAt = std::min(playedUntil, g_get_monotonic_time());
    }
    return baseClass->event(sink, event);
}

void classInit(gpointer klass, gpointer)
{
    auto *element = static_cast<GstElementClass *>(klass);
    gst_element_class_set_static_metadata(element, "Test capture", "Sink/Audio", "Keeps what it plays", "tests");
    GstCaps *caps = gst_caps_from_string(
        "audio/x-raw, format=F32LE, layout=interleaved, rate=[1,2147483647], channels=[1,8]");
    gst_element_class_add_pad_template(element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    auto *sink = static_cast<GstBaseSinkClass *>(klass);
    baseClass = static_cast<GstBaseSinkClass *>(g_type_class_peek_parent(klass));
    sink->set_caps = setCaps;
    sink->render = render;
    sink->event = event;
}

} // namespace

bool CaptureSink::install()
{
    gst_init(nullptr, nullptr);
    const GType type = g_type_register_static_simple(gst_base_sink_get_type(), "Mp3cutterTestCapture",
                                                     sizeof(CaptureElementClass), classInit,
                                                     sizeof(CaptureElement), nullptr, GTypeFlags(0));
    return gst_element_register(nullptr, "mp3cuttertestcapture", GST_RANK_PRIMARY + 100, type);
}

CaptureSink::Sound CaptureSink::sinceLastSeek()
{
    const std::lock_guard lock(heardLock);
    return heard;
}

std::optional<double> CaptureSink::silenceAtLastFlush()
{
    const std::lock_guard lock(heardLock);
    return flushSilence;
}

std::optional<qsizetype> CaptureSink::whereHeard(const Sound &heard, const DecodedSound &piece, qsizetype from,
                                                 qsizetype near, qsizetype reach)
{
    const qsizetype count = piece.rate / 10;
    if (heard.channels != piece.channels || from < 0 || from + count > piece.length())
        return std::nullopt;
    const auto heardAt = [&](qsizetype frame) { return double(heard.samples[frame * heard.channels]); };
    const auto pieceAt = [&](qsizetype frame) { return piece.samples[(from + frame) * piece.channels] / 32768.0; };
    double pieceEnergy = 0;
    for (qsizetype k = 0; k < count; ++k)
        pieceEnergy += pieceAt(k) * pieceAt(k);
    std::optional<qsizetype> best;
    double bestResidue = 1e-3;
    const qsizetype heardLength = heard.samples.size() / heard.channels;
    for (qsizetype offset = std::max<qsizetype>(0, near - reach); offset <= near + reach; ++offset) {
        if (offset + count > heardLength)
            break;
        // The volume that fits best, and what is left of the sound at that volume.
        double both = 0;
        double heardEnergy = 0;
        for (qsizetype k = 0; k < count; ++k) {
            both += heardAt(offset + k) * pieceAt(k);
            heardEnergy += heardAt(offset + k) * heardAt(offset + k);
        }
        if (heardEnergy <= 0 || both <= 0)
            continue;
        const double residue = 1.0 - both * both / (heardEnergy * pieceEnergy);
        if (residue < bestResidue) {
            bestResidue = residue;
            best = offset;
        }
    }
    return best;
}
