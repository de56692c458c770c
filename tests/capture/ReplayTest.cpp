// SPDX-License-Identifier: GPL-3.0-or-later
// A real camera's stream sent again by the virtual camera: a folder of JPEG frames or a
// `v4l2-ctl --stream-to` file, named in QUILLORA_VIRTUAL_CAMERAS. The recording is cut into its
// frames as recorded, the camera offers the one mode it was recorded in and sends the frames in
// order, over and over; the session shows and keeps real cameras' frames as libjpeg decodes them
// and never a frame cut short.
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "DecompressedVideoOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "RealFrames.h"
#include "TestSupport.h"
#include "TurboJpegHandles.h"
#include "VirtualCamera.h"
#include "VirtualCamera_p.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <mutex>

using namespace quillora;
using namespace quillora::capture;
using test::kRealFrames;
using test::libjpegDecode;
using test::waitUntil;

namespace {

QByteArray pageJpeg(QSize size, int page)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(kVirtualPaper);
    paintVirtualPage(picture, quint64(page) * 7, page);
    TjHandlePtr compressor(tjInitCompress());
    unsigned char *raw = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(tjCompress2(compressor.get(), picture.constBits(), size.width(), int(picture.bytesPerLine()),
                  size.height(), TJPF_BGRX, &raw, &length, TJSAMP_422, 85, 0),
        0);
    TjBufferPtr bytes(raw);
    return QByteArray(reinterpret_cast<const char *>(bytes.get()), qsizetype(length));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray bytesOf(const JpegBytes &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame->data()), qsizetype(frame->size()));
}

// The camera of `QUILLORA_VIRTUAL_CAMERAS`' one entry with `modes` as its mode field.
std::vector<DeviceDescription> listed(const QString &modes)
{
    return parseVirtualCameras(QStringLiteral("Replay|Model|replay-1|") + modes);
}

// The frames kept for photos, by their bytes, and the pictures the view is handed; from the
// streaming threads.
struct Seen : DecompressedVideoOutputDelegate, DisplaySink {
    void captureOutputDidOutputVideoFrame(DecompressedVideoOutput *, const Frame &frame) override
    {
        std::lock_guard lock(mutex);
        kept.push_back(frame);
    }
    void presentFrame(const ViewPicture &picture) override
    {
        std::lock_guard lock(mutex);
        shown.push_back(picture.frame.image());
    }
    template <typename T> T read(T Seen::*member)
    {
        std::lock_guard lock(mutex);
        return this->*member;
    }
    std::mutex mutex; // guards the lists
    std::vector<Frame> kept;
    std::vector<QImage> shown;
};

// A session of the recording's camera, frames asked for at `size`, the view as large.
struct ReplaySession {
    std::shared_ptr<CaptureSession> session = std::make_shared<CaptureSession>();
    std::shared_ptr<DecompressedVideoOutput> output = std::make_shared<DecompressedVideoOutput>();
    Seen seen;

    ReplaySession(const DeviceDescription &camera, QSize size)
    {
        EXPECT_TRUE(
            session->addInput(std::make_shared<CaptureDeviceInput>(std::make_shared<CaptureDevice>(camera)), nullptr));
        output->setDelegate(&seen);
        EXPECT_TRUE(session->addOutput(output, nullptr));
        output->setPixelBufferAttributes(
            {{kPixelBufferWidthKey, size.width()}, {kPixelBufferHeightKey, size.height()}});
        session->setDisplaySize(size);
        session->setDisplaySink(&seen);
        session->startRunning();
    }
    ~ReplaySession()
    {
        session->setDisplaySink(nullptr);
        session.reset();
    }
};

} // namespace

// The mode field names a folder or a stream file, with a frame rate or without; the camera then
// offers one MJPEG mode at the first frame's size. A mode list stays a mode list, and a folder
// without frames names no camera.
TEST(Replay, AFolderOrAStreamFileIsACameraOfOneMjpegMode)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("frames"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/frame10.jpg"), pageJpeg({320, 240}, 1)));
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/frame9.jpg"), pageJpeg({640, 480}, 0)));
    const QString stream = dir.filePath(QStringLiteral("camera.mjpeg"));
    ASSERT_TRUE(writeFile(stream, pageJpeg({320, 240}, 0) + pageJpeg({320, 240}, 1)));
    const QString modeList = dir.filePath(QStringLiteral("modes.txt"));
    ASSERT_TRUE(writeFile(modeList,
        formatModeListing({CameraMode{QStringLiteral("YUYV"), QSize(640, 480), {}, {}, {{30, 1}}, {}, {}}}).toUtf8()));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("empty"))));

    const struct {
        QString field;
        QString mode; // as the session would describe the one mode; empty: no camera
        QString replay;
    } cases[] = {
        {folder, QStringLiteral("MJPEG 640x480 @ 30 fps"), folder}, // frame9 comes before frame10
        {folder + QStringLiteral("@15"), QStringLiteral("MJPEG 640x480 @ 15 fps"), folder},
        {stream, QStringLiteral("MJPEG 320x240 @ 30 fps"), stream},
        {stream + QStringLiteral("@5"), QStringLiteral("MJPEG 320x240 @ 5 fps"), stream},
        {modeList, QStringLiteral("YUY2 640x480 @ 30 fps"), QString()},
        {dir.filePath(QStringLiteral("empty")), QString(), QString()},
        {stream + QStringLiteral("@0"), QString(), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        const auto cameras = listed(c.field);
        ASSERT_EQ(cameras.size(), c.mode.isEmpty() ? 0u : 1u);
        if (c.mode.isEmpty())
            continue;
        const CameraMode &m = cameras.front().modes.at(0);
        EXPECT_EQ(cameras.front().modes.size(), 1u);
        EXPECT_EQ(describeMode({m.fourcc, m.size, m.rates.at(0)}), c.mode);
        EXPECT_EQ(cameras.front().replayPath, c.replay);
    }
}

// A recording is cut at each frame's start: what a camera's buffer held after a frame's end
// (a stale tail) and a frame cut short stay as they were recorded; bytes before the first
// frame go.
TEST(Replay, AStreamIsCutIntoItsFramesAsRecorded)
{
    const auto folder = test::realData(QStringLiteral("mjpeg-frames"));
    if (!folder)
        GTEST_SKIP() << "skipped: no real devices' data at " << test::realDataDir().toStdString() << "/mjpeg-frames";
    std::vector<QByteArray> frames;
    for (const test::RealFrame &f : kRealFrames)
        frames.push_back(test::readRealFrame(*folder, f));
    frames.insert(frames.begin() + 1, frames.front().left(frames.front().size() / 2)); // cut short
    QByteArray recording("\0\0junk", 6);
    for (const QByteArray &frame : frames)
        recording += frame;
    const auto split = splitJpegStream(
        std::span(reinterpret_cast<const std::uint8_t *>(recording.constData()), std::size_t(recording.size())));
    ASSERT_EQ(split.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(bytesOf(split[i]), frames[i]) << i;
}

// The frames come in their order at the recording's rate, and again from the first after the
// last.
TEST(Replay, TheFramesComeInOrderOverAndOver)
{
    QTemporaryDir dir;
    std::vector<QByteArray> frames;
    for (int page = 0; page < 3; ++page) {
        frames.push_back(pageJpeg({320, 240}, page));
        ASSERT_TRUE(writeFile(dir.filePath(QStringLiteral("f%1.jpg").arg(page)), frames.back()));
    }
    const auto cameras = listed(dir.path() + QStringLiteral("@60"));
    ASSERT_EQ(cameras.size(), 1u);
    ReplaySession s(cameras.front(), {320, 240});
    ASSERT_TRUE(waitUntil([&] { return s.seen.read(&Seen::kept).size() >= 8; }));
    EXPECT_EQ(describeMode(*s.session->cameraMode()), QStringLiteral("MJPEG 320x240 @ 60 fps"));
    const std::vector<Frame> kept = s.seen.read(&Seen::kept);
    // The kept-frame branch may pass over a frame when it falls behind, never reorder them.
    int previous = -1;
    int wrapped = 0;
    for (const Frame &frame : kept) {
        const auto at = std::find(frames.begin(), frames.end(), frame.cameraJpeg());
        ASSERT_NE(at, frames.end());
        const int index = int(at - frames.begin());
        wrapped += index <= previous;
        previous = index;
    }
    EXPECT_GE(wrapped, 1);
}

// Every real camera's frame, replayed: the view shows it as libjpeg decodes it fast, the frame
// kept for photos is libjpeg's accurate decode, and its bytes are the frame's up to its end
// (a stale tail left behind). A recording in which every other frame is cut short shows only
// whole frames, and counts the others as skipped.
TEST(Replay, RealCamerasFramesAreShownAndKeptAsLibjpegDecodesThem)
{
    const auto folder = test::realData(QStringLiteral("mjpeg-frames"));
    if (!folder)
        GTEST_SKIP() << "skipped: no real devices' data at " << test::realDataDir().toStdString() << "/mjpeg-frames";
    for (const test::RealFrame &f : kRealFrames) {
        SCOPED_TRACE(f.file);
        const QByteArray jpeg = test::readRealFrame(*folder, f);
        QTemporaryDir dir; // the frame where it lies, named as a recording's frame
        ASSERT_TRUE(
            QFile::link(*folder + QLatin1Char('/') + QLatin1String(f.file), dir.filePath(QStringLiteral("frame.jpg"))));
        const auto cameras = listed(dir.path());
        ASSERT_EQ(cameras.size(), 1u);
        ReplaySession s(cameras.front(), f.size);
        ASSERT_TRUE(waitUntil([&] { return !s.seen.read(&Seen::kept).empty() && !s.seen.read(&Seen::shown).empty(); }));
        EXPECT_EQ(s.seen.read(&Seen::shown).front(), libjpegDecode(jpeg, false));
        const Frame kept = s.seen.read(&Seen::kept).front();
        EXPECT_EQ(kept.image(), libjpegDecode(jpeg, true));
        EXPECT_EQ(kept.cameraJpeg(), jpeg.left(jpeg.size() - f.staleTail));
        EXPECT_EQ(s.session->skippedFrames(), 0u);
    }

    const QByteArray whole = test::readRealFrame(*folder, kRealFrames[0]);
    QTemporaryDir dir;
    const QString stream = dir.filePath(QStringLiteral("cut.mjpeg"));
    ASSERT_TRUE(writeFile(stream, whole + whole.left(whole.size() * 2 / 3)));
    const auto cameras = listed(stream + QStringLiteral("@60"));
    ASSERT_EQ(cameras.size(), 1u);
    ReplaySession s(cameras.front(), kRealFrames[0].size);
    ASSERT_TRUE(waitUntil([&] { return s.session->skippedFrames() >= 3 && s.seen.read(&Seen::shown).size() >= 3; }));
    const QImage picture = libjpegDecode(whole, false);
    for (const QImage &shown : s.seen.read(&Seen::shown))
        EXPECT_EQ(shown, picture);
    for (const Frame &kept : s.seen.read(&Seen::kept))
        EXPECT_EQ(kept.cameraJpeg(), whole);
}
