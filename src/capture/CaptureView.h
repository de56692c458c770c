// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live picture. Frames arrive from the session on a streaming thread; the view keeps the
// newest, repaints on the main thread, and asks its delegate for the image to show.
#include "CaptureSession.h"
#include "Frame.h"

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

    // Frames painted so far, and the last image painted (after the delegate), for
    // diagnostics, tests and the benchmark.
    quint64 framesShown() const { return m_framesShown.load(); }
    QImage lastShownImage() const { return m_lastShown; }

    QSize sizeHint() const override { return {640, 480}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void presentFrame(const Frame &frame) override;
    void tellSessionTheSize();

    CaptureViewDelegate *m_delegate = nullptr;
    std::weak_ptr<CaptureSession> m_session;
    std::mutex m_frameMutex; // guards m_pending
    Frame m_pending;
    std::atomic<bool> m_repaintQueued{false};
    std::atomic<quint64> m_framesShown{0};
    Frame m_lastFrame;     // main thread only
    bool m_turned = false; // the delegate shows the frames turned by a quarter
    QImage m_lastShown;
};

} // namespace quillora::capture
