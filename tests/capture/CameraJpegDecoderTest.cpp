// SPDX-License-Identifier: GPL-3.0-or-later
// Camera JPEG frames as real cameras send them, grouped by what trips general JPEG code up:
// no Huffman tables, warnings of padding, stale tails after the frame, frames cut short or
// damaged inside, markers in an unusual order. The decoder that the view, the kept frame and the
// movie share (JpegPicture) is held against libjpeg's own decode of the same bytes. Then the
// decoder element of an MJPEG session passes over what it cannot decode and counts it.
#include "Devices.h"
#include "GstHandles.h"
#include "JpegDecoder.h"
#include "JpegPicture.h"
#include "JpegStructure.h"
#include "RealFrames.h"
#include "SanitizerHandOff.h"
#include "TestPage.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <QFile>

using namespace quillora;
using namespace quillora::capture;
using test::kRealFrames;
using test::libjpegDecode;

namespace {

// The camera's page as libjpeg-turbo compresses it, 640x480 in 4:2:0.
QByteArray goodFrame()
{
    return test::documentPageJpeg({640, 480}, TJSAMP_420);
}

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
}

// What our decoder makes of the frame at `size` (its own when empty): the picture, or null.
QImage decoded(JpegPicture &decoder, const QByteArray &jpeg, QSize size = {}, QString *why = nullptr)
{
    const auto full = decoder.frameSize(bytesOf(jpeg).data(), std::size_t(jpeg.size()), why);
    if (!full)
        return {};
    QImage picture(size.isEmpty() ? *full : size, QImage::Format_RGB32);
    return decoder.decode(bytesOf(jpeg).data(), std::size_t(jpeg.size()), picture.bits(), int(picture.bytesPerLine()),
               picture.size(), why)
        ? picture
        : QImage();
}

// Our decode, accurate and fast, at full size and at the scale a half-size view needs, is
// libjpeg's to the bit.
void expectDecodesAsLibjpeg(const QByteArray &jpeg, QSize size)
{
    JpegPicture accurate(JpegDecoding::Accurate), fast;
    const QImage ours = decoded(accurate, jpeg);
    ASSERT_EQ(ours.size(), size);
    EXPECT_EQ(ours, libjpegDecode(jpeg, true));
    EXPECT_EQ(decoded(fast, jpeg), libjpegDecode(jpeg, false));
    const QSize half = jpegScaledSize(size, size / 2);
    EXPECT_EQ(decoded(fast, jpeg, half), libjpegDecode(jpeg, false, half)) << half.width();
}

// The frame's segments up to its first scan, and the index of the first one with `marker`.
int segmentIndex(const JpegLayout &layout, std::uint8_t marker)
{
    for (std::size_t i = 0; i < layout.headers.size(); ++i)
        if (layout.headers[i].marker == marker)
            return int(i);
    return -1;
}

using RealCameraFrames = test::RealFramesTest;

} // namespace

// Most cameras leave the Huffman tables out: the standard ones are meant, the very tables
// libjpeg-turbo itself writes, and every frame decodes as libjpeg decodes it.
TEST_F(RealCameraFrames, WithoutHuffmanTablesTheStandardOnesAreMeant)
{
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = frame(f);
        const auto layout = jpegLayout(bytesOf(jpeg));
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->hasHuffmanTables, f.huffmanTables);
        EXPECT_EQ(QSize(layout->width, layout->height), f.size);
        expectDecodesAsLibjpeg(jpeg, f.size);
    }
    // libjpeg-turbo's own tables, from a file it wrote: its DHT segments, one table each.
    const QByteArray written = goodFrame();
    const auto layout = jpegLayout(bytesOf(written));
    ASSERT_TRUE(layout);
    QByteArray tables;
    for (const JpegSegment &segment : layout->headers)
        if (segment.marker == jpeg::kDht)
            tables += written.mid(qsizetype(segment.offset) + 4, qsizetype(segment.size) - 4);
    const auto standard = standardHuffmanTablesSegment();
    ASSERT_EQ(tables.size() + 4, qsizetype(standard.size()));
    EXPECT_EQ(tables, QByteArray(reinterpret_cast<const char *>(standard.data()) + 4, tables.size()));
    EXPECT_EQ((standard[2] << 8 | standard[3]) + 2, int(standard.size()));
}

// A camera's padding before its restart markers makes libjpeg warn while the picture is whole:
// such frames are kept, decoded as libjpeg decodes them. A packet lost inside the picture's data
// (headers and end marker intact), or one sent twice, is damage: the frame is refused, whatever
// libjpeg would have painted.
TEST_F(RealCameraFrames, PaddingKeepsTheFrameDamageInsideDropsIt)
{
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = frame(f);
        bool warned = false;
        ASSERT_FALSE(libjpegDecode(jpeg, true, {}, &warned).isNull());
        EXPECT_EQ(warned, f.warns);
        JpegPicture decoder;
        EXPECT_FALSE(decoded(decoder, jpeg).isNull());
        EXPECT_EQ(decoder.lastWarning(), f.warns ? JpegWarning::Padding : JpegWarning::None);

        // A packet of the USB transfer lost, or sent twice, a third of the way into the data.
        const auto layout = jpegLayout(bytesOf(jpeg));
        ASSERT_TRUE(layout);
        const qsizetype data = qsizetype(layout->end - layout->scanOffset);
        const qsizetype packet = std::min<qsizetype>(3072, data / 8);
        const qsizetype at = qsizetype(layout->scanOffset) + data / 3;
        const QByteArray lost = jpeg.left(at) + jpeg.mid(at + packet);
        const QByteArray twice = jpeg.left(at + packet) + jpeg.mid(at);
        for (const QByteArray &damaged : {lost, twice}) {
            QString why;
            EXPECT_TRUE(decoded(decoder, damaged, {}, &why).isNull()) << (damaged.size() < jpeg.size());
            EXPECT_EQ(decoder.lastWarning(), JpegWarning::Damage) << why.toStdString();
            EXPECT_FALSE(why.isEmpty());
        }
    }
    // Padding of our own making: two bytes before every restart marker.
    const QImage page = libjpegDecode(goodFrame(), true);
    const QByteArray padded = test::libjpegEncode(page, 2, 4, 2);
    bool warned = false;
    const QImage reference = libjpegDecode(padded, true, {}, &warned);
    EXPECT_TRUE(warned);
    JpegPicture decoder(JpegDecoding::Accurate);
    EXPECT_EQ(decoded(decoder, padded), reference);
    EXPECT_EQ(decoder.lastWarning(), JpegWarning::Padding);
    // A header libjpeg only wonders at (a JFIF revision 0.00) is no damage either.
    QByteArray oddHeader = goodFrame();
    ASSERT_EQ(oddHeader.mid(6, 5), QByteArray("JFIF\0", 5));
    oddHeader[11] = 0;
    oddHeader[12] = 0;
    EXPECT_EQ(decoded(decoder, oddHeader), libjpegDecode(goodFrame(), true));
    EXPECT_EQ(decoder.lastWarning(), JpegWarning::Padding);
    // Many stray bytes are no padding: another frame's data behind a gap.
    EXPECT_TRUE(decoded(decoder, test::libjpegEncode(page, 2, 4, kMaxJpegPadding + 1)).isNull());
}

// A camera's buffer may hold the rest of an older frame after the frame's end-of-image marker:
// the frame is what comes before, whatever follows.
TEST_F(RealCameraFrames, StaleTailsAreNotPartOfTheFrame)
{
    const QByteArray other = test::libjpegEncode(test::documentPage({640, 480}, 1), 2);
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = frame(f);
        const QByteArray alone = jpeg.left(jpeg.size() - f.staleTail);
        EXPECT_EQ(wholeJpegFrameLength(bytesOf(jpeg).data(), std::size_t(jpeg.size())), std::size_t(alone.size()));
        const QImage reference = libjpegDecode(alone, true);
        for (const QByteArray &tail :
            {QByteArray(), other.mid(other.size() / 2), QByteArray(5000, '\xFF'), QByteArray(300, '\0'), other}) {
            JpegPicture decoder(JpegDecoding::Accurate);
            EXPECT_EQ(decoded(decoder, jpeg + tail), reference) << tail.size();
            EXPECT_EQ(decoder.lastWarning(), f.warns ? JpegWarning::Padding : JpegWarning::None);
        }
    }
}

// A frame cut short, anywhere, is no picture, though libjpeg would paint the rest grey; nor is
// one cut short with an older frame's rest behind it in the buffer, which reaches an end marker.
TEST_F(RealCameraFrames, FramesCutShortAreNeverDecoded)
{
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = frame(f);
        const qsizetype length = jpeg.size() - f.staleTail;
        for (const qsizetype cut : {qsizetype(100), length / 10, length / 2, length * 99 / 100, length - 2}) {
            const QByteArray part = jpeg.left(cut);
            EXPECT_FALSE(wholeJpegFrameLength(bytesOf(part).data(), std::size_t(part.size()))) << cut;
            JpegPicture decoder;
            QString why;
            EXPECT_FALSE(decoder.frameSize(bytesOf(part).data(), std::size_t(part.size()), &why)) << cut;
            EXPECT_TRUE(decoded(decoder, part).isNull()) << cut;
            if (cut == length - 2) { // libjpeg itself paints it, and only warns
                bool warned = false;
                EXPECT_FALSE(libjpegDecode(part, true, {}, &warned).isNull());
                EXPECT_TRUE(warned);
            }
        }
    }
    // The newer frame cut short, the older one's rest behind it (the page seen the other way
    // round): the restart markers, as most cameras send them, no longer follow each other. (Without
    // restart markers, an older frame's rest that happens to fill the gap with data of just the
    // right length cannot be told from the frame's own; cameras' drivers leave it out of the
    // buffer's bytes.)
    const QImage page = libjpegDecode(goodFrame(), true);
    const QByteArray newer = test::libjpegEncode(page, 2, 10);
    const QByteArray older = test::libjpegEncode(page.mirrored(true, false), 2, 10);
    const QByteArray mixed = newer.left(newer.size() / 2) + older.mid(older.size() / 2);
    ASSERT_TRUE(wholeJpegFrameLength(bytesOf(mixed).data(), std::size_t(mixed.size())));
    JpegPicture decoder;
    EXPECT_TRUE(decoded(decoder, mixed).isNull());
    EXPECT_EQ(decoder.lastWarning(), JpegWarning::Damage);
}

// Segments in an unusual order (the frame header before the quantisation tables, as a C170
// sends it), end markers inside segments (a thumbnail, a comment), fill bytes before a marker:
// the frame is walked by its segments' lengths and ends where its data ends.
TEST_F(RealCameraFrames, MarkersComeInAnyOrder)
{
    const test::RealFrame &sofFirst = kRealFrames[5];
    const QByteArray c170 = frame(sofFirst);
    const auto c170Layout = jpegLayout(bytesOf(c170));
    ASSERT_TRUE(c170Layout);
    EXPECT_LT(segmentIndex(*c170Layout, 0xC0), segmentIndex(*c170Layout, 0xDB));
    expectDecodesAsLibjpeg(c170, sofFirst.size);

    const QByteArray pion = frame(kRealFrames[0]);
    const auto layout = jpegLayout(bytesOf(pion));
    ASSERT_TRUE(layout);
    // A thumbnail in an APP1 segment and a comment, each holding start and end markers, then
    // fill bytes before the first scan.
    const QByteArray thumbnail = goodFrame().left(2) + QByteArray("\xFF\xD9\xFF\xD8\xFF\xD9", 6);
    QByteArray extra = QByteArray("\xFF\xE1", 2) + char(0) + char(thumbnail.size() + 2) + thumbnail;
    extra += QByteArray("\xFF\xFE\x00\x06\xFF\xD9\xFF\xD9", 8);
    const qsizetype scan = qsizetype(layout->scanOffset);
    const QByteArray walked = pion.left(2) + extra + pion.mid(2, scan - 2) + QByteArray(3, '\xFF') + pion.mid(scan);
    EXPECT_EQ(wholeJpegFrameLength(bytesOf(walked).data(), std::size_t(walked.size())), std::size_t(walked.size()));
    JpegPicture decoder(JpegDecoding::Accurate);
    EXPECT_EQ(decoded(decoder, walked), libjpegDecode(pion, true));
    // A scan before any frame header, or an end before any scan, is no frame.
    const int sof = segmentIndex(*layout, 0xC0);
    ASSERT_GE(sof, 0);
    const JpegSegment header = layout->headers[std::size_t(sof)];
    const QByteArray noFrameHeader
        = pion.left(qsizetype(header.offset)) + pion.mid(qsizetype(header.offset + header.size));
    EXPECT_FALSE(jpegLayout(bytesOf(noFrameHeader)));
    EXPECT_FALSE(jpegLayout(bytesOf(pion.left(scan) + QByteArray("\xFF\xD9", 2))));
    // A frame header claiming more than any camera sends is garbage, not a frame to decode at
    // hundreds of megabytes.
    QByteArray huge = pion;
    huge[qsizetype(header.offset) + 5] = char(0xFD);
    huge[qsizetype(header.offset) + 7] = char(0xFD);
    QString why;
    EXPECT_FALSE(decoder.frameSize(bytesOf(huge).data(), std::size_t(huge.size()), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("larger than any camera's"))) << why.toStdString();
}

// In a session the decoder element passes over a frame whose header does not read to the picture
// data (one the JPEG fuzzer found), one that lost a packet and a damaged one of another size than
// the mode, counts them, and the next frame comes out decoded; a frame with a camera's padding
// comes out too.
TEST(CameraJpegDecoder, TheElementPassesOverBadFramesCountsThemAndGoesOn)
{
    ensureGstreamer();
    ASSERT_TRUE(registerJpegDecoder());
    QFile found(QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data/fuzz/mjpeg_frames/finding-unreadable-header.jpg"));
    ASSERT_TRUE(found.open(QIODevice::ReadOnly));
    const QByteArray good = goodFrame();
    ASSERT_FALSE(good.isEmpty());
    const QByteArray padded = test::libjpegEncode(libjpegDecode(good, true), 2, 4, 2);
    const QByteArray lost = good.left(good.size() / 2) + good.mid(good.size() / 2 + 3072);
    // Of another size than the mode, with another frame's data behind its restart markers.
    const QByteArray largerDamaged
        = test::libjpegEncode(libjpegDecode(good, true).scaled(800, 600), 2, 4, kMaxJpegPadding + 1);
    const QByteArray frames[] = {found.readAll(), lost, largerDamaged, padded, good};

    GError *raw = nullptr;
    const ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(
        "appsrc name=camera is-live=true format=time caps=image/jpeg,width=640,height=480,framerate=30/1"
        " ! quillorajpegdecoder name=decoder ! appsink name=frames sync=false",
        &raw))));
    const GErrorPtr error(raw);
    ASSERT_TRUE(pipeline && !error);
    const ElementPtr src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "camera"));
    const ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "frames"));
    const ElementPtr decoder(gst_bin_get_by_name(GST_BIN(pipeline.get()), "decoder"));
    runTasksOnTheirOwnThreads(pipeline.get());
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    for (int i = 0; i < 5; ++i) {
        GstBuffer *buffer = gst_buffer_new_memdup(frames[i].constData(), std::size_t(frames[i].size()));
        GST_BUFFER_PTS(buffer) = GstClockTime(i) * GST_SECOND / 30;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src.get()), buffer), GST_FLOW_OK);
    }
    for (const int shown : {3, 4}) {
        const SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
        ASSERT_TRUE(sample) << "the stream stopped at a bad frame";
        EXPECT_EQ(GST_BUFFER_PTS(gst_sample_get_buffer(sample.get())), GstClockTime(shown) * GST_SECOND / 30);
    }
    guint64 skipped = 0;
    g_object_get(decoder.get(), "skipped-frames", &skipped, nullptr);
    EXPECT_EQ(skipped, 3u);
    const BusPtr bus(gst_element_get_bus(pipeline.get()));
    EXPECT_FALSE(MessagePtr(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}
