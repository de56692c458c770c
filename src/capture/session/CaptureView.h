// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live picture. Frames arrive from the session on a streaming thread; the view keeps the
// newest, repaints on the main thread, and asks its delegate for the image to show. Zoomed in,
// it asks the session for the part of the picture it shows, at the size it shows it.
#include "CaptureSession.h"
#include "Frame.h"
#include "ViewTransform.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

namespace quillora::capture {

class CaptureView;

class CaptureViewDelegate {
public:
    virtual ~CaptureViewDelegate() = default;
    // The image about to be shown; the result is shown instead. Main thread.
    virtual QImage viewWillDisplayImage(CaptureView *view, const QImage &image) = 0;
    // How viewWillDisplayImage turns and mirrors the images it is given now; asked just before
    // it, so that the view places (and zooms and pans) the picture the way it is shown.
    virtual PictureOrientation viewOrientation(CaptureView *) { return {}; }
};

class CaptureView : public QWidget, private DisplaySink {
    Q_OBJECT
public:
    explicit CaptureView(QWidget *parent = nullptr);
    ~CaptureView() override;

    void setDelegate(CaptureViewDelegate *delegate) { m_delegate = delegate; }
    CaptureViewDelegate *delegate() const { return m_delegate; }

    // The view does not own the session: it shows the picture of the session it was last
    // given for as long as that session exists.
    void setCaptureSession(const std::shared_ptr<CaptureSession> &session);
    std::shared_ptr<CaptureSession> captureSession() const { return m_session.lock(); }

    // Zoom and pan (clamped so the page never leaves the view). Only the view changes: the
    // session goes on as it is and merely sends another part of its frames.
    void setZoom(const ViewZoom &zoom);
    ViewZoom zoom() const { return m_transform.zoom(); }
    // Where the picture shown now lies: the mapping between this widget's coordinates and the
    // camera frame's pixels.
    const ViewTransform &viewTransform() const { return m_transform; }

    // Frames painted so far, and the last image painted (after the delegate: the whole picture,
    // or the part a zoomed view shows), for diagnostics, tests and the benchmark.
    quint64 framesShown() const { return m_framesShown.load(); }
    QImage lastShownImage() const { return m_shown.image; }
    // The part of the frame the last image shows, in frame pixels.
    QRectF lastShownRegion() const { return m_shown.region; }

    QSize sizeHint() const override { return {640, 480}; }

Q_SIGNALS:
    // A picture of another shape than before arrived (another camera or mode): the view went
    // back to fit. A picture of the same shape keeps the zoom.
    void zoomReset();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Shown {
        QImage image;  // turned and mirrored as the delegate shows it
        QRectF region; // the frame pixels it covers
    };

    void presentFrame(const ViewPicture &picture) override;
    void takePicture(const ViewPicture &picture);
    QImage displayed(const Frame &frame);
    void tellSessionTheRequest();
    DisplayRequest displayRequest() const;
    void paintPicture(QPainter &painter);

    CaptureViewDelegate *m_delegate = nullptr;
    std::weak_ptr<CaptureSession> m_session;
    std::mutex m_frameMutex; // guards m_pending
    ViewPicture m_pending;
    std::atomic<bool> m_repaintQueued{false};
    std::atomic<quint64> m_framesShown{0};
    // Main thread only, from here on.
    Frame m_lastFrame;
    ViewTransform m_transform;
    Shown m_shown;
    Shown m_backdrop; // the whole picture, small, shown around a part until the next arrives
    DisplayRequest m_sentRequest;
};

} // namespace quillora::capture
