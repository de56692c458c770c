// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the movie output: the gate that starts and ends the sound where the picture starts
// and ends, so the two tracks of a movie line up.
#include "MovieStream.h"

namespace quillora::capture {

// Notes a picture entering the movie: the first one's start, and where the latest one ends.
void notePictureTimes(StreamState &s, GstBuffer *buffer);

// The sound source's way into the movie: drops the sound before the first picture and ends it
// at the picture's cut. On the sound source's src pad, for buffers and events.
GstPadProbeReturn soundGateProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData);
// An idle probe on the tee's pad: cuts the picture off there and ends its side of the movie.
GstPadProbeReturn endVideoProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData);
// An idle probe on the sound source's pad: ends the sound's side whatever its time.
GstPadProbeReturn endSoundProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData);

} // namespace quillora::capture
