// SPDX-License-Identifier: GPL-3.0-or-later
// Freeze, rotation, photos and the camera button through the controller of a real window
// definition. Frames come from a virtual camera or are handed in directly. Numbering, opening
// and turning window photos are driven through the running program in photo_e2e.sh.
#include "AppTest.h"
#include "CameraJpeg.h"
#include "CameraMode.h"
#include "Frame.h"
#include "ImageView.h"
#include "MatrixControl.h"
#include "RealFrames.h"
#include "TestPage.h"
#include "WindowMessages.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

using namespace quillora;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using test::waitUntil;

namespace {

// Photos are numbered 640 x 480 JPEGs on the Desktop, as a first start has them.
class Photos : public test::AppTest {
protected:
    void TearDown() override
    {
        AppTest::TearDown();
        capture::setVirtualCameraPage(0);
    }
    QStringList files() const { return QDir(home.desktopFile({})).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

// Each press turns the shown picture a quarter clockwise, four come back; a freeze shows the
// frame unturned until resumed. The photo format and the replace rule follow their controls, and
// a bad format writes and opens nothing.
TEST_F(Photos, RotationTurnsThePreviewAndPhotosFollowTheControls)
{
    start("Page|Virtual Camera|virtual-0");
    ASSERT_TRUE(hasFrame());
    const QImage page = test::documentPage({64, 48});
    for (int press = 1; press <= 4; ++press) {
        c->rotateClick(nullptr);
        const QImage shown = c->viewWillDisplayImage(testAccess(*c).mCaptureView(), page);
        EXPECT_EQ(shown.size(), press % 2 ? QSize(48, 64) : QSize(64, 48));
        EXPECT_EQ(test::pageShown(shown, press % 4), 0) << "press " << press;
    }
    c->rotateClick(nullptr);
    c->previewClick(nullptr); // frozen: the frame unturned, and turns ignored
    EXPECT_FALSE(testAccess(*c).mCaptureSession()->isRunning());
    const QImage still = testAccess(*c).mPreviewImage()->image();
    EXPECT_EQ(still, c->currentFrame().image());
    c->rotateClick(nullptr);
    EXPECT_EQ(testAccess(*c).mPreviewImage()->image(), still);
    c->previewClick(nullptr);
    EXPECT_TRUE(testAccess(*c).mCaptureSession()->isRunning());
    EXPECT_TRUE(testAccess(*c).mPreviewImage()->image().isNull()) << "the hidden still lets its frame go";

    testAccess(*c).mOverwrite()->selectCellAtRow(0);
    testAccess(*c).mPhotoFormat()->setCurrentIndex(3);
    c->photoClick(nullptr);
    c->photoClick(nullptr);
    testAccess(*c).mPhotoFormat()->setCurrentIndex(-1);
    c->photoClick(nullptr);
    EXPECT_EQ(files(), QStringList{u"Quillora.tiff"_s});
    EXPECT_EQ(QImageReader(home.desktopFile(u"Quillora.tiff"_s)).size(), QSize(640, 480));
    EXPECT_EQ(desktop.opened().size(), 2);
}

// With no frame nothing is written. The camera button is held off for two seconds of the
// program's clock after a button photo: a press on the listener's thread (its own event loop)
// within them takes none, one at their end does; a window photo within them is taken.
TEST_F(Photos, AButtonPressWithinTwoSecondsOfAButtonPhotoIsIgnoredButAWindowPhotoIsNot)
{
    clock.emplace();
    start("");
    c->photoClick(nullptr);
    EXPECT_TRUE(files().isEmpty());
    c->captureOutputDidOutputVideoFrame(nullptr, capture::Frame::fromImage(test::documentPage({640, 480})));
    QThread listener;
    Mailbox onListenerThread;
    listener.start();
    onListenerThread.moveToThread(&listener);
    // Runs `call` on the listener thread, after everything posted there before; true once it ran.
    const auto onListener = [&](std::function<void()> call) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        onListenerThread.post([call, done] { call(), done->store(true); });
        return waitUntil([&] { return done->load(); });
    };
    const auto press = [&] { return onListener([this] { c->snapshotByKey(); }); };
    // The hold ends on the listener thread, whose timer it is.
    const auto advance = [&](std::chrono::milliseconds time) { return onListener([&] { clock->advance(time); }); };
    ASSERT_TRUE(press());
    EXPECT_EQ(files(), QStringList{u"Quillora.jpg"_s});
    ASSERT_TRUE(advance(1999ms));
    ASSERT_TRUE(press());
    EXPECT_EQ(files().size(), 1) << "a press within the hold took a photo";
    c->photoClick(nullptr);
    EXPECT_EQ(files().size(), 2) << "the window's photo was held off";
    ASSERT_TRUE(advance(1ms));
    ASSERT_TRUE(press());
    EXPECT_EQ(files().size(), 3) << "the press after the hold took no photo";
    listener.quit();
    listener.wait();
    test::flushEvents(); // a button photo is handed to the desktop by the main thread
    const QStringList paths = desktop.opened();
    EXPECT_EQ(QSet<QString>(paths.begin(), paths.end()).size(), 3);
    for (const QString &p : paths)
        EXPECT_EQ(QImageReader(p).size(), QSize(640, 480)) << p.toStdString();
}

// A newest frame that will not decode (damaged on its way from the camera): a photo and a freeze
// take the frame before it, which the user saw a thirtieth of a second earlier. With no good frame
// to fall back on nothing is written or frozen, and the window says why in plain words.
TEST_F(Photos, ADamagedNewestFrameFallsBackToTheOneBeforeOrSaysSo)
{
    clock.emplace(); // the status line stays while the clock stands
    start("Page|Virtual Camera|virtual-0|640x480");
    // From here the test hands the frames in; one the camera's thread was delivering is in place
    // by the time the view has shown two more.
    testAccess(*c).mCaptureDecompressedVideoOutput()->setDelegate(nullptr);
    ASSERT_TRUE(pictureMoves(2));
    const QByteArray good = test::documentPageJpeg({640, 480});
    const QByteArray damaged = good.left(600) + QByteArray(good.size() - 600, '\x5a'); // headers whole, no end
    const auto frame = [](const QByteArray &jpeg) {
        return capture::Frame::adoptJpeg(test::jpegSample(jpeg, {640, 480}), {640, 480}, {640, 480});
    };
    const auto status = [&] { return testAccess(*c).mMessages()->statusMessage().toStdString(); };
    c->captureOutputDidOutputVideoFrame(nullptr, frame(good));
    c->captureOutputDidOutputVideoFrame(nullptr, frame(damaged));
    c->photoClick(nullptr);
    EXPECT_EQ(status(), "Photo saved: Quillora.jpg");
    ASSERT_EQ(files(), QStringList{u"Quillora.jpg"_s});
    EXPECT_EQ(test::pageShown(QImage(home.desktopFile(u"Quillora.jpg"_s))), 0);
    c->previewClick(nullptr);
    EXPECT_FALSE(testAccess(*c).mCaptureSession()->isRunning());
    EXPECT_EQ(testAccess(*c).mPreviewImage()->image().size(), QSize(640, 480));
    EXPECT_EQ(test::pageShown(testAccess(*c).mPreviewImage()->image()), 0);
    c->previewClick(nullptr);

    c->captureOutputDidOutputVideoFrame(nullptr, frame(damaged));
    c->photoClick(nullptr);
    EXPECT_EQ(status(), "Photo not saved: the camera's picture arrived damaged");
    c->previewClick(nullptr);
    EXPECT_EQ(status(), "Picture not frozen: the camera's picture arrived damaged");
    EXPECT_TRUE(testAccess(*c).mCaptureSession()->isRunning());
    EXPECT_FALSE(testAccess(*c).mFreezeButton()->isChecked());
    EXPECT_EQ(files(), QStringList{u"Quillora.jpg"_s});
    EXPECT_EQ(desktop.opened().size(), 1);
}

// At 2048 x 1536 the camera sends JPEG frames; the view decodes them at a reduced scale, the
// photo from the newest frame in full. A page turned under the camera: as soon as the view
// shows it, a photo shows it too, never the page before, with the marker where it belongs and
// the paper its colour.
TEST_F(Photos, APhotoRightAfterThePageTurnsShowsTheNewPage)
{
    start("Page|Virtual Camera|virtual-0");
    ASSERT_TRUE(hasFrame());
    testAccess(*c).mPhotoSize()->setCurrentIndex(4);
    testAccess(*c).mOverwrite()->selectCellAtRow(0);
    c->preferencesChange(testAccess(*c).mPhotoSize());
    ASSERT_TRUE(testAccess(*c).mCaptureSession()->cameraMode());
    EXPECT_EQ(capture::describeMode(*testAccess(*c).mCaptureSession()->cameraMode()), u"MJPEG 2048x1536 @ 30 fps"_s);
    const auto shownPage = [&] { return test::pageShown(testAccess(*c).mCaptureView()->lastShownImage()); };
    ASSERT_TRUE(waitUntil([&] { return shownPage() == 0; }));
    for (int page : {1, 0, 1}) {
        SCOPED_TRACE(page);
        capture::setVirtualCameraPage(page);
        ASSERT_TRUE(waitUntil([&] { return shownPage() == page; }));
        c->photoClick(nullptr);
        const QImage photo = QImage(home.desktopFile(u"Quillora.jpg"_s)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(photo.size(), QSize(2048, 1536));
        EXPECT_EQ(test::pageShown(photo), page);
        test::expectPaperColour(photo, 4);
        test::expectPaperColour(testAccess(*c).mCaptureView()->lastShownImage(), 4);
    }
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
}

// Every real camera's frame, replayed by the virtual camera, through the whole window: the view
// shows its picture, a freeze shows it at the photo size (640 x 480) as libjpeg decodes it, and
// a photo in every format is that picture: to the bit in PNG and TIFF, its palette's best in
// GIF, and in JPEG the camera's own data where the frame has the photo's size.
TEST_F(Photos, RealCamerasFramesPassThroughViewFreezeAndEveryPhoto)
{
    QUILLORA_REAL_DATA_OR_SKIP(folder, u"mjpeg-frames"_s);
    for (const test::RealFrame &f : test::kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = test::readRealFrame(folder, f);
        QTemporaryDir recording;
        ASSERT_TRUE(QFile::link(folder + u'/' + QLatin1String(f.file), recording.filePath(u"frame.jpg"_s)));
        start("Real|Virtual Camera|virtual-0|" + recording.path().toUtf8());
        ASSERT_TRUE(hasFrame());
        testAccess(*c).mOverwrite()->selectCellAtRow(0);
        ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).mCaptureView()->lastShownImage().isNull(); }));
        const QImage shown = testAccess(*c).mCaptureView()->lastShownImage();
        EXPECT_GT(
            test::psnr(shown,
                test::libjpegDecode(jpeg, false).scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
            30);

        c->previewClick(nullptr);
        const QImage still = testAccess(*c).mPreviewImage()->image().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(still.size(), QSize(640, 480));
        const QImage picture = test::libjpegDecode(jpeg, true);
        if (f.size == QSize(640, 480)) {
            EXPECT_EQ(still, picture);
        } else {
            EXPECT_GT(test::psnr(still, picture.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 30);
        }
        c->previewClick(nullptr);

        for (int format = 0; format < 4; ++format) {
            testAccess(*c).mPhotoFormat()->setCurrentIndex(format);
            c->photoClick(nullptr);
        }
        const QString jpegPhoto = home.desktopFile(u"Quillora.jpg"_s);
        if (f.size == QSize(640, 480)) {
            EXPECT_EQ(fileBytes(jpegPhoto), output::standaloneCameraJpeg(bytesOf(jpeg), 72));
        }
        EXPECT_GT(test::psnr(QImage(jpegPhoto), still), 30);
        EXPECT_EQ(QImage(home.desktopFile(u"Quillora.png"_s)).convertToFormat(QImage::Format_RGB32), still);
        EXPECT_EQ(QImage(home.desktopFile(u"Quillora.tiff"_s)).convertToFormat(QImage::Format_RGB32), still);
        EXPECT_GT(test::psnr(QImage(home.desktopFile(u"Quillora.gif"_s)), still), 25);
    }
}

// A recording in which every other frame is cut short: whenever a photo is taken, it is of a
// whole frame, never of one cut short (nor does one ever become the newest frame).
TEST_F(Photos, FramesCutShortAreNeverPhotographed)
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
    start("Real|Virtual Camera|virtual-0|" + stream.toUtf8() + "@60");
    ASSERT_TRUE(hasFrame());
    const QByteArray expected = output::standaloneCameraJpeg(bytesOf(whole), 72);
    for (int photo = 0; photo < 6; ++photo) {
        const capture::Frame before = c->currentFrame();
        ASSERT_TRUE(waitUntil([&] { return !c->currentFrame().sameAs(before); }));
        EXPECT_EQ(c->currentFrame().cameraJpeg(), whole);
        c->photoClick(nullptr);
    }
    ASSERT_EQ(files().size(), 6);
    for (const QString &name : files())
        EXPECT_EQ(fileBytes(home.desktopFile(name)), expected) << name.toStdString();
}

} // namespace
