// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieGate.h"

#include "ProgramClock.h"

#include <gst/audio/audio.h>

#include <algorithm>

namespace quillora::capture {

namespace {

void endSound(GstPad *pad, StreamState &s)
{
    if (s.soundEnded.exchange(true))
        return;
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_send_event(peer.get(), gst_event_new_eos());
}

GstPadProbeReturn dropProbe(GstPad *, GstPadProbeInfo *, gpointer)
{
    return GST_PAD_PROBE_DROP;
}

// `buffer` (taken over) with `time` of silence before it, starting that much earlier. A gap
// longer than a movie could want is left as it is.
GstBuffer *withSilenceBefore(GstBuffer *buffer, gint64 time, const GstAudioInfo &audio)
{
    constexpr gint64 kLongestGap = 10 * gint64(GST_SECOND);
    const guint64 samples = gst_util_uint64_scale(guint64(time), GST_AUDIO_INFO_RATE(&audio), GST_SECOND);
    if (time > kLongestGap || samples == 0)
        return buffer;
    const gsize bytes = gsize(samples) * gsize(GST_AUDIO_INFO_BPF(&audio));
    GstBuffer *silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    GstMapInfo map;
    if (!silence || !gst_buffer_map(silence, &map, GST_MAP_WRITE)) {
        if (silence)
            gst_buffer_unref(silence);
        return buffer;
    }
    gst_audio_format_info_fill_silence(audio.finfo, map.data, map.size);
    gst_buffer_unmap(silence, &map);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    const GstClockTime gap = gst_util_uint64_scale(samples, GST_SECOND, GST_AUDIO_INFO_RATE(&audio));
    gst_buffer_copy_into(silence, buffer, GST_BUFFER_COPY_FLAGS, 0, 0); // not its metas: they describe its size
    silence = gst_buffer_append(silence, buffer);
    GST_BUFFER_PTS(silence) = pts - gap;
    GST_BUFFER_DURATION(silence) = GST_CLOCK_TIME_IS_VALID(duration) ? duration + gap : GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET(silence) = GST_BUFFER_OFFSET_NONE;
    GST_BUFFER_OFFSET_END(silence) = GST_BUFFER_OFFSET_NONE;
    return silence;
}

} // namespace

// Running times where the movie's first picture starts and where its last picture so far
// ends: the sound is started and ended at the same moments.
void notePictureTimes(StreamState &s, GstBuffer *buffer)
{
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
        gint64 unknown = -1;
        s.videoStart.compare_exchange_strong(unknown, gint64(GST_BUFFER_PTS(buffer)));
    }
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer))
        s.lastVideoEnd.store(gint64(GST_BUFFER_PTS(buffer))
            + (GST_BUFFER_DURATION_IS_VALID(buffer) ? gint64(GST_BUFFER_DURATION(buffer)) : 0));
}

// The sound source's way into the movie. The muxer starts every track at zero, so sound from
// before the first picture would play early against the picture: it is dropped. Once the
// picture has been cut off, the sound ends at the first buffer that starts at or after the
// cut, so both tracks end together. After its end the source runs on until the branch is shut
// down; what it sends is dropped, since a live source that meets an ended pad stops with an
// error.
GstPadProbeReturn soundGateProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData)
{
    const ProbeState probe(userData);
    StreamState &s = probe.state;
    if (s.soundEnded.load())
        return GST_PAD_PROBE_DROP;
    GstBuffer *buffer = (info->type & GST_PAD_PROBE_TYPE_BUFFER) ? GST_PAD_PROBE_INFO_BUFFER(info) : nullptr;
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_PAD_PROBE_OK;
    s.lastSoundArrival.store(s.clock ? s.clock->now().count() : -1);
    const gint64 start = gint64(GST_BUFFER_PTS(buffer));
    const gint64 end = start + (GST_BUFFER_DURATION_IS_VALID(buffer) ? gint64(GST_BUFFER_DURATION(buffer)) : 0);
    const gint64 stop = s.videoStop.load();
    if (stop >= 0 && start >= stop) {
        endSound(pad, s);
        return GST_PAD_PROBE_DROP;
    }
    const gint64 videoStart = s.videoStart.load();
    const gint64 first = videoStart + s.soundLead;
    if (videoStart < 0 || end <= first)
        return GST_PAD_PROBE_DROP;
    // The first sound starts the sound track, and the muxer starts every track at zero: sound
    // that begins after the picture (a microphone slow to open, a busy machine) would play that
    // much early against the picture for the whole movie, so silence fills the gap.
    const bool firstSound = s.soundPassedEnd.load() < 0;
    const gint64 lateBy = firstSound ? start - first : 0;
    // A buffer across the picture's start or cut is cut there to the sample, so the tracks
    // start and end together to within an AAC frame, not a whole sound buffer more.
    if (start >= first && (stop < 0 || end <= stop) && lateBy <= 0) {
        s.soundPassedEnd.store(end);
        return GST_PAD_PROBE_OK;
    }
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo audio;
    if (!caps || !gst_audio_info_from_caps(&audio, caps.get())) {
        s.soundPassedEnd.store(end);
        return GST_PAD_PROBE_OK;
    }
    GstBuffer *clipped = buffer;
    if (start < first || (stop >= 0 && end > stop)) {
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        segment.start = guint64(std::max(start, first));
        segment.stop = stop >= 0 ? guint64(stop) : GST_CLOCK_TIME_NONE;
        clipped = gst_audio_buffer_clip(
            gst_buffer_ref(buffer), &segment, GST_AUDIO_INFO_RATE(&audio), GST_AUDIO_INFO_BPF(&audio));
        if (!clipped)
            return GST_PAD_PROBE_DROP;
    } else
        gst_buffer_ref(clipped);
    if (lateBy > 0)
        clipped = withSilenceBefore(clipped, lateBy, audio);
    if (GST_BUFFER_PTS_IS_VALID(clipped) && GST_BUFFER_DURATION_IS_VALID(clipped))
        s.soundPassedEnd.store(gint64(GST_BUFFER_PTS(clipped) + GST_BUFFER_DURATION(clipped)));
    gst_buffer_unref(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = clipped;
    return GST_PAD_PROBE_OK;
}

// Ends the picture's side of the movie at a moment when no frame is on its way. The tee's
// later frames are dropped before they reach the ended pad, which would answer them with an
// end of stream that the tee hands back to the camera.
GstPadProbeReturn endVideoProbe(GstPad *pad, GstPadProbeInfo *, gpointer userData)
{
    const ProbeState probe(userData);
    StreamState &s = probe.state;
    s.videoStop.store(std::max<gint64>(0, s.lastVideoEnd.load()));
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropProbe, nullptr, nullptr);
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_send_event(peer.get(), gst_event_new_eos());
    return GST_PAD_PROBE_REMOVE;
}

// Ends the sound's side between two buffers whatever their time: for a microphone that
// sends nothing more (gone, or stalled), so the movie can still be finished.
GstPadProbeReturn endSoundProbe(GstPad *pad, GstPadProbeInfo *, gpointer userData)
{
    endSound(pad, ProbeState(userData).state);
    return GST_PAD_PROBE_REMOVE;
}

} // namespace quillora::capture
