// SPDX-License-Identifier: GPL-3.0-or-later
// Freeze, rotation, photos and the camera button through the controller of a real window
// definition. Frames come from a virtual camera or are handed in directly. Numbering, opening
// and turning window photos are driven through the running program in photo_e2e.sh.
#include "CameraJpeg.h"
#include "CameraMode.h"
#include "CaptureSession.h"
#include "CaptureView.h"
#include "DesktopSpy.h"
#include "Frame.h"
#include "ImageView.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "PhotoTestSupport.h"
#include "RealFrames.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gst/gst.h>

using namespace quillora;
using namespace Qt::StringLiterals;
using app::VemoViewController;
using test::documentPage;
using test::expectCorners;
using test::waitUntil;

namespace {

class PhotoController : public ::testing::Test {
protected:
    void TearDown() override
    {
        VemoViewController::setSnapshotHoldIntervalForTesting(2000);
        capture::setVirtualCameraPage(0);
    }

    // The controller, set to numbered 640 x 480 JPEGs; with `cameras` it starts up as the
    // application does, without it there is no camera and no frame.
    VemoViewController &make(const QByteArray &cameras = {})
    {
        def = std::make_unique<app::WindowDefinition>(qApp);
        VemoViewController &c = *def->controller();
        if (!cameras.isEmpty()) {
            test::ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
            def->awake();
            EXPECT_TRUE(waitUntil([&] { return bool(c.currentFrame()); }));
        }
        testAccess(c).mPhotoPath()->setURL(QUrl::fromLocalFile(out.path() + u'/'));
        testAccess(c).mPhotoFilename()->setText(u"Quillora"_s);
        testAccess(c).mOverwrite()->selectCellAtRow(1);
        testAccess(c).mPhotoFormat()->setCurrentIndex(0);
        testAccess(c).mPhotoSize()->setCurrentIndex(1);
        return c;
    }
    QStringList files() const { return QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir config;
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
    test::ScopedEnv noMicrophone{"QUILLORA_VIRTUAL_MICROPHONE", ""};
    QTemporaryDir out;
    test::DesktopSpy spy;
    std::unique_ptr<app::WindowDefinition> def;
};

} // namespace

// Each press turns the shown picture a quarter clockwise, four come back; a freeze shows the
// frame unturned until resumed. The photo format and
// the replace rule follow their controls, and a bad format writes and opens nothing.
TEST_F(PhotoController, RotationTurnsThePreviewAndPhotosFollowTheControls)
{
    VemoViewController &c = make("Page|Virtual Camera|virtual-0");
    const QImage page = documentPage({64, 48});
    for (int press = 1; press <= 4; ++press) {
        c.rotateClick(nullptr);
        const QImage shown = c.viewWillDisplayImage(testAccess(c).mCaptureView(), page);
        EXPECT_EQ(shown.size(), press % 2 ? QSize(48, 64) : QSize(64, 48));
        expectCorners(shown, {64, 48}, press % 4);
    }
    c.rotateClick(nullptr);
    c.previewClick(nullptr); // frozen: the frame unturned, and turns ignored
    EXPECT_FALSE(testAccess(c).mCaptureSession()->isRunning());
    const QImage still = testAccess(c).mPreviewImage()->image();
    EXPECT_EQ(still, c.currentFrame().image());
    c.rotateClick(nullptr);
    EXPECT_EQ(testAccess(c).mPreviewImage()->image(), still);
    c.previewClick(nullptr);
    EXPECT_TRUE(testAccess(c).mCaptureSession()->isRunning());
    EXPECT_TRUE(testAccess(c).mPreviewImage()->image().isNull()) << "the hidden still lets its frame go";

    testAccess(c).mOverwrite()->selectCellAtRow(0);
    testAccess(c).mPhotoFormat()->setCurrentIndex(3);
    c.photoClick(nullptr);
    c.photoClick(nullptr);
    testAccess(c).mPhotoFormat()->setCurrentIndex(-1);
    c.photoClick(nullptr);
    EXPECT_EQ(files(), QStringList{u"Quillora.tiff"_s});
    EXPECT_EQ(QImageReader(out.filePath(u"Quillora.tiff"_s)).size(), QSize(640, 480));
    EXPECT_EQ(spy.opened().size(), 2);
}

// With no frame nothing is written. The button's hold, 2 s scaled to 0.8 s:
// presses on the listener's thread (its own event loop) at 0, 1.5 s and 2.5 s (0, 0.6 and
// 1.0 s) give two photos; a window photo a quarter of the hold after a button photo is taken.
TEST_F(PhotoController, TheButtonIsHeldOffForTheIntervalButTheWindowIsNot)
{
    constexpr int kHold = 800;
    VemoViewController::setSnapshotHoldIntervalForTesting(kHold);
    VemoViewController &c = make();
    c.photoClick(nullptr);
    EXPECT_TRUE(files().isEmpty());
    c.captureOutputDidOutputVideoFrame(nullptr, capture::Frame::fromImage(documentPage({640, 480})));
    QThread listener;
    QObject context;
    listener.start();
    context.moveToThread(&listener);
    const auto onListener = [&](auto call) { QMetaObject::invokeMethod(&context, call, Qt::QueuedConnection); };
    const auto press = [&] { onListener([&c] { c.snapshotByKey(); }); };
    press();
    QTimer::singleShot(kHold * 3 / 4, press);
    QTimer::singleShot(kHold * 5 / 4, press);
    test::runEventsFor(std::chrono::milliseconds(kHold * 5 / 4 + 400));
    EXPECT_EQ(files(), (QStringList{u"Quillora.jpg"_s, u"Quillora1.jpg"_s}));

    test::runEventsFor(std::chrono::milliseconds(kHold));
    press();
    EXPECT_TRUE(waitUntil([&] { return files().size() == 3; }));
    QTimer::singleShot(kHold / 4, [&] { c.photoClick(nullptr); });
    EXPECT_TRUE(waitUntil([&] { return files().size() == 4; }, std::chrono::milliseconds(kHold / 2)));
    test::runEventsFor(std::chrono::milliseconds(kHold)); // let the hold end
    listener.quit();
    listener.wait();
    const QStringList paths = spy.opened();
    EXPECT_EQ(QSet<QString>(paths.begin(), paths.end()).size(), 4);
    for (const QString &p : paths)
        EXPECT_EQ(QImageReader(p).size(), QSize(640, 480)) << p.toStdString();
}

namespace {

// A camera's JPEG frame as the decoded-frame output keeps it: its bytes, decoded at `size` when
// its pixels are first asked for.
capture::Frame jpegFrame(const QByteArray &bytes, QSize size)
{
    GstBuffer *buffer = gst_buffer_new_memdup(bytes.constData(), gsize(bytes.size()));
    GstSample *sample = gst_sample_new(buffer, nullptr, nullptr, nullptr);
    gst_buffer_unref(buffer); // the sample holds it
    return capture::Frame::adoptJpeg(sample, size, size);
}

QByteArray jpegBytes(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return buffer.data();
}

} // namespace

// A newest frame that will not decode (damaged on its way from the camera): a photo and a freeze
// take the frame before it, which the user saw a thirtieth of a second earlier. With no good frame
// to fall back on nothing is written or frozen, and the window says why in plain words.
TEST_F(PhotoController, ADamagedNewestFrameFallsBackToTheOneBeforeOrSaysSo)
{
    VemoViewController &c = make("Page|Virtual Camera|virtual-0|640x480");
    testAccess(c).mMessages()->setStatusDuration(60000);
    // From here the test hands the frames in; one the camera's thread was delivering is in place
    // by the time the view has shown two more.
    testAccess(c).mCaptureDecompressedVideoOutput()->setDelegate(nullptr);
    const quint64 shown = testAccess(c).mCaptureView()->framesShown();
    ASSERT_TRUE(waitUntil([&] { return testAccess(c).mCaptureView()->framesShown() >= shown + 2; }));
    const QImage page = documentPage({640, 480});
    const QByteArray good = jpegBytes(page);
    const QByteArray damaged = good.left(600) + QByteArray(good.size() - 600, '\x5a'); // headers whole, no end
    const auto status = [&] { return testAccess(c).mMessages()->statusMessage().toStdString(); };
    c.captureOutputDidOutputVideoFrame(nullptr, jpegFrame(good, {640, 480}));
    c.captureOutputDidOutputVideoFrame(nullptr, jpegFrame(damaged, {640, 480}));
    c.photoClick(nullptr);
    EXPECT_EQ(status(), "Photo saved: Quillora.jpg");
    ASSERT_EQ(files(), QStringList{u"Quillora.jpg"_s});
    expectCorners(QImage(out.filePath(u"Quillora.jpg"_s)), {640, 480}, 0);
    c.previewClick(nullptr);
    EXPECT_FALSE(testAccess(c).mCaptureSession()->isRunning());
    EXPECT_EQ(testAccess(c).mPreviewImage()->image().size(), QSize(640, 480));
    expectCorners(testAccess(c).mPreviewImage()->image(), {640, 480}, 0);
    c.previewClick(nullptr);

    c.captureOutputDidOutputVideoFrame(nullptr, jpegFrame(damaged, {640, 480}));
    c.photoClick(nullptr);
    EXPECT_EQ(status(), "Photo not saved: the camera's picture arrived damaged");
    c.previewClick(nullptr);
    EXPECT_EQ(status(), "Picture not frozen: the camera's picture arrived damaged");
    EXPECT_TRUE(testAccess(c).mCaptureSession()->isRunning());
    EXPECT_FALSE(testAccess(c).mFreezeButton()->isChecked());
    EXPECT_EQ(files(), QStringList{u"Quillora.jpg"_s});
    EXPECT_EQ(spy.opened().size(), 1);
}

namespace {

// Which page `image` shows: 0 with the marker top left and paper top right, 1 the other way
// round, -1 neither (a picture in between, or none).
int pageShown(const QImage &image)
{
    if (image.width() < 64)
        return -1;
    const int c = image.width() / 32 + image.width() / 16; // the middle of the marker
    const bool left = qGray(image.pixel(c, c)) < 60, right = qGray(image.pixel(image.width() - 1 - c, c)) < 60;
    return left == right ? -1 : right ? 1 : 0;
}

// The paper's colour, averaged over a patch of plain paper at the top left of an odd page.
void expectPaper(const QImage &image)
{
    const int c = image.width() / 32 + image.width() / 16;
    int sum[3] = {};
    for (int y = c - 8; y < c + 8; ++y)
        for (int x = c - 8; x < c + 8; ++x) {
            const QRgb p = image.pixel(x, y);
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
        }
    EXPECT_NEAR(sum[0] / 256, qRed(capture::kVirtualPaper), 4);
    EXPECT_NEAR(sum[1] / 256, qGreen(capture::kVirtualPaper), 4);
    EXPECT_NEAR(sum[2] / 256, qBlue(capture::kVirtualPaper), 4);
}

} // namespace

// At 2048 x 1536 the camera sends JPEG frames; the view decodes them at a reduced scale, the
// photo from the newest frame in full. A page turned under the camera: as soon as the view
// shows it, a photo shows it too, never the page before, with the marker where it belongs and
// the paper its colour.
TEST_F(PhotoController, APhotoRightAfterThePageTurnsShowsTheNewPage)
{
    VemoViewController &c = make("Page|Virtual Camera|virtual-0");
    testAccess(c).mPhotoSize()->setCurrentIndex(4);
    testAccess(c).mOverwrite()->selectCellAtRow(0);
    c.preferencesChange(testAccess(c).mPhotoSize());
    ASSERT_TRUE(testAccess(c).mCaptureSession()->cameraMode());
    EXPECT_EQ(capture::describeMode(*testAccess(c).mCaptureSession()->cameraMode()), u"MJPEG 2048x1536 @ 30 fps"_s);
    ASSERT_TRUE(waitUntil([&] { return pageShown(testAccess(c).mCaptureView()->lastShownImage()) == 0; }));
    for (int page : {1, 0, 1}) {
        SCOPED_TRACE(page);
        capture::setVirtualCameraPage(page);
        ASSERT_TRUE(waitUntil([&] { return pageShown(testAccess(c).mCaptureView()->lastShownImage()) == page; }));
        c.photoClick(nullptr);
        const QImage photo = QImage(out.filePath(u"Quillora.jpg"_s)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(photo.size(), QSize(2048, 1536));
        EXPECT_EQ(pageShown(photo), page);
        if (page == 1) {
            expectPaper(photo);
            expectPaper(testAccess(c).mCaptureView()->lastShownImage());
        }
    }
}

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
}

} // namespace

// Every real camera's frame, replayed by the virtual camera, through the whole window: the view
// shows its picture, a freeze shows it at the photo size (640 x 480) as libjpeg decodes it, and
// a photo in every format is that picture: to the bit in PNG and TIFF, its palette's best in
// GIF, and in JPEG the camera's own data where the frame has the photo's size.
TEST_F(PhotoController, RealCamerasFramesPassThroughViewFreezeAndEveryPhoto)
{
    QUILLORA_REAL_DATA_OR_SKIP(folder, u"mjpeg-frames"_s);
    for (const test::RealFrame &f : test::kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = test::readRealFrame(folder, f);
        QTemporaryDir recording;
        ASSERT_TRUE(QFile::link(folder + u'/' + QLatin1String(f.file), recording.filePath(u"frame.jpg"_s)));
        VemoViewController &c = make("Real|Virtual Camera|virtual-0|" + recording.path().toUtf8());
        testAccess(c).mOverwrite()->selectCellAtRow(0);
        ASSERT_TRUE(waitUntil([&] { return !testAccess(c).mCaptureView()->lastShownImage().isNull(); }));
        const QImage shown = testAccess(c).mCaptureView()->lastShownImage();
        EXPECT_GT(
            test::psnr(shown,
                test::libjpegDecode(jpeg, false).scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
            30);

        c.previewClick(nullptr);
        const QImage still = testAccess(c).mPreviewImage()->image().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(still.size(), QSize(640, 480));
        const QImage picture = test::libjpegDecode(jpeg, true);
        if (f.size == QSize(640, 480)) {
            EXPECT_EQ(still, picture);
        } else {
            EXPECT_GT(test::psnr(still, picture.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 30);
        }
        c.previewClick(nullptr);

        for (int format = 0; format < 4; ++format) {
            testAccess(c).mPhotoFormat()->setCurrentIndex(format);
            c.photoClick(nullptr);
        }
        const QString jpegPhoto = out.filePath(u"Quillora.jpg"_s);
        if (f.size == QSize(640, 480)) {
            EXPECT_EQ(fileBytes(jpegPhoto), output::standaloneCameraJpeg(bytesOf(jpeg), 72));
        }
        EXPECT_GT(test::psnr(QImage(jpegPhoto), still), 30);
        EXPECT_EQ(QImage(out.filePath(u"Quillora.png"_s)).convertToFormat(QImage::Format_RGB32), still);
        EXPECT_EQ(QImage(out.filePath(u"Quillora.tiff"_s)).convertToFormat(QImage::Format_RGB32), still);
        EXPECT_GT(test::psnr(QImage(out.filePath(u"Quillora.gif"_s)), still), 25);
    }
}

// A recording in which every other frame is cut short: whenever a photo is taken, it is of a
// whole frame, never of one cut short (nor does one ever become the newest frame).
TEST_F(PhotoController, FramesCutShortAreNeverPhotographed)
{
    QUILLORA_REAL_DATA_OR_SKIP(folder, u"mjpeg-frames"_s);
    const QByteArray whole = test::readRealFrame(folder, test::kRealFrames[0]);
    QTemporaryDir recording;
    const QString stream = recording.filePath(u"camera.mjpeg"_s);
    {
        QFile file(stream);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(whole + whole.left(whole.size() * 3 / 5));
    }
    VemoViewController &c = make("Real|Virtual Camera|virtual-0|" + stream.toUtf8() + "@60");
    const QByteArray expected = output::standaloneCameraJpeg(bytesOf(whole), 72);
    for (int photo = 0; photo < 6; ++photo) {
        const capture::Frame before = c.currentFrame();
        ASSERT_TRUE(waitUntil([&] { return !c.currentFrame().sameAs(before); }));
        EXPECT_EQ(c.currentFrame().cameraJpeg(), whole);
        c.photoClick(nullptr);
    }
    ASSERT_EQ(files().size(), 6);
    for (const QString &name : files())
        EXPECT_EQ(fileBytes(out.filePath(name)), expected) << name.toStdString();
}
