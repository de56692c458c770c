// SPDX-License-Identifier: GPL-3.0-or-later
// Photos written and decoded again, and the ways a write can fail without leaving anything behind.
#include "PhotoCapture.h"
#include "RealFrames.h"
#include "TestPage.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <span>
#include <sys/mount.h>

using namespace quillora::output;
using quillora::test::documentPage;
using quillora::test::libjpegDecode;
using quillora::test::libjpegEncode;
using quillora::test::psnr;

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class PhotoCaptureTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const QImage frame = documentPage({640, 480});
    PhotoSettings settings(int format, int size = 1, int row = 1) const
    {
        return {size, format, dir.path(), QStringLiteral("Quillora"), row};
    }
    QString path(const char *name) const { return dir.filePath(QString::fromUtf8(name)); }
};

// Every format at every rotation, plain and mirrored (each size index once per rotation and
// mirror, each format with every turn both ways): the name, the decoder found from the content,
// the turned size, the marker's corner and 72 dpi where recorded. A frame of another size is
// scaled; the bad settings a hand-edited file can give write nothing.
TEST_F(PhotoCaptureTest, EveryFormatSizeRotationAndMirrorDecodesTheTurnedPage)
{
    const char *names[] = {"Quillora.jpg", "Quillora.png", "Quillora.gif", "Quillora.tiff"};
    const QByteArray decoders[] = {"jpeg", "png", "gif", "tiff"};
    const QSize sizes[] = {{320, 240}, {640, 480}, {1280, 1024}, {1600, 1200}, {2048, 1536}};
    for (const bool mirrored : {false, true})
        for (int size = 0; size <= 4; ++size)
            for (int rotation = 0; rotation <= 3; ++rotation) {
                const int format = (size + rotation + (mirrored ? 2 : 0)) % 4;
                SCOPED_TRACE(testing::Message()
                    << names[format] << " size " << size << " rotation " << rotation << (mirrored ? " mirrored" : ""));
                const OutputResult r
                    = writePhoto(documentPage(sizes[size]), rotation, settings(format, size, 0), mirrored);
                ASSERT_EQ(r.path, path(names[format])) << r.error.toStdString();
                QImageReader reader(r.path);
                EXPECT_EQ(reader.format(), decoders[format]);
                const QImage decoded = reader.read().convertToFormat(QImage::Format_RGB32);
                ASSERT_EQ(decoded.size(), rotation % 2 ? sizes[size].transposed() : sizes[size]);
                EXPECT_EQ(quillora::test::mirroredPageShown(decoded, rotation, mirrored), 0);
                if (format == 1 || format == 3) { // lossless: the frame turned and mirrored, to the bit
                    EXPECT_EQ(decoded, orientedImage(documentPage(sizes[size]), rotation, mirrored));
                }
                if (format != 2) { // GIF records no resolution
                    EXPECT_NEAR(decoded.dotsPerMeterX(), kPhotoDotsPerMeter, 1);
                }
            }
    // A camera's JPEG frame at the photo's size (4:2:2, as cameras send it): the photo is the
    // camera's own data moved without loss, the turn and the mirror in one transform, never
    // decoded, and it shows the page as the live picture does.
    int decodes = 0;
    for (const int size : {0, 4})
        for (const bool mirrored : {false, true})
            for (int rotation = 0; rotation <= 3; ++rotation) {
                SCOPED_TRACE(testing::Message()
                    << "camera JPEG size " << size << " rotation " << rotation << (mirrored ? " mirrored" : ""));
                const QImage page = documentPage(sizes[size]);
                const QByteArray jpeg = libjpegEncode(page, 2);
                const PhotoFrame cameraFrame{[&decodes, page] {
                                                 ++decodes;
                                                 return page;
                                             },
                    jpeg};
                const OutputResult r = writePhoto(cameraFrame, rotation, settings(0, size, 0), mirrored);
                ASSERT_TRUE(r.ok()) << r.error.toStdString();
                const QImage decoded = QImage(r.path).convertToFormat(QImage::Format_RGB32);
                ASSERT_EQ(decoded.size(), rotation % 2 ? sizes[size].transposed() : sizes[size]);
                EXPECT_EQ(quillora::test::mirroredPageShown(decoded, rotation, mirrored), 0);
                EXPECT_GT(psnr(decoded, orientedImage(libjpegDecode(jpeg, true), rotation, mirrored)), 45);
            }
    EXPECT_EQ(decodes, 0) << "a camera's frame was decoded for a photo of its own size";
    const QImage scaled(writePhoto(documentPage({320, 240}), 1, settings(1)).path);
    ASSERT_EQ(scaled.size(), QSize(480, 640));
    EXPECT_EQ(quillora::test::pageShown(scaled, 1), 0);

    PhotoSettings missing = settings(0), empty = settings(0), slash = settings(0);
    missing.folderText = path("missing");
    empty.folderText.clear();
    slash.baseName = QStringLiteral("no/such/folder"); // never a path out of the chosen folder
    // Each refusal says why in a kind the window can put in words.
    const std::pair<PhotoSettings, WriteFault> refused[] = {{settings(-1), WriteFault::BadSettings},
        {settings(4), WriteFault::BadSettings}, {settings(9), WriteFault::BadSettings},
        {missing, WriteFault::FolderMissing}, {empty, WriteFault::NoFolder}, {slash, WriteFault::FolderMissing}};
    for (const auto &[bad, fault] : refused) {
        const OutputResult r = writePhoto(frame, 0, bad);
        EXPECT_FALSE(r.ok()) << bad.formatIndex;
        EXPECT_EQ(r.fault, fault) << bad.formatIndex << " " << r.error.toStdString();
    }
    EXPECT_EQ(writePhoto(QImage(), 0, settings(0)).fault, WriteFault::NoPicture);
    EXPECT_EQ(entries(dir.path()).size(), 5); // the four names and Quillora1.png
}

// A PNG photo is a plain 8-bit RGB PNG of the frame's pixels, as large as libpng's defaults
// make it (within 5%), for a camera's noisy page as for a clean one.
TEST_F(PhotoCaptureTest, PngPhotosArePlainRgbPngsOfTheFrame)
{
    QImage noisy = documentPage({2048, 1536});
    quint32 seed = 7;
    for (int y = 0; y < noisy.height(); ++y)
        for (QRgb &pixel : std::span(reinterpret_cast<QRgb *>(noisy.scanLine(y)), size_t(noisy.width())))
            pixel ^= ((seed = seed * 1664525u + 1013904223u) >> 24) & 0x030303;
    for (const QImage &picture : {noisy, documentPage({640, 480})}) {
        const OutputResult r = writePhoto(picture, 0, settings(1, picture.width() == 640 ? 1 : 4, 0));
        const QByteArray png = contents(r.path);
        // IHDR: the size, 8 bits, colour type 2 (RGB), not interlaced; then pHYs at 72 dpi.
        QByteArray header("\x00\x00\x00\x0dIHDR", 8);
        for (int v : {picture.width(), picture.height()})
            header += QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
        EXPECT_EQ(png.mid(8, 21), header + QByteArray("\x08\x02\x00\x00\x00", 5));
        EXPECT_EQ(png.mid(33, 17), QByteArray("\x00\x00\x00\x09pHYs\x00\x00\x0b\x13\x00\x00\x0b\x13\x01", 17));
        EXPECT_EQ(QImage(r.path).convertToFormat(QImage::Format_RGB32), picture);
        QBuffer libpng;
        libpng.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&libpng, "png").write(picture));
        EXPECT_LE(double(png.size()), 1.05 * double(libpng.data().size())) << picture.width();
    }
}

// Another program takes the free name just before our file is placed, once.
QString gTaken;
void takeName(const QString &path)
{
    QFile other(path);
    if (gTaken.isEmpty() && other.open(QIODevice::NewOnly) && other.write("theirs") == 6)
        gTaken = path;
}

// Numbered: their file stays and ours takes the next number; replacing: ours replaces. A failed
// encode leaves the old file as it was. Never a temporary left over.
TEST_F(PhotoCaptureTest, TheSafeWriteNeverOverwritesATakenNameOrAGoodFile)
{
    const auto write = [&](void (*hook)(const QString &), int row, const QByteArray &data) {
        gTaken.clear();
        setBeforePlacingHookForTesting(hook);
        const OutputResult r = writeOutputFile({dir.path(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), row},
            [&](QIODevice &device, QString *error) {
                if (device.write(data) == 4)
                    return true;
                *error = QStringLiteral("encoder gave up");
                return false;
            });
        setBeforePlacingHookForTesting(nullptr);
        return r;
    };
    EXPECT_EQ(write(&takeName, 1, "ours").path, path("Quillora1.jpg"));
    EXPECT_EQ(gTaken, path("Quillora.jpg"));
    EXPECT_EQ(contents(path("Quillora.jpg")), "theirs");
    EXPECT_EQ(contents(path("Quillora1.jpg")), "ours");
    ASSERT_TRUE(QFile::remove(path("Quillora.jpg")));
    EXPECT_EQ(write(&takeName, 0, "ours").path, path("Quillora.jpg"));
    EXPECT_EQ(contents(path("Quillora.jpg")), "ours");
    const OutputResult failed = write(nullptr, 0, "half a photo");
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error, QStringLiteral("encoder gave up"));
    EXPECT_EQ(contents(path("Quillora.jpg")), "ours");
    EXPECT_EQ(entries(dir.path()).size(), 2);
}

// A full disk (a tiny tmpfs), every format and both rules: no partial file, the old file
// kept, a small photo still fits; then the same folder read-only takes nothing. Root passes
// every permission check, so read-only stands in for a folder without the write bit.
TEST_F(PhotoCaptureTest, AFullOrReadOnlyFolderLeavesNoPartialFileAndKeepsTheOldOne)
{
    const QByteArray folder = QFile::encodeName(dir.path());
    if (::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const std::unique_ptr<const char, void (*)(const char *)> unmount(
        folder.constData(), [](const char *f) { ::umount2(f, MNT_DETACH); });
    QFile old(path("Quillora.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old photo") == 9);
    old.close();
    QImage noisy = documentPage({2048, 1536}); // megabytes in every format
    quint32 seed = 1;
    for (int y = 0; y < noisy.height(); ++y)
        for (QRgb &pixel : std::span(reinterpret_cast<QRgb *>(noisy.scanLine(y)), size_t(noisy.width())))
            pixel ^= ((seed = seed * 1664525u + 1013904223u) >> 24) & 0x1f1f1f;
    for (int format : {0, 1, 2, 3})
        for (int row : {0, 1}) {
            const OutputResult r = writePhoto(noisy, 0, settings(format, 4, row));
            EXPECT_FALSE(r.ok()) << format << " " << row;
            EXPECT_EQ(r.fault, WriteFault::DiskFull) << format << " " << row << " " << r.error.toStdString();
        }
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.png")});
    EXPECT_EQ(contents(old.fileName()), "old photo");
    const OutputResult small = writePhoto(documentPage({320, 240}), 0, settings(0, 0));
    EXPECT_FALSE(QImage(small.path).isNull());
    ASSERT_TRUE(QFile::remove(small.path));

    ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(writePhoto(frame, 0, settings(0, 1, 0)).fault, WriteFault::NotWritable);
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.png")});
}

} // namespace
