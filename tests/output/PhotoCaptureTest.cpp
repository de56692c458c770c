// Photos written and decoded again: formats, sizes, orientation, resolution; and the ways a
// write can fail without leaving anything behind.
#include "PhotoCapture.h"
#include "OutputFile.h"
#include "PhotoTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <gif_lib.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

using namespace quillora::output;
using quillora::test::CornerProbe;
using quillora::test::cornerProbe;
using quillora::test::fileHead;
using quillora::test::makeDocumentPage;

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

PhotoSettings settingsFor(const QString &folder, int format, int size = 1, int row = 1)
{
    return PhotoSettings{size, format, folder, QStringLiteral("Quillora"), row};
}

int gray(const QImage &image, QPoint p)
{
    return qGray(image.pixel(p));
}

class PhotoCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QTemporaryDir dir;
};

TEST_F(PhotoCaptureTest, EveryFormatWritesAFileItsDecoderReadsBack)
{
    const QImage frame = makeDocumentPage({640, 480});
    struct Case {
        int index;
        const char *extension;
        QByteArray magic;
        const char *decoder;
        bool recordsResolution;
    };
    const Case cases[] = {
        {0, ".jpg", QByteArray("\xff\xd8\xff", 3), "jpeg", true},
        {1, ".png", QByteArray("\x89PNG\r\n\x1a\n", 8), "png", true},
        {2, ".gif", QByteArray("GIF8"), "gif", false},
        {3, ".tiff", QByteArray(), "tiff", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extension);
        const OutputResult result = writePhoto(frame, 0, settingsFor(dir.path(), c.index));
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        EXPECT_EQ(result.path, dir.path() + QStringLiteral("/Quillora") + QLatin1String(c.extension));
        const QByteArray head = fileHead(result.path, 8);
        if (c.index == 3)
            EXPECT_TRUE(head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)));
        else
            EXPECT_TRUE(head.startsWith(c.magic));
        QImageReader reader(result.path);
        EXPECT_EQ(reader.format(), QByteArray(c.decoder)); // found by content, not by name
        const QImage decoded = reader.read();
        ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(decoded.size(), QSize(640, 480));
        if (c.recordsResolution) {
            EXPECT_NEAR(decoded.dotsPerMeterX(), kPhotoDotsPerMeter, 1);
            EXPECT_NEAR(decoded.dotsPerMeterY(), kPhotoDotsPerMeter, 1);
        }
        // Close to the frame everywhere: the marker, the paper and the lines all survive.
        const CornerProbe probe = cornerProbe({640, 480}, 0);
        EXPECT_LT(gray(decoded, probe.marker), 40);
        EXPECT_GT(gray(decoded, probe.paper), 200);
    }
    EXPECT_EQ(entries(dir.path()).size(), 4); // and nothing else: no temporary files
}

TEST_F(PhotoCaptureTest, GifIsAPalettedImageFromTheQuantiser)
{
    QImage frame = makeDocumentPage({320, 240});
    // Colours beyond a fixed palette's reach, so a quantiser has work to do.
    for (int x = 0; x < 320; ++x)
        for (int y = 200; y < 240; ++y)
            frame.setPixel(x, y, qRgb(x * 255 / 319, (y - 200) * 6, 128));
    const OutputResult result = writePhoto(frame, 0, settingsFor(dir.path(), 2, 0));
    ASSERT_TRUE(result.ok());
    int error = 0;
    GifFileType *gif = DGifOpenFileName(QFile::encodeName(result.path).constData(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->SWidth, 320);
    EXPECT_EQ(gif->SHeight, 240);
    EXPECT_EQ(gif->ImageCount, 1);
    ASSERT_NE(gif->SColorMap, nullptr);
    EXPECT_LE(gif->SColorMap->ColorCount, 256);
    DGifCloseFile(gif, &error);
    const QImage decoded(result.path);
    double squared = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const QRgb a = frame.pixel(x, y);
            const QRgb b = decoded.pixel(x, y);
            squared += std::pow(qRed(a) - qRed(b), 2) + std::pow(qGreen(a) - qGreen(b), 2)
                + std::pow(qBlue(a) - qBlue(b), 2);
        }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (320 * 240 * 3)));
    EXPECT_GT(psnr, 30.0);
}

TEST_F(PhotoCaptureTest, SizeAndOrientationForEverySizeAndRotation)
{
    for (int size = 0; size <= 4; ++size) {
        const QSize unturned = photoSizeForIndex(size, 0);
        const QImage frame = makeDocumentPage(unturned);
        for (int rotation = 0; rotation <= 3; ++rotation) {
            SCOPED_TRACE(testing::Message() << "size " << size << " rotation " << rotation);
            const OutputResult result = writePhoto(frame, rotation, settingsFor(dir.path(), 1, size));
            ASSERT_TRUE(result.ok());
            const QImage decoded(result.path);
            const QSize expected = (rotation % 2) ? unturned.transposed() : unturned;
            EXPECT_EQ(decoded.size(), expected);
            EXPECT_EQ(decoded.size(), photoSizeForIndex(size, rotation));
            const CornerProbe probe = cornerProbe(unturned, rotation);
            EXPECT_LT(gray(decoded, probe.marker), 40);
            EXPECT_GT(gray(decoded, probe.paper), 200);
            // A turn moves pixels exactly (PNG keeps them): the turned frame, pixel for pixel.
            EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), turnedImage(frame, rotation));
            ASSERT_TRUE(QFile::remove(result.path));
        }
    }
    // Any other size index is the largest; the counter's values beyond 3 do not turn.
    EXPECT_EQ(photoSizeForIndex(-1, 0), QSize(2048, 1536));
    EXPECT_EQ(photoSizeForIndex(9, 1), QSize(1536, 2048));
    const QImage frame = makeDocumentPage({64, 48});
    EXPECT_EQ(turnedImage(frame, 4), frame);
    EXPECT_EQ(turnedImage(frame, -1), frame);
}

TEST_F(PhotoCaptureTest, AFrameOfAnotherSizeIsScaledToTheChosenSize)
{
    // A frame decoded before a size change reached the camera.
    const QImage frame = makeDocumentPage({320, 240});
    const OutputResult result = writePhoto(frame, 1, settingsFor(dir.path(), 1, 1));
    ASSERT_TRUE(result.ok());
    const QImage decoded(result.path);
    EXPECT_EQ(decoded.size(), QSize(480, 640));
    const CornerProbe probe = cornerProbe({640, 480}, 1);
    EXPECT_LT(gray(decoded, probe.marker), 60);
}

TEST_F(PhotoCaptureTest, FormatOutsideTheTableWritesNothing)
{
    EXPECT_FALSE(photoFormatForIndex(-1));
    EXPECT_EQ(photoExtension(photoFormatForIndex(-1)), QStringLiteral(".jpg"));
    const QImage frame = makeDocumentPage({320, 240});
    for (int index : {-1, 4, 9}) {
        EXPECT_FALSE(writePhoto(frame, 0, settingsFor(dir.path(), index)).ok());
    }
    EXPECT_FALSE(writePhoto(QImage(), 0, settingsFor(dir.path(), 0)).ok());
    EXPECT_TRUE(entries(dir.path()).isEmpty());
}

TEST_F(PhotoCaptureTest, BadFoldersAndNamesFailCleanlyAndTheNextPhotoWorks)
{
    const QImage frame = makeDocumentPage({320, 240});
    EXPECT_FALSE(writePhoto(frame, 0, settingsFor(dir.filePath(QStringLiteral("missing")), 0)).ok());
    EXPECT_FALSE(writePhoto(frame, 0, settingsFor(QString(), 0)).ok());
    PhotoSettings slash = settingsFor(dir.path(), 0);
    slash.baseName = QStringLiteral("no/such/folder");
    EXPECT_FALSE(writePhoto(frame, 0, slash).ok());
    // A folder where the file should go, under the replace rule: the folder stays.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Quillora.jpg")));
    EXPECT_FALSE(writePhoto(frame, 0, settingsFor(dir.path(), 0, 1, 0)).ok());
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("Quillora.jpg"))).isDir());
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.jpg")}); // no temporary left

    // "/" in the base name leads into a folder when there is one.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    slash.baseName = QStringLiteral("sub/page");
    EXPECT_EQ(writePhoto(frame, 0, slash).path, dir.path() + QStringLiteral("/sub/page.jpg"));
    // An empty base name is a name like any other.
    PhotoSettings empty = settingsFor(dir.path(), 0);
    empty.baseName.clear();
    EXPECT_EQ(writePhoto(frame, 0, empty).path, dir.path() + QStringLiteral("/.jpg"));
    EXPECT_EQ(writePhoto(frame, 0, empty).path, dir.path() + QStringLiteral("/1.jpg"));
    // Under the numbering rule the folder counts as taken.
    EXPECT_EQ(writePhoto(frame, 0, settingsFor(dir.path(), 0)).path, dir.path() + QStringLiteral("/Quillora1.jpg"));
}

// Another program takes the name the rule found free, just before our file gets there; once.
QString gIntruderPath;
void takeTheNameFirst(const QString &path)
{
    if (!gIntruderPath.isEmpty())
        return;
    QFile other(path);
    if (other.open(QIODevice::NewOnly)) {
        other.write("theirs");
        gIntruderPath = path;
    }
}
void linkTheNameFirst(const QString &path)
{
    if (gIntruderPath.isEmpty() && ::symlink("/nowhere", QFile::encodeName(path).constData()) == 0)
        gIntruderPath = path;
}

TEST_F(PhotoCaptureTest, ANameTakenJustBeforeTheMoveIsNeverOverwritten)
{
    const OutputTarget numbered{dir.path(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 1};
    auto ours = [](QIODevice &device, QString *) { return device.write("ours") == 4; };
    struct Unhook {
        ~Unhook() { setBeforePlacingHookForTesting(nullptr); }
    } unhook;

    gIntruderPath.clear();
    setBeforePlacingHookForTesting(&takeTheNameFirst);
    const OutputResult first = writeOutputFile(numbered, ours);
    setBeforePlacingHookForTesting(nullptr);
    ASSERT_TRUE(first.ok()) << first.error.toStdString();
    EXPECT_EQ(gIntruderPath, dir.filePath(QStringLiteral("Quillora.jpg")));
    EXPECT_EQ(fileHead(gIntruderPath, 100), QByteArray("theirs"));
    EXPECT_EQ(first.path, dir.filePath(QStringLiteral("Quillora1.jpg")));
    EXPECT_EQ(fileHead(first.path, 100), QByteArray("ours"));

    // A dangling link appearing at the free name is taken too, and stays a link.
    gIntruderPath.clear();
    setBeforePlacingHookForTesting(&linkTheNameFirst);
    const OutputResult second = writeOutputFile(numbered, ours);
    setBeforePlacingHookForTesting(nullptr);
    EXPECT_EQ(gIntruderPath, dir.filePath(QStringLiteral("Quillora2.jpg")));
    EXPECT_TRUE(QFileInfo(gIntruderPath).isSymLink());
    EXPECT_EQ(second.path, dir.filePath(QStringLiteral("Quillora3.jpg")));

    // Under the replace rule, replacing is what was asked for.
    gIntruderPath.clear();
    setBeforePlacingHookForTesting(&takeTheNameFirst);
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("Quillora.jpg"))));
    const OutputResult replaced
        = writeOutputFile({dir.path(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 0}, ours);
    EXPECT_EQ(replaced.path, dir.filePath(QStringLiteral("Quillora.jpg")));
    EXPECT_EQ(fileHead(replaced.path, 100), QByteArray("ours"));
    EXPECT_EQ(entries(dir.path()).size(), 4); // no temporary file left behind
}

TEST_F(PhotoCaptureTest, AFailedWriteLeavesTheOldFileUntouched)
{
    const QString old = dir.filePath(QStringLiteral("Quillora.jpg"));
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old photo");
    }
    const OutputResult failed = writeOutputFile(
        {dir.path(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 0}, [](QIODevice &device, QString *error) {
            device.write("half a pho");
            *error = QStringLiteral("encoder gave up");
            return false;
        });
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error, QStringLiteral("encoder gave up"));
    EXPECT_EQ(fileHead(old, 100), QByteArray("old photo"));
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.jpg")});
}

// A folder on a file system of our own: tiny, or read-only. Needs the right to mount.
class SmallFileSystemTest : public ::testing::Test {
protected:
    bool mountTmpfs(const char *options, unsigned long flags = 0)
    {
        if (!dir.isValid())
            return false;
        if (::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", flags, options) != 0) {
            reason = QStringLiteral("cannot mount a tmpfs here (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        mounted = true;
        return true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    QTemporaryDir dir;
    bool mounted = false;
    QString reason;
};

TEST_F(SmallFileSystemTest, AFullDiskLeavesNoPartialFileAndKeepsTheOldOne)
{
    if (!mountTmpfs("size=64k"))
        GTEST_SKIP() << reason.toStdString();
    const QString old = dir.filePath(QStringLiteral("Quillora.png"));
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old photo");
    }
    // A noisy 2048 x 1536 page is megabytes as PNG; the file system holds 64 KiB.
    QImage frame = makeDocumentPage({2048, 1536});
    quint32 seed = 1;
    for (int y = 0; y < frame.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] ^= (seed >> 24) & 0x1f1f1f;
        }
    }
    for (int format : {0, 1, 2, 3}) {
        for (int row : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " row " << row);
            EXPECT_FALSE(writePhoto(frame, 0, settingsFor(dir.path(), format, 4, row)).ok());
            EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("Quillora.png")});
        }
    }
    EXPECT_EQ(fileHead(old, 100), QByteArray("old photo"));
    // A small photo still fits: the failures left nothing in the way.
    const OutputResult small = writePhoto(makeDocumentPage({320, 240}), 0, settingsFor(dir.path(), 0, 0));
    ASSERT_TRUE(small.ok()) << small.error.toStdString();
    EXPECT_FALSE(QImage(small.path).isNull());
}

TEST_F(SmallFileSystemTest, AFolderWithoutWritePermissionWritesNothing)
{
    // Root passes every permission check, so a read-only file system stands in for a folder
    // the user may not write to; other users get a folder without the write bit.
    if (::geteuid() == 0) {
        if (!mountTmpfs("size=64k", MS_RDONLY))
            GTEST_SKIP() << reason.toStdString();
    } else {
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    }
    const OutputResult result = writePhoto(makeDocumentPage({320, 240}), 0, settingsFor(dir.path(), 0));
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(entries(dir.path()).isEmpty());
    if (::geteuid() != 0)
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
