// Photos written and decoded again, and the ways a write can fail without leaving anything behind.
#include "PhotoCapture.h"
#include "PhotoTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <span>
#include <sys/mount.h>
#include <unistd.h>

using namespace quillora::output;
using quillora::test::documentPage;
using quillora::test::expectCorners;

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

// Each format: its name and magic, found by its decoder from the content, the frame's size,
// 72 dpi where the format records it, the pixels close (a colour ramp needs GIF's quantiser);
// no temporary file left.
TEST_F(PhotoCaptureTest, EveryFormatWritesAFileItsDecoderReadsBack)
{
    QImage ramped = frame;
    for (int y = 400; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            ramped.setPixel(x, y, qRgb(x * 255 / 639, (y - 400) * 3, 128));
    const struct {
        int index;
        const char *name;
        QByteArray magic, decoder;
    } cases[] = {
        {0, "Quillora.jpg", QByteArrayLiteral("\xff\xd8\xff"), "jpeg"},
        {1, "Quillora.png", QByteArrayLiteral("\x89PNG\r\n\x1a\n"), "png"},
        {2, "Quillora.gif", QByteArrayLiteral("GIF8"), "gif"},
        {3, "Quillora.tiff", QByteArrayLiteral("II*\0"), "tiff"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        const OutputResult r = writePhoto(ramped, 0, settings(k.index));
        ASSERT_EQ(r.path, path(k.name)) << r.error.toStdString();
        EXPECT_TRUE(contents(r.path).startsWith(k.magic));
        QImageReader reader(r.path);
        EXPECT_EQ(reader.format(), k.decoder);
        const QImage decoded = reader.read().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(decoded.size(), QSize(640, 480)) << reader.errorString().toStdString();
        if (k.decoder != "gif") {
            EXPECT_NEAR(decoded.dotsPerMeterX(), kPhotoDotsPerMeter, 1);
            EXPECT_NEAR(decoded.dotsPerMeterY(), kPhotoDotsPerMeter, 1);
        }
        double squared = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const QRgb a = ramped.pixel(x, y), b = decoded.pixel(x, y);
                for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
                    squared += d * d;
            }
        EXPECT_GT(10 * std::log10(255.0 * 255.0 * 640 * 480 * 3 / std::max(squared, 1.0)), 30.0);
    }
    EXPECT_EQ(entries(dir.path()).size(), 4);
}

// Every size index x rotation: the turned size, the marker's corner, and (PNG is lossless)
// the turned frame pixel for pixel. Other size indexes give the largest, other rotations do
// not turn, and a frame of another size is scaled to the chosen one.
TEST_F(PhotoCaptureTest, SizeAndOrientationForEverySizeAndRotation)
{
    const QSize sizes[] = {{320, 240}, {640, 480}, {1280, 1024}, {1600, 1200}, {2048, 1536}};
    for (int size = 0; size <= 4; ++size) {
        const QImage page = documentPage(sizes[size]);
        for (int rotation = 0; rotation <= 3; ++rotation) {
            SCOPED_TRACE(testing::Message() << "size " << size << " rotation " << rotation);
            const QImage decoded
                = QImage(writePhoto(page, rotation, settings(1, size, 0)).path).convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(decoded.size(), rotation % 2 ? sizes[size].transposed() : sizes[size]);
            expectCorners(decoded, sizes[size], rotation);
            EXPECT_EQ(decoded, turnedImage(page, rotation));
        }
    }
    EXPECT_EQ(photoSizeForIndex(-1, 0), QSize(2048, 1536));
    EXPECT_EQ(photoSizeForIndex(9, 1), QSize(1536, 2048));
    EXPECT_EQ(turnedImage(frame, 4), frame);
    EXPECT_EQ(turnedImage(frame, -1), frame);
    const QImage scaled(writePhoto(documentPage({320, 240}), 1, settings(1)).path);
    ASSERT_EQ(scaled.size(), QSize(480, 640));
    expectCorners(scaled, {640, 480}, 1);
}

// Bad formats, no frame, a missing or empty folder, a name leading nowhere, a folder in the
// way of the replace rule: nothing written or left over; the next photo works.
TEST_F(PhotoCaptureTest, BadInputWritesNothingAndTheNextPhotoWorks)
{
    PhotoSettings missing = settings(0), empty = settings(0), slash = settings(0);
    missing.folderText = path("missing");
    empty.folderText.clear();
    slash.baseName = QStringLiteral("no/such/folder");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Quillora.jpg")));
    for (const PhotoSettings &bad : {settings(-1), settings(4), settings(9), missing, empty, slash, settings(0, 1, 0)})
        EXPECT_FALSE(writePhoto(frame, 0, bad).ok()) << bad.formatIndex << bad.folderText.toStdString();
    EXPECT_FALSE(writePhoto(QImage(), 0, settings(0)).ok());
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.jpg")});
    EXPECT_TRUE(QFileInfo(path("Quillora.jpg")).isDir());
    EXPECT_EQ(writePhoto(frame, 0, settings(0)).path, path("Quillora1.jpg"));
}

// Another program takes the free name just before our file is placed, once: with a file of
// its own or a dangling link.
QString gTaken;
bool gLink = false;
void takeName(const QString &path)
{
    QFile other(path);
    if (gTaken.isEmpty()
        && (gLink ? ::symlink("/nowhere", QFile::encodeName(path).constData()) == 0
                  : other.open(QIODevice::NewOnly) && other.write("theirs") == 6))
        gTaken = path;
}

// Numbered: their file (or dangling link) stays and ours takes the next number; replacing:
// ours replaces. A failed encode leaves the old file as it was. Never a temporary left over.
TEST_F(PhotoCaptureTest, TheSafeWriteNeverOverwritesATakenNameOrAGoodFile)
{
    const auto write = [&](void (*hook)(const QString &), int row, const QByteArray &data, bool link = false) {
        gTaken.clear();
        gLink = link;
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
    EXPECT_EQ(write(&takeName, 1, "ours", true).path, path("Quillora3.jpg"));
    EXPECT_TRUE(QFileInfo(path("Quillora2.jpg")).isSymLink());
    ASSERT_TRUE(QFile::remove(path("Quillora.jpg")));
    EXPECT_EQ(write(&takeName, 0, "ours").path, path("Quillora.jpg"));
    EXPECT_EQ(contents(path("Quillora.jpg")), "ours");
    const OutputResult failed = write(nullptr, 0, "half a photo");
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error, QStringLiteral("encoder gave up"));
    EXPECT_EQ(contents(path("Quillora.jpg")), "ours");
    EXPECT_EQ(entries(dir.path()).size(), 4);
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
        for (int row : {0, 1})
            EXPECT_FALSE(writePhoto(noisy, 0, settings(format, 4, row)).ok()) << format << " " << row;
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.png")});
    EXPECT_EQ(contents(old.fileName()), "old photo");
    const OutputResult small = writePhoto(documentPage({320, 240}), 0, settings(0, 0));
    EXPECT_FALSE(QImage(small.path).isNull());
    ASSERT_TRUE(QFile::remove(small.path));

    ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_FALSE(writePhoto(frame, 0, settings(0, 1, 0)).ok());
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.png")});
}

} // namespace
