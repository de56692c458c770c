// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual microphone: a live test tone, and the ways a test makes it fail.
#include "Devices.h"
#include "Devices_p.h"

#include <atomic>

namespace quillora::capture {

namespace {

std::atomic<VirtualMicrophone> gBehaviour{VirtualMicrophone::Sending};

// How far behind a late microphone's sound arrives: enough that a finishing movie still waits
// for sound that is coming, within the second of picture the movie holds while it waits for the
// sound to catch up (more, and the muxer would starve the picture).
constexpr GstClockTime kLateBy = 600 * GST_MSECOND;

GstPadProbeReturn behave(GstPad *pad, GstPadProbeInfo *, gpointer)
{
    switch (gBehaviour.load()) {
    case VirtualMicrophone::Sending:
    case VirtualMicrophone::Late:
        return GST_PAD_PROBE_OK;
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

} // namespace

ElementPtr makeVirtualMicrophone(QString *error)
{
    ensureGstreamer();
    QByteArray description = "audiotestsrc name=tone is-live=true wave=sine freq=440 volume=0.2";
    if (gBehaviour.load() == VirtualMicrophone::Late)
        description += " ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=0 min-threshold-time="
            + QByteArray::number(quint64(kLateBy));
    ElementPtr microphone = parseBin(description, error);
    if (!microphone)
        return {};
    const ElementPtr tone(gst_bin_get_by_name(GST_BIN(microphone.get()), "tone"));
    const PadPtr out(gst_element_get_static_pad(tone.get(), "src"));
    gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, behave, nullptr, nullptr);
    return microphone;
}

void setVirtualMicrophone(VirtualMicrophone behaviour)
{
    gBehaviour.store(behaviour);
}

} // namespace quillora::capture
