// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Real cameras' JPEG frames (mjpeg-frames/ of the real devices' data, read where they lie) with
// what each is known for, and libjpeg's own decode of any frame to hold ours against.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <gtest/gtest.h>

#include <array>

namespace quillora::test {

struct RealFrame {
    const char *file;    // in mjpeg-frames/
    QSize size;          // as its frame header gives it
    bool huffmanTables;  // carries its own (else the decoder's standard ones are meant)
    bool warns;          // libjpeg decodes it whole but warns (a camera's padding)
    qsizetype staleTail; // bytes after its first end-of-image marker
};

inline constexpr std::array<RealFrame, 6> kRealFrames{{
    {"pion_640x480_avi1_nodht.jpg", {640, 480}, false, false, 0},
    {"jpegdecoder_960x720_avi1_nodht_extraneous.jpg", {960, 720}, false, true, 0},
    {"zune136_1280x720_avi1_nodht_staletail.jpg", {1280, 720}, false, false, 304954},
    {"golang28717_c270_320x176_avi1_rstpad.jpg", {320, 176}, true, true, 0},
    {"espjpeg_usbcam1_160x120_avi1_nodht.jpg", {160, 120}, false, false, 0},
    {"espjpeg_usbcam2_160x120_jfif_sof_first.jpg", {160, 120}, true, false, 0},
}};

// The frame's bytes; empty when it is not there.
QByteArray readRealFrame(const QString &folder, const RealFrame &frame);

// A test over the real cameras' frames; skipped, saying so, where the real devices' data is not.
class RealFramesTest : public ::testing::Test {
protected:
    void SetUp() override;
    QByteArray frame(const RealFrame &f) const { return readRealFrame(folder, f); }
    QString folder;
};

// libjpeg's decode of `jpeg` (TurboJPEG over the same library), as RGB32: `accurate` with
// libjpeg's defaults, else with the fast DCT and plain upsampling, at `size` (the frame's own
// when empty, else one of its DCT scales). Null when libjpeg fails; `warned` says whether it
// warned.
QImage libjpegDecode(const QByteArray &jpeg, bool accurate, QSize size = {}, bool *warned = nullptr);

// `picture` (RGB32) compressed by libjpeg's own API as cameras do it in ways TurboJPEG cannot:
// luminance sampled `lumaWidth` x 1 against chrominance (2 for 4:2:2, 3 for a grid 24 pixels
// wide), a restart marker every `restartInterval` MCUs (0: none), and `padding` stray bytes put
// before each restart marker (what some cameras send, and libjpeg warns of).
QByteArray libjpegEncode(const QImage &picture, int lumaWidth, int restartInterval = 0, int padding = 0);

// How alike two pictures of one size are: the peak signal-to-noise ratio over R, G and B in
// dB (infinite when equal), and the largest difference of one channel.
double psnr(const QImage &a, const QImage &b);
int largestDifference(const QImage &a, const QImage &b);

} // namespace quillora::test
