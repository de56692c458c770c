// SPDX-License-Identifier: GPL-3.0-or-later
// A frame the JPEG fuzzer found (whole from start to end of image, but its header does not read
// to the picture data) once ended a camera's stream in an MJPEG mode: the camera's decoder passes
// over it and the next frame comes out decoded.
#include "Devices.h"
#include "GstHandles.h"
#include "JpegDecoder.h"
#include "SanitizerHandOff.h"
#include "TestPage.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <QFile>

using namespace quillora;
using namespace quillora::capture;

namespace {

TEST(CameraJpegDecoder, TheFrameAfterOneWithAnUnreadableHeaderComesOutDecoded)
{
    ensureGstreamer();
    ASSERT_TRUE(registerJpegDecoder());
    QFile found(QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data/fuzz/mjpeg_frames/finding-unreadable-header.jpg"));
    ASSERT_TRUE(found.open(QIODevice::ReadOnly));
    const QByteArray frames[] = {found.readAll(), quillora::test::documentPageJpeg({640, 480}, TJSAMP_420)};
    ASSERT_FALSE(frames[1].isEmpty());

    GError *raw = nullptr;
    const ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(
        "appsrc name=camera is-live=true format=time caps=image/jpeg,width=640,height=480,framerate=30/1"
        " ! quillorajpegdecoder ! appsink name=frames sync=false",
        &raw))));
    const GErrorPtr error(raw);
    ASSERT_TRUE(pipeline && !error);
    const ElementPtr src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "camera"));
    const ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "frames"));
    runTasksOnTheirOwnThreads(pipeline.get());
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    for (int i = 0; i < 2; ++i) {
        GstBuffer *buffer = gst_buffer_new_memdup(frames[i].constData(), std::size_t(frames[i].size()));
        GST_BUFFER_PTS(buffer) = GstClockTime(i) * GST_SECOND / 30;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src.get()), buffer), GST_FLOW_OK);
    }
    const SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
    ASSERT_TRUE(sample) << "the stream stopped at the bad frame";
    EXPECT_EQ(GST_BUFFER_PTS(gst_sample_get_buffer(sample.get())), GST_SECOND / 30);
    const BusPtr bus(gst_element_get_bus(pipeline.get()));
    EXPECT_FALSE(MessagePtr(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

} // namespace
