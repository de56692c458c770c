// Frames a camera may send in an MJPEG mode on which jpegdec ends the whole stream, whatever its
// max-errors (a header it cannot read to the picture data, a layout it does not decode): the
// guard in front of the decoder drops them, and the next frame comes out decoded.
#include "Devices.h"
#include "GstHandles.h"
#include "JpegFrameCheck.h"
#include "TurboJpegHandles.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <QFile>

#include <vector>

using namespace quillora;
using namespace quillora::capture;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The frame the fuzzer found: whole (SOI to EOI), but its header does not read to the picture
// data, and jpegdec stopped the stream on it.
QByteArray unreadableHeader()
{
    return readFile(QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data/fuzz/mjpeg_frames/finding-unreadable-header.jpg"));
}

// A 32x24 picture compressed by libjpeg-turbo from `pixelFormat` pixels in `subsampling`.
QByteArray compressed(int pixelFormat, int subsampling)
{
    const int width = 32, height = 24;
    std::vector<unsigned char> pixels(std::size_t(width * height * tjPixelSize[pixelFormat]));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i * 7);
    TjHandlePtr compressor(tjInitCompress());
    unsigned char *raw = nullptr;
    unsigned long size = 0;
    if (!compressor
        || tjCompress2(compressor.get(), pixels.data(), width, 0, height, pixelFormat, &raw, &size, subsampling, 90, 0)
            != 0)
        return {};
    const TjBufferPtr jpeg(raw);
    return QByteArray(reinterpret_cast<const char *>(jpeg.get()), qsizetype(size));
}

bool decodable(const QByteArray &frame)
{
    return jpegHeaderDecodable(reinterpret_cast<const std::uint8_t *>(frame.constData()), std::size_t(frame.size()));
}

// The bad frame comes first: a check that kept its decompressor would refuse every frame after it.
TEST(JpegGuard, OnlyHeadersTheDecoderCanStartOnPass)
{
    const QByteArray bad = unreadableHeader();
    ASSERT_FALSE(bad.isEmpty());
    EXPECT_TRUE(jpegFrameLooksWhole(reinterpret_cast<const std::uint8_t *>(bad.constData()), std::size_t(bad.size())));
    EXPECT_FALSE(decodable(bad));
    for (int subsampling : {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_440})
        EXPECT_TRUE(decodable(compressed(TJPF_RGB, subsampling))) << "subsampling " << subsampling;
    EXPECT_TRUE(decodable(compressed(TJPF_GRAY, TJSAMP_GRAY)));
    EXPECT_FALSE(decodable(compressed(TJPF_CMYK, TJSAMP_444))) << "four components";
    const QByteArray good = compressed(TJPF_RGB, TJSAMP_420);
    EXPECT_FALSE(decodable(good.left(good.indexOf("\xff\xda", 2)))) << "cut before the picture data";
    EXPECT_FALSE(decodable({}));
}

TEST(JpegGuard, TheFrameAfterOneTheDecoderCannotStartOnComesOutDecoded)
{
    ensureGstreamer();
    GError *raw = nullptr;
    const ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(
        gst_parse_launch("appsrc name=camera is-live=true format=time caps=image/jpeg,width=32,height=24,framerate=30/1"
                         " ! jpegdec name=decoder ! appsink name=frames sync=false",
            &raw))));
    const GErrorPtr error(raw);
    ASSERT_TRUE(pipeline && !error);
    const ElementPtr decoder(gst_bin_get_by_name(GST_BIN(pipeline.get()), "decoder"));
    const ElementPtr src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "camera"));
    const ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "frames"));
    guardJpegDecoder(decoder.get());
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    const QByteArray frames[] = {unreadableHeader(), compressed(TJPF_RGB, TJSAMP_420)};
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
