// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The decoded-frame output: every frame of the camera, scaled to the size its pixel buffer
// attributes ask for, handed to its delegate on the streaming thread.
#include "CaptureSession.h"
#include "JpegPicture.h"

#include <QVariantMap>

#include <atomic>

namespace quillora::capture {

inline const QString kPixelBufferWidthKey = QStringLiteral("Width");
inline const QString kPixelBufferHeightKey = QStringLiteral("Height");

class DecompressedVideoOutput;

class DecompressedVideoOutputDelegate {
public:
    virtual ~DecompressedVideoOutputDelegate() = default;
    // Called on the capture layer's streaming thread, once per decoded frame.
    virtual void captureOutputDidOutputVideoFrame(DecompressedVideoOutput *output, const Frame &frame) = 0;
};

class DecompressedVideoOutput : public CaptureOutput {
public:
    DecompressedVideoOutput();
    ~DecompressedVideoOutput() override;

    void setDelegate(DecompressedVideoOutputDelegate *delegate) { m_delegate.store(delegate); }
    DecompressedVideoOutputDelegate *delegate() const { return m_delegate.load(); }

    // Width and height under kPixelBufferWidthKey and kPixelBufferHeightKey.
    void setPixelBufferAttributes(const QVariantMap &attributes);
    QVariantMap pixelBufferAttributes() const { return m_attributes; }
    QSize frameSize() const;

    // Called by the streaming thread.
    void deliver(const Frame &frame);
    // Reads the size of the camera's JPEG frames (the streaming thread's alone).
    JpegPicture &jpegCheck() { return m_jpegCheck; }

protected:
    bool attach(SessionGraph &graph, QString *error) override;
    void detach(SessionGraph &graph) override;
    QSize preferredSourceSize() const override { return frameSize(); }
    QString describe() const override;

private:
    void applyCaps();

    std::atomic<DecompressedVideoOutputDelegate *> m_delegate{nullptr};
    std::atomic<bool> m_delivered{false}; // a frame has been delivered
    QVariantMap m_attributes;
    void *m_capsFilter = nullptr; // GstElement owned by the session's pipeline while attached
    JpegPicture m_jpegCheck;
};

} // namespace quillora::capture
