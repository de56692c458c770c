// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual microphone: a live test tone, and the ways a test makes it fail.
#include "Devices.h"
#include "Devices_p.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <mutex>

namespace quillora::capture {

namespace {

std::atomic<VirtualMicrophone> gBehaviour{VirtualMicrophone::Sending};
std::mutex gSentMutex; // guards gSent; held while it is called, so that clearing it waits for a call
std::function<void(GstClockTime)> gSent;

// How far behind a late microphone's sound arrives: enough that a finishing movie still waits
// for sound that is coming, within the second of picture the movie holds while it waits for the
// sound to catch up (more, and the muxer would starve the picture).
constexpr GstClockTime kLateBy = 600 * GST_MSECOND;

// How much sound a microphone slow to start loses before its first buffer comes.
constexpr GstClockTime kSlowStart = 400 * GST_MSECOND;

GstPadProbeReturn behave(GstPad *pad, GstPadProbeInfo *info, gpointer)
{
    switch (gBehaviour.load()) {
    case VirtualMicrophone::Sending:
    case VirtualMicrophone::Late:
        return GST_PAD_PROBE_OK;
    case VirtualMicrophone::SlowToStart: {
        // The tone numbers its buffers by their first sample since it started.
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const CapsPtr caps(gst_pad_get_current_caps(pad));
        GstAudioInfo audio;
        if (!buffer || !caps || !gst_audio_info_from_caps(&audio, caps.get()))
            return GST_PAD_PROBE_DROP;
        return GST_BUFFER_OFFSET(buffer) < gst_util_uint64_scale(kSlowStart, GST_AUDIO_INFO_RATE(&audio), GST_SECOND)
            ? GST_PAD_PROBE_DROP
            : GST_PAD_PROBE_OK;
    }
    case VirtualMicrophone::Silent:
        return GST_PAD_PROBE_DROP;
    case VirtualMicrophone::Gone:
        break;
    }
    // Once, as a sound input reports its device gone; it sends nothing after.
    GstElement *source = GST_ELEMENT(GST_OBJECT_PARENT(pad));
    if (source && !g_object_get_data(G_OBJECT(source), "quillora-gone")) {
        g_object_set_data(G_OBJECT(source), "quillora-gone", source);
        GST_ELEMENT_ERROR(source, RESOURCE, READ, ("The microphone is gone."), (nullptr));
    }
    return GST_PAD_PROBE_DROP;
}

GstPadProbeReturn tellSent(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(gSentMutex);
    if (gSent && buffer && GST_BUFFER_DURATION_IS_VALID(buffer))
        gSent(GST_BUFFER_DURATION(buffer));
    return GST_PAD_PROBE_OK;
}

} // namespace

ElementPtr makeVirtualMicrophone(QString *error)
{
    ensureGstreamer();
    QByteArray description = "audiotestsrc name=tone is-live=true wave=sine freq=440 volume=0.2";
    if (gBehaviour.load() == VirtualMicrophone::Late)
        description += " ! queue name=late max-size-buffers=0 max-size-bytes=0 max-size-time=0 min-threshold-time="
            + QByteArray::number(quint64(kLateBy));
    ElementPtr microphone = parseBin(description, error);
    if (!microphone)
        return {};
    const ElementPtr tone(gst_bin_get_by_name(GST_BIN(microphone.get()), "tone"));
    const PadPtr out(gst_element_get_static_pad(tone.get(), "src"));
    gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, behave, nullptr, nullptr);
    // Where the sound leaves the microphone, before the movie's own probes on the bin's pad.
    const ElementPtr late(gst_bin_get_by_name(GST_BIN(microphone.get()), "late"));
    const PadPtr sent(late ? gst_element_get_static_pad(late.get(), "src") : GST_PAD(gst_object_ref(out.get())));
    gst_pad_add_probe(sent.get(), GST_PAD_PROBE_TYPE_BUFFER, tellSent, nullptr, nullptr);
    return microphone;
}

void setVirtualMicrophone(VirtualMicrophone behaviour)
{
    gBehaviour.store(behaviour);
}

void setVirtualMicrophoneSent(std::function<void(GstClockTime length)> sent)
{
    std::lock_guard lock(gSentMutex);
    gSent = std::move(sent);
}

} // namespace quillora::capture
