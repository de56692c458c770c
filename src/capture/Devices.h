#pragma once
// Inside the capture layer: where device lists come from and how a device becomes the source
// of a pipeline.
#include "CaptureDevice.h"
#include "GstHandles.h"

#include <QSize>

namespace quillora::capture {

// Makes sure GStreamer is initialised (idempotent, thread-safe).
void ensureGstreamer();

std::vector<DeviceDescription> listCameras();
std::vector<DeviceDescription> listSoundSources();
int defaultSoundSourceIndex(const std::vector<DeviceDescription> &sources);

// A bin with one "src" pad giving raw video of the camera. `hint` is the frame size the
// session would like (the virtual camera produces exactly that size unless it has its own).
ElementPtr makeVideoSource(const DeviceDescription &device, QSize hint, QString *error);
// A bin with one "src" pad giving raw audio of the sound input.
ElementPtr makeSoundSource(const DeviceDescription &device, QString *error);

} // namespace quillora::capture
