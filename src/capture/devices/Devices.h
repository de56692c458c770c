// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: where device lists come from and how a device becomes the source
// of a pipeline.
#include "DeviceDescription.h"
#include "GstHandles.h"

#include <QSize>

#include <functional>

namespace quillora::capture {

// Makes sure GStreamer is initialised (idempotent, thread-safe).
void ensureGstreamer();

std::vector<DeviceDescription> listCameras();

// Parses QUILLORA_VIRTUAL_CAMERAS: entries separated by ';', each
// "display name|model string|unique identifier[|modes[|controls]]", where modes is WIDTHxHEIGHT
// (one raw BGRx mode at 30 fps), a recording to replay (virtualReplay: a folder of JPEG frames
// or a `v4l2-ctl --stream-to` file, optionally @FPS), or the path of a mode list as
// `v4l2-ctl --list-formats-ext` prints it; without it (or empty) the camera offers a 5 MP
// document camera's modes. controls is the path of a control list as `v4l2-ctl
// --list-ctrls-menus` prints it; without it the camera offers the built-in set. Malformed
// entries, and entries whose lists cannot be read, are skipped with a warning.
std::vector<DeviceDescription> parseVirtualCameras(const QString &text);

std::vector<DeviceDescription> listSoundSources();
int defaultSoundSourceIndex(const std::vector<DeviceDescription> &sources);

// The modes the camera offers now: a V4L2 node is asked; a virtual camera has those it was
// listed with. Empty, with the reason in `error` when there is one, when it offers none.
std::vector<CameraMode> cameraModes(const DeviceDescription &device, QString *error);

// A bin with one "src" pad giving the camera's picture in `mode`: raw video, or the camera's
// JPEG frames in an MJPEG mode.
ElementPtr makeVideoSource(const DeviceDescription &device, const ChosenMode &mode, QString *error);
// A bin with one "src" pad giving raw audio of the sound input.
ElementPtr makeSoundSource(const DeviceDescription &device, QString *error);

// The virtual microphone (QUILLORA_VIRTUAL_MICROPHONE): a live test tone, which behaves as
// setVirtualMicrophone says (Devices_microphone.cpp).
ElementPtr makeVirtualMicrophone(QString *error);

// For tests: how virtual microphones behave, as real ones do on a bad day.
enum class VirtualMicrophone {
    Sending,     // sound as it is made
    Late,        // sound that arrives 0.6 seconds after it was made (a loaded machine);
                 // for microphones made from now on
    SlowToStart, // its first 0.4 seconds of sound never come (a device that takes a moment to open)
    Silent,      // nothing more, and no word of why (a stalled sound server)
    Gone,        // an error, as a sound input gives when its device goes away, then nothing more
};
void setVirtualMicrophone(VirtualMicrophone behaviour);
// For tests: called with each sound buffer's length as a virtual microphone sends it (after any
// lateness of its own), on its streaming thread; nothing once cleared, which waits for a call
// under way. A test moves its clock as the sound arrives.
void setVirtualMicrophoneSent(std::function<void(GstClockTime length)> sent);

} // namespace quillora::capture
