// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG photos of an MJPEG camera's frames: the camera's own data made a clean standalone file
// that every reader takes without a warning (libjpeg, Qt, GStreamer's jpegdec), decoding to
// exactly the frame's pixels, turned losslessly; and, where that cannot be had, a photo decoded,
// turned and encoded as any other.
#include "CameraJpeg.h"
#include "JpegStructure.h"
#include "PhotoCapture.h"
#include "RealFrames.h"
#include "TestSupport.h"
#include "TurboJpegHandles.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace quillora;
using namespace quillora::output;
using test::kRealFrames;
using test::libjpegDecode;

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
}

// What Qt's JPEG reader makes of `jpeg`, and whether it (libjpeg under it) complained.
QImage qtDecode(const QByteArray &jpeg, bool *complained)
{
    static bool sawWarning = false;
    sawWarning = false;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &) { sawWarning |= type != QtDebugMsg; });
    const QImage picture = QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
    qInstallMessageHandler(previous);
    *complained = sawWarning;
    return picture;
}

// What GStreamer's jpegdec (with a conversion to BGRx) makes of `jpeg`; null, with the bus's
// complaint in `problem`, when it did not decode it cleanly.
QImage jpegdecDecode(const QByteArray &jpeg, QString *problem)
{
    gst_init(nullptr, nullptr);
    GstElement *raw = gst_parse_launch("appsrc name=in caps=image/jpeg ! jpegdec ! videoconvert"
                                       " ! video/x-raw,format=BGRx ! appsink name=out sync=false",
        nullptr);
    const std::unique_ptr<GstElement, void (*)(GstElement *)> pipeline(
        raw ? GST_ELEMENT(gst_object_ref_sink(raw)) : nullptr, [](GstElement *p) {
            gst_element_set_state(p, GST_STATE_NULL);
            gst_object_unref(p);
        });
    if (!pipeline) {
        *problem = QStringLiteral("no pipeline");
        return {};
    }
    GstElement *in = gst_bin_get_by_name(GST_BIN(pipeline.get()), "in");
    GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline.get()), "out");
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    gst_app_src_push_buffer(GST_APP_SRC(in), gst_buffer_new_memdup(jpeg.constData(), std::size_t(jpeg.size())));
    gst_app_src_end_of_stream(GST_APP_SRC(in));
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 10 * GST_SECOND);
    QImage picture;
    if (sample) {
        GstStructure *s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        int width = 0, height = 0;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        GstMapInfo map;
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            picture = QImage(map.data, width, height, width * 4, QImage::Format_RGB32).copy();
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    GstBus *bus = gst_element_get_bus(pipeline.get());
    if (GstMessage *m = gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING))) {
        *problem = QString::fromUtf8(GST_MESSAGE_TYPE_NAME(m));
        gst_message_unref(m);
        picture = QImage();
    }
    gst_object_unref(bus);
    gst_object_unref(in);
    gst_object_unref(out);
    return picture;
}

// The file carries Huffman tables and a JFIF header at 72 dpi where it begins, no AVI1 header,
// and nothing after its end-of-image marker.
void expectCleanStandaloneFile(const QByteArray &file)
{
    const auto layout = jpegLayout(bytesOf(file));
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->hasHuffmanTables);
    EXPECT_EQ(layout->end, std::size_t(file.size()));
    EXPECT_TRUE(file.startsWith(QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01\x00\x48\x00\x48", 18)));
    EXPECT_FALSE(file.contains("AVI1"));
}

// `photo` reads in libjpeg without a warning, with Qt without a complaint and in jpegdec without
// one, and is `expected` in libjpeg's decode (exactly) and in jpegdec's (within its conversion).
void expectReadsCleanlyAs(const QByteArray &photo, const QImage &expected)
{
    bool warned = true;
    EXPECT_EQ(libjpegDecode(photo, true, {}, &warned), expected);
    EXPECT_FALSE(warned);
    bool complained = true;
    EXPECT_EQ(qtDecode(photo, &complained).size(), expected.size());
    EXPECT_FALSE(complained);
    QString problem;
    const QImage byJpegdec = jpegdecDecode(photo, &problem);
    EXPECT_EQ(problem, QString());
    EXPECT_GT(test::psnr(byJpegdec, expected), 30);
}

class CameraJpegPhoto : public test::RealFramesTest {
protected:
    QTemporaryDir out;
};

} // namespace

// Each real camera's frame, unturned: the photo is its own data made standalone, and decodes to
// exactly the frame's pixels everywhere. A frame that only decodes with a warning is not kept
// as it is: the photo then is made as any other.
TEST_F(CameraJpegPhoto, EachRealFrameIsTheCamerasOwnDataMadeStandalone)
{
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = frame(f);
        const QByteArray file = standaloneCameraJpeg(bytesOf(jpeg), 72);
        expectCleanStandaloneFile(file);
        EXPECT_EQ(cameraJpegSize(bytesOf(jpeg)), f.size);
        QString why;
        const auto photo = losslessCameraPhoto(bytesOf(jpeg), 0, false, 72, &why);
        if (f.warns) {
            EXPECT_FALSE(photo);
            EXPECT_FALSE(why.isEmpty());
            continue;
        }
        ASSERT_TRUE(photo) << why.toStdString();
        EXPECT_EQ(*photo, file);
        expectReadsCleanlyAs(*photo, libjpegDecode(jpeg, true));
    }
}

// A quarter, half and three-quarter turn of each real frame is done on its coefficients: the
// photo is the decoded frame turned, but for the rounding of libjpeg's two-pass inverse DCT
// taken in the other order and for the smoothing of the chroma along the other axis (a few
// levels); turned back, it is the frame exactly.
TEST_F(CameraJpegPhoto, LosslessTurnsAreTheDecodedFrameTurned)
{
    for (const test::RealFrame &f : kRealFrames) {
        if (f.warns)
            continue;
        const QByteArray jpeg = frame(f);
        const QImage picture = libjpegDecode(jpeg, true);
        for (int rotation = 1; rotation <= 3; ++rotation) {
            SCOPED_TRACE(testing::Message() << f.file << " rotation " << rotation);
            QString why;
            const auto photo = losslessCameraPhoto(bytesOf(jpeg), rotation, false, 72, &why);
            ASSERT_TRUE(photo) << why.toStdString();
            expectCleanStandaloneFile(*photo);
            const QImage turned = turnedImage(picture, rotation);
            bool warned = true;
            const QImage decoded = libjpegDecode(*photo, true, {}, &warned);
            EXPECT_FALSE(warned);
            ASSERT_EQ(decoded.size(), turned.size());
            EXPECT_GT(test::psnr(decoded, turned), 54);
            EXPECT_LE(test::largestDifference(decoded, turned), 4);
            // Nothing was lost: turned back, it is the frame's picture to the bit.
            const auto back = losslessCameraPhoto(bytesOf(*photo), 4 - rotation, false, 72, &why);
            ASSERT_TRUE(back) << why.toStdString();
            EXPECT_EQ(libjpegDecode(*back, true), picture);
        }
    }
}

// Through the photo itself: at the frame's size a JPEG photo is the camera's data and its
// pixels are never decoded; at another size, or in another format, they are. Where the frame's
// MCU grid forbids a lossless turn, or the frame warns, the photo is decoded, turned and
// encoded, and still reads cleanly as the frame turned.
TEST_F(CameraJpegPhoto, OtherwiseThePhotoIsDecodedTurnedAndEncoded)
{
    const QByteArray pion = frame(kRealFrames[0]); // 640 x 480: the second photo size
    // Qt's reader decodes any sampling libjpeg knows (TurboJPEG's own calls stop at three to one).
    const auto decodeAny
        = [](const QByteArray &jpeg) { return QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32); };
    int decodes = 0;
    const auto photoOf = [&](const QByteArray &jpeg, int rotation, int size, int format = 0) {
        const QImage picture = decodeAny(jpeg);
        const PhotoFrame photoFrame{[&decodes, picture] {
                                        ++decodes;
                                        return picture;
                                    },
            jpeg};
        const OutputResult written
            = writePhoto(photoFrame, rotation, {size, format, out.path(), QStringLiteral("photo"), 1});
        EXPECT_TRUE(written.ok()) << written.error.toStdString();
        QFile file(written.path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(photoOf(pion, 0, 1), standaloneCameraJpeg(bytesOf(pion), 72));
    QString why;
    EXPECT_EQ(photoOf(pion, 3, 1), losslessCameraPhoto(bytesOf(pion), 3, false, 72, &why).value_or(QByteArray()));
    EXPECT_EQ(decodes, 0);
    const QByteArray smaller = photoOf(pion, 0, 0);
    EXPECT_EQ(QImage::fromData(smaller).size(), QSize(320, 240));
    photoOf(pion, 0, 1, 1);
    EXPECT_EQ(decodes, 2);

    // A 4:2:2 grid that a quarter turn, or a mirror (alone or after a half or three-quarter
    // turn), would cut into. A mirror after a quarter turn is the transpose, which never moves
    // a partial block: that one is kept without loss.
    const QImage page = libjpegDecode(pion, true).scaled(250, 130);
    const QByteArray uneven = test::libjpegEncode(page, 2, 0, 0);
    EXPECT_FALSE(losslessCameraPhoto(bytesOf(uneven), 1, false, 72, &why));
    EXPECT_FALSE(why.isEmpty());
    for (const int rotation : {0, 2, 3}) {
        why.clear();
        EXPECT_FALSE(losslessCameraPhoto(bytesOf(uneven), rotation, true, 72, &why)) << rotation;
        EXPECT_FALSE(why.isEmpty());
    }
    const auto transposed = losslessCameraPhoto(bytesOf(uneven), 1, true, 72, &why);
    ASSERT_TRUE(transposed) << why.toStdString();
    EXPECT_GT(test::psnr(libjpegDecode(*transposed, true), orientedImage(decodeAny(uneven), 1, true)), 40);
    // At a photo size: luminance sampled three to one (a grid 24 pixels wide, which no camera
    // sends and TurboJPEG's own readers refuse), and a camera's padding before its restart
    // markers.
    const QImage photoPage = libjpegDecode(pion, true);
    for (const QByteArray &jpeg : {test::libjpegEncode(photoPage, 3, 0, 0), test::libjpegEncode(photoPage, 2, 4, 2)}) {
        for (int rotation : {0, 1}) {
            const QByteArray photo = photoOf(jpeg, rotation, 1);
            expectCleanStandaloneFile(photo);
            const QImage turned = turnedImage(decodeAny(jpeg), rotation);
            bool warned = true;
            EXPECT_GT(test::psnr(libjpegDecode(photo, true, {}, &warned), turned), 30) << rotation;
            EXPECT_FALSE(warned);
        }
    }
    EXPECT_EQ(decodes, 6);
    // A file refused once it was written (it read with a warning) is gone again.
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), 8);
}
