// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG frames as a camera in an MJPEG mode sends them, into the decoder the session uses for
// such a mode. A frame may be anything (a camera that glitches, a cable that drops bytes, a
// device that only claims to be a camera): it must be skipped, and the frame after it must come
// out decoded, so the picture goes on. Input: one frame's bytes.
#include "FuzzPage.h"

#include "Devices.h"
#include "GstHandles.h"
#include "JpegDecoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <vector>

using namespace quillora;

namespace {

// A whole frame that must always decode; it follows every fuzzed one.
std::vector<unsigned char> gGoodFrame;
GstClockTime gPts = 0;

struct Pipeline {
    capture::ElementPtr pipeline;
    GstElement *src = nullptr;
    GstElement *sink = nullptr;
    capture::BusPtr bus;
};

// appsrc (the camera's MJPEG mode as caps) -> the decoder a camera source has in an MJPEG mode
// -> appsink.
Pipeline makePipeline()
{
    Pipeline p;
    GError *raw = nullptr;
    p.pipeline.reset(
        GST_ELEMENT(gst_object_ref_sink(gst_parse_launch("appsrc name=camera is-live=true format=time "
                                                         "caps=image/jpeg,width=640,height=480,framerate=30/1 ! "
                                                         "quillorajpegdecoder name=decoder ! "
                                                         "appsink name=frames sync=false max-buffers=4",
            &raw))));
    capture::GErrorPtr error(raw);
    if (!p.pipeline || error)
        fuzz::fail("cannot build the decoding pipeline");
    p.src = gst_bin_get_by_name(GST_BIN(p.pipeline.get()), "camera");
    p.sink = gst_bin_get_by_name(GST_BIN(p.pipeline.get()), "frames");
    gst_object_unref(p.src); // the pipeline holds them
    gst_object_unref(p.sink);
    p.bus.reset(gst_element_get_bus(p.pipeline.get()));
    if (gst_element_set_state(p.pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        fuzz::fail("the decoding pipeline does not play");
    return p;
}

void push(GstElement *src, const char *data, std::size_t size, GstClockTime pts)
{
    GstBuffer *buffer = gst_buffer_new_memdup(data, size);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
    if (gst_app_src_push_buffer(GST_APP_SRC(src), buffer) != GST_FLOW_OK)
        fuzz::fail("the decoder no longer takes frames");
}

// Pushes `size` bytes as one frame (none when empty), then the good frame, and waits until the
// good frame comes out decoded.
void decodeThenGoodFrame(Pipeline &p, const std::uint8_t *data, std::size_t size)
{
    const GstClockTime fuzzed = gPts;
    const GstClockTime next = gPts + GST_SECOND / 30;
    gPts += 2 * GST_SECOND / 30;
    if (size > 0)
        push(p.src, reinterpret_cast<const char *>(data), size, fuzzed);
    push(p.src, reinterpret_cast<const char *>(gGoodFrame.data()), gGoodFrame.size(), next);

    // Whatever became of the fuzzed frame, the good one after it comes out decoded.
    for (;;) {
        capture::SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(p.sink), 10 * GST_SECOND));
        if (!sample) {
            capture::MessagePtr message(gst_bus_pop_filtered(p.bus.get(), GST_MESSAGE_ERROR));
            fuzz::fail(message ? "the decoder stopped with an error after a bad frame"
                               : "no frame came out after a bad frame");
        }
        GstBuffer *buffer = gst_sample_get_buffer(sample.get());
        if (buffer && GST_BUFFER_PTS(buffer) == next)
            break;
    }
}

Pipeline &pipeline()
{
    static Pipeline p = makePipeline();
    return p;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    capture::ensureGstreamer();
    if (!capture::registerJpegDecoder())
        fuzz::fail("the camera JPEG decoder cannot be registered");
    gGoodFrame = fuzz::pageFrame(640, 480);
    // The pipeline starts (threads, decoder state) before any input, so that what it keeps for
    // its whole life is not taken for a leak of the first input.
    decodeThenGoodFrame(pipeline(), nullptr, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    decodeThenGoodFrame(pipeline(), data, size);
    return 0;
}
