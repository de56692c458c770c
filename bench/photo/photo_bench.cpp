// SPDX-License-Identifier: GPL-3.0-or-later
// Photo benchmark: the time from photoClick to the file on disk for each format, beside a
// reference encode of the same pixels by the library called directly (TurboJPEG, libpng with its
// defaults, libtiff) and, for GIF, by ImageMagick's convert, with each photo's PSNR against the
// frame. Then a JPEG photo from an MJPEG camera's frame (the camera's own bytes) against one from
// a raw camera's, with the photo's PSNR against libjpeg's decode of the camera's frame.
//
//   photo_bench [output folder] [runs] [camera frame.jpg]
#include "Frame.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using quillora::app::VemoViewController;

// A page of printed text as a document camera sees it: paper, lines of serif text, a black
// marker, a slight shading, and sensor noise on every channel.
QImage makeDocumentFrame()
{
    QImage frame(2048, 1536, QImage::Format_RGB32);
    frame.fill(QColor(0xf4, 0xf1, 0xea));
    QPainter p(&frame);
    p.fillRect(64, 64, 256, 256, Qt::black);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(QColor(0x2b, 0x2b, 0x33));
    const QString words
        = QStringLiteral("The quick brown fox jumps over the lazy dog. Sphinx of black quartz, judge my vow. "
                         "Pack my box with five dozen liquor jugs. How vexingly quick daft zebras jump! ");
    int line = 0;
    for (int y = 360; y < 1480; y += 38, ++line)
        p.drawText(QRect(64, y, 1920, 36), Qt::AlignLeft | Qt::AlignVCenter, words.mid(line % 40) + words);
    p.drawText(QRect(360, 120, 1600, 120), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Chapter 3: Light, lenses and paper"));
    p.end();
    QRandomGenerator noise(42);
    for (int y = 0; y < frame.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
        const int shade = (y * 12) / frame.height(); // uneven lighting from top to bottom
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb c = row[x];
            auto jitter = [&](int v) {
                // Roughly Gaussian: the sum of three uniform draws, sigma about 3.
                const int n = int(noise.bounded(7)) + int(noise.bounded(7)) + int(noise.bounded(7)) - 9;
                return std::clamp(v + n - shade, 0, 255);
            };
            row[x] = qRgb(jitter(qRed(c)), jitter(qGreen(c)), jitter(qBlue(c)));
        }
    }
    return frame;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time of this process and of its finished children (ImageMagick), in milliseconds: less
// at the mercy of other work on the machine than the wall clock.
double cpuNow()
{
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return double(self.tv_sec) * 1e3 + double(self.tv_nsec) / 1e6 + ms(children.ru_utime) + ms(children.ru_stime);
}

struct Timing {
    double oursMs = NAN, refMs = NAN;       // wall clock
    double oursCpuMs = NAN, refCpuMs = NAN; // CPU
};

// Times the two alternately, run by run, so that a busy machine weighs on both alike.
// Gives the medians, or NANs when a run failed.
Timing timePair(int runs, const std::function<bool()> &ours, const std::function<bool()> &reference)
{
    std::vector<double> wall[2], cpu[2];
    for (int i = 0; i < runs; ++i) {
        for (int which = 0; which < 2; ++which) {
            QElapsedTimer t;
            const double cpu0 = cpuNow();
            t.start();
            if (!(which == 0 ? ours : reference)()) {
                std::fprintf(stderr, "photo_bench: a run failed\n");
                return {};
            }
            wall[which].push_back(double(t.nsecsElapsed()) / 1e6);
            cpu[which].push_back(cpuNow() - cpu0);
        }
    }
    return {median(wall[0]), median(wall[1]), median(cpu[0]), median(cpu[1])};
}

bool writeFile(const char *path, const unsigned char *data, size_t size)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A photo counts as taken once its file is on the disk (the photo path flushes it before it
// renames it into place), so the library references are timed to the same point.
bool onDisk(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

bool turboJpeg(const QImage &frame, const QByteArray &path)
{
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    // Qt's defaults: quality 75, 4:2:0, the accurate DCT.
    if (tjCompress2(tj.get(), frame.constBits(), frame.width(), int(frame.bytesPerLine()), frame.height(), TJPF_BGRX,
            &jpeg, &size, TJSAMP_420, 75, 0)
        != 0)
        return false;
    const bool ok = writeFile(path.constData(), jpeg, size);
    tjFree(jpeg);
    return ok;
}

bool libpng(const QImage &frame, const QByteArray &path)
{
    FILE *f = std::fopen(path.constData(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(frame.width()), png_uint_32(frame.height()), 8, PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_set_bgr(png);                         // BGRx in memory
    png_set_filler(png, 0, PNG_FILLER_AFTER); // drop the x
    for (int y = 0; y < frame.height(); ++y)
        png_write_row(png, frame.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool libtiff(const QImage &frame, const QByteArray &path)
{
    TIFF *tif = TIFFOpen(path.constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(frame.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(frame.height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
    std::vector<unsigned char> row(size_t(frame.width()) * 3);
    bool ok = true;
    for (int y = 0; y < frame.height() && ok; ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            row[size_t(x) * 3] = uchar(qRed(in[x]));
            row[size_t(x) * 3 + 1] = uchar(qGreen(in[x]));
            row[size_t(x) * 3 + 2] = uchar(qBlue(in[x]));
        }
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

double psnr(const QImage &frame, const QImage &picture)
{
    const QImage decoded = picture.convertToFormat(QImage::Format_RGB32);
    if (decoded.size() != frame.size())
        return NAN;
    double squared = 0;
    for (int y = 0; y < frame.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(decoded.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            const int dr = qRed(a[x]) - qRed(b[x]);
            const int dg = qGreen(a[x]) - qGreen(b[x]);
            const int db = qBlue(a[x]) - qBlue(b[x]);
            squared += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = squared / (double(frame.width()) * frame.height() * 3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

double psnr(const QImage &frame, const QString &path)
{
    return psnr(frame, QImage(path));
}

// libjpeg's own decode of JPEG bytes (TurboJPEG, its defaults), as RGB32.
QImage libjpegDecode(const unsigned char *jpeg, size_t size)
{
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(
            tj.get(), jpeg, static_cast<unsigned long>(size), &width, &height, &subsampling, &colorspace)
        != 0)
        return {};
    QImage picture(width, height, QImage::Format_RGB32);
    if (tjDecompress2(tj.get(), jpeg, static_cast<unsigned long>(size), picture.bits(), width,
            int(picture.bytesPerLine()), height, TJPF_BGRX, 0)
        != 0)
        return {};
    return picture;
}

QString imageMagick()
{
    // Debian's own binary, not whatever wrapper an earlier PATH entry may hold.
    for (const char *candidate : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"})
        if (QFileInfo(QLatin1String(candidate)).isExecutable())
            return QLatin1String(candidate);
    return QStandardPaths::findExecutable(QStringLiteral("convert"));
}

// The frame as a camera sends it in an MJPEG mode: JPEG, 4:2:2, quality 85 (what the virtual
// camera sends, too).
std::vector<unsigned char> cameraJpeg(const QImage &frame)
{
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), frame.constBits(), frame.width(), int(frame.bytesPerLine()), frame.height(), TJPF_BGRX,
            &jpeg, &size, TJSAMP_422, 85, 0)
        != 0)
        return {};
    std::vector<unsigned char> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    return bytes;
}

// A new camera frame holding `jpeg`, handed to the controller as the capture layer hands in an
// MJPEG camera's newest frame: kept as it came, decoded in full only when a photo needs it.
quillora::capture::Frame jpegFrame(const std::vector<unsigned char> &jpeg, QSize size)
{
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<unsigned char *>(jpeg.data()),
        jpeg.size(), 0, jpeg.size(), nullptr, nullptr);
    GstCaps *caps = gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(), nullptr);
    GstSample *sample = gst_sample_new(buffer, caps, nullptr, nullptr);
    gst_caps_unref(caps);
    gst_buffer_unref(buffer);
    return quillora::capture::Frame::adoptJpeg(sample, size, size);
}

// Stands in for the desktop's viewer: the benchmark measures writing, not viewing.
class NoViewer : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl &) { }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + "/quillora-photo-bench";
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QDir().mkpath(folder);
    NoViewer viewer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "open");
    struct Unset {
        ~Unset() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    } unset;

    const QImage frame = makeDocumentFrame();
    // The controller of a real window definition, without a camera: the frame is handed in
    // as the capture layer hands in decoded frames.
    quillora::app::WindowDefinition def(&app);
    VemoViewController &c = *def.controller();
    c.captureOutputDidOutputVideoFrame(nullptr, quillora::capture::Frame::fromImage(frame));
    testAccess(c).mPhotoPath()->setURL(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    testAccess(c).mPhotoFilename()->setText(QStringLiteral("bench"));
    testAccess(c).mOverwrite()->selectCellAtRow(0); // replace: the same file every run
    testAccess(c).mPhotoSize()->setCurrentIndex(4); // 2048 x 1536, the frame's size

    std::printf("2048x1536 document frame, %d runs each, median ms, folder %s\n", runs, qPrintable(folder));
    std::printf("%-5s %11s %11s %6s | %9s %9s %6s | %8s %8s | %7s %7s | %9s\n", "fmt", "photoClick", "reference",
        "ratio", "CPU ours", "CPU ref", "ratio", "ours KB", "ref KB", "PSNR", "ref", "Qt alone");
    struct Row {
        const char *name;
        int index;
        const char *ext;
        std::function<bool(const QByteArray &)> reference;
    };
    const QString magick = imageMagick();
    const QString ppm = folder + QStringLiteral("/frame.ppm");
    frame.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM");
    struct {
        double time = NAN, size = NAN;
    } pngGoal;
    const Row rows[] = {
        {"JPEG", 0, ".jpg", [&](const QByteArray &p) { return turboJpeg(frame, p) && onDisk(p); }},
        {"PNG", 1, ".png", [&](const QByteArray &p) { return libpng(frame, p) && onDisk(p); }},
        {"TIFF", 3, ".tiff", [&](const QByteArray &p) { return libtiff(frame, p) && onDisk(p); }},
        {"GIF", 2, ".gif",
            [&](const QByteArray &p) {
                return !magick.isEmpty() && QProcess::execute(magick, {ppm, QString::fromLocal8Bit(p)}) == 0;
            }},
    };
    for (const Row &row : rows) {
        testAccess(c).mPhotoFormat()->setCurrentIndex(row.index);
        const QString ours = folder + QStringLiteral("/bench") + QLatin1String(row.ext);
        const QString ref = folder + QStringLiteral("/reference") + QLatin1String(row.ext);
        QFile::remove(ours);
        const Timing timing = timePair(
            runs,
            [&] {
                c.photoClick(nullptr);
                return QFileInfo::exists(ours);
            },
            [&] { return row.reference(QFile::encodeName(ref)); });
        std::printf("%-5s %11.1f %11.1f %6.2f | %9.1f %9.1f %6.2f | %8.0f %8.0f |", row.name, timing.oursMs,
            timing.refMs, timing.oursMs / timing.refMs, timing.oursCpuMs, timing.refCpuMs,
            timing.oursCpuMs / timing.refCpuMs, QFileInfo(ours).size() / 1024.0, QFileInfo(ref).size() / 1024.0);
        std::printf(" %7.2f %7.2f |", psnr(frame, ours), psnr(frame, ref));
        if (row.index == 1) // the goal: at most half libpng's time, at most 5% larger
            pngGoal = {timing.oursMs / timing.refMs, double(QFileInfo(ours).size()) / QFileInfo(ref).size()};
        // Qt's writer on its own, straight to a file: what the photo path adds around it.
        if (row.index != 2) {
            const QString plain = folder + QStringLiteral("/qt") + QLatin1String(row.ext);
            const double qtMs = timePair(
                runs, [&] { return frame.save(plain, nullptr); },
                [] { return true; }).oursMs;
            std::printf(" %9.1f", qtMs);
        }
        std::printf("\n");
    }
    std::printf("reference for GIF: %s (process start and reading a PPM of the frame included)\n", qPrintable(magick));
    std::printf(
        "PNG: time %.2f x libpng's defaults (goal <= 0.50), file %.3f x (goal <= 1.05)\n", pngGoal.time, pngGoal.size);

    // A JPEG photo from an MJPEG camera against one from a raw camera, alternately: each click
    // gets a new frame, as from a running camera; the JPEG frame is decoded in full at the click.
    // A camera's own frame when one is given (as saved from its stream), else this frame as a
    // camera would encode it.
    std::vector<unsigned char> jpeg = cameraJpeg(frame);
    QImage cameraPicture = frame;
    if (argc > 3) {
        QFile file(QString::fromLocal8Bit(argv[3]));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        cameraPicture = QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32);
        if (cameraPicture.size() != QSize(2048, 1536)) {
            std::fprintf(stderr, "photo_bench: %s is not a 2048x1536 JPEG frame\n", argv[3]);
            return 2;
        }
        jpeg.assign(bytes.begin(), bytes.end());
    }
    if (jpeg.empty()) {
        std::fprintf(stderr, "photo_bench: the camera's JPEG frame cannot be made\n");
        return 1;
    }
    const quillora::capture::Frame rawFrame = quillora::capture::Frame::fromImage(cameraPicture);
    testAccess(c).mPhotoFormat()->setCurrentIndex(0);
    const QString ours = folder + QStringLiteral("/bench.jpg");
    const Timing camera = timePair(
        runs,
        [&] {
            c.captureOutputDidOutputVideoFrame(nullptr, jpegFrame(jpeg, frame.size()));
            c.photoClick(nullptr);
            return QFileInfo::exists(ours);
        },
        [&] {
            c.captureOutputDidOutputVideoFrame(nullptr, rawFrame);
            c.photoClick(nullptr);
            return QFileInfo::exists(ours);
        });
    // The MJPEG camera's photo once more, for what it holds.
    c.captureOutputDidOutputVideoFrame(nullptr, jpegFrame(jpeg, frame.size()));
    c.photoClick(nullptr);
    const QImage cameraDecoded = libjpegDecode(jpeg.data(), jpeg.size());
    QFile photoFile(ours);
    const QByteArray photoBytes = photoFile.open(QIODevice::ReadOnly) ? photoFile.readAll() : QByteArray();
    const QImage photoDecoded
        = libjpegDecode(reinterpret_cast<const unsigned char *>(photoBytes.constData()), size_t(photoBytes.size()));
    std::printf("\nJPEG photo, click to file, from an MJPEG camera (frame %.0f KB, photo %.0f KB) and from a raw "
                "camera, median ms\n",
        jpeg.size() / 1024.0, QFileInfo(ours).size() / 1024.0);
    std::printf("%-12s %11s %11s %6s | %9s %9s %6s | %s\n", "", "MJPEG cam", "raw cam", "ratio", "CPU MJPEG", "CPU raw",
        "ratio", "PSNR vs libjpeg's decode of the frame");
    std::printf("%-12s %11.1f %11.1f %6.2f | %9.1f %9.1f %6.2f | %7.2f   (goal: ratio <= 1.00, PSNR inf)\n",
        "photoClick", camera.oursMs, camera.refMs, camera.oursMs / camera.refMs, camera.oursCpuMs, camera.refCpuMs,
        camera.oursCpuMs / camera.refCpuMs, psnr(cameraDecoded, photoDecoded));
    return 0;
}

#include "photo_bench.moc"
