// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieStream.h"

#include "HandOff.h"

namespace quillora::capture {

namespace {

void deleteStreamRef(gpointer p)
{
    takeOver(p);
    delete static_cast<StreamStatePtr *>(p);
}

} // namespace

gulong addProbe(GstPad *pad, GstPadProbeType type, GstPadProbeCallback callback, const StreamStatePtr &state)
{
    auto *reference = new StreamStatePtr(state);
    // The probe runs on a streaming thread, which the pad's lock (GLib's) hands it to.
    handOff(reference);
    return gst_pad_add_probe(pad, type, callback, reference, deleteStreamRef);
}

} // namespace quillora::capture
