// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A capture session: inputs (a camera, a sound input) feeding outputs (decoded frames, a
// movie file) and the capture view. It is built, started, stopped and discarded, never
// reconfigured in place. Stopping pauses it and keeps the devices open.
#include "CameraMode.h"
#include "CaptureDevice.h"
#include "CaptureLog.h"
#include "DisplayPicture.h"
#include "HandOff.h"

#include <QObject>
#include <QRectF>
#include <QSize>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quillora::capture {

class SessionGraph;
class CaptureSession;

class CaptureDeviceInput {
public:
    explicit CaptureDeviceInput(CaptureDevicePtr device);
    const CaptureDevicePtr &device() const { return m_device; }
    MediaType mediaType() const { return m_device->mediaType(); }

private:
    CaptureDevicePtr m_device;
};

// An output of a session. The session lets each output add its branch when it builds its
// pipeline; outputs are defined inside the capture layer only.
class CaptureOutput {
public:
    virtual ~CaptureOutput();

protected:
    friend class CaptureSession;
    // The inputs of the session at the moment the output is added to it.
    virtual void addedToSession(const std::vector<std::shared_ptr<CaptureDeviceInput>> &inputs);
    // Adds this output's branch to the graph that the session is building.
    virtual bool attach(SessionGraph &graph, QString *error) = 0;
    // The graph is about to be torn down (pipeline still alive).
    virtual void detach(SessionGraph &graph);
    // A message of the pipeline's bus, on the main thread. True when it was this output's.
    virtual bool busMessage(SessionGraph &graph, void *gstMessage);
    // The frame size this output would like the camera to deliver; empty: no preference.
    virtual QSize preferredSourceSize() const;
    // True for an output that takes the picture at about the view's size (the movie). While
    // one is attached, a camera's JPEG frames are decoded once, before the branches, at the
    // smallest scale covering both, instead of once in each branch.
    virtual bool takesViewSizedPicture() const { return false; }
    // For the "session started: ..." line.
    virtual QString describe() const = 0;
};

class CaptureSession : public QObject {
    Q_OBJECT
public:
    explicit CaptureSession(QObject *parent = nullptr);
    ~CaptureSession() override;

    bool addInput(const std::shared_ptr<CaptureDeviceInput> &input, QString *error);
    bool addOutput(const std::shared_ptr<CaptureOutput> &output, QString *error);
    const std::vector<std::shared_ptr<CaptureDeviceInput>> &inputs() const { return m_inputs; }
    const std::vector<std::shared_ptr<CaptureOutput>> &outputs() const { return m_outputs; }

    // The first start builds the pipeline; later starts resume it.
    void startRunning();
    void stopRunning();
    bool isRunning() const { return m_running; }

    // Where the live picture goes; nullptr detaches. Safe against frames in flight: after the
    // call returns the old sink receives no further frame.
    void setDisplaySink(DisplaySink *sink);
    // The largest picture the view shows (device pixels): the view's frames are scaled to fit
    // it with their aspect kept. Any thread.
    void setDisplaySize(QSize size);
    // The whole box the view shows the picture in (the request's wholeBox).
    QSize displaySize();
    // The part of the picture a zoomed view shows, and its size; takes effect from the next
    // frame, without rebuilding anything. Main thread (the view's).
    void setDisplayRequest(const DisplayRequest &request);
    DisplayRequest displayRequest();

    // Delivers a picture to the display sink (streaming threads).
    void deliverToDisplay(const ViewPicture &picture);
    // The camera sent a frame the picture cannot show: cut short, unreadable, damaged inside
    // (streaming threads).
    void countSkippedFrame() { m_skippedFrames.fetch_add(1); }
    // How many of the camera's frames never reached the picture since the session was made:
    // those the view passed over, and those the decoder of a recording passed over. Main thread.
    quint64 skippedFrames() const;
    // The camera mode the session runs in; nothing before the first start or without a camera.
    std::optional<ChosenMode> cameraMode() const { return m_mode; }
    // A message of the pipeline's bus (main thread; a GstMessage).
    void handleBusMessage(void *message);
    // The same from a streaming thread: handled on the main thread, unless the session goes first.
    void handleBusMessageLater(std::shared_ptr<void> message);

Q_SIGNALS:
    // A failure reported by the pipeline (a camera unplugged, a device that refuses to open).
    void runtimeError(const QString &message);

private:
    void build();
    // The size the session asks the camera for: the largest its outputs want.
    QSize largestWantedSize() const;
    bool linkCamera(SessionGraph &g);
    // The size the one decode before the branches covers while a movie is recorded from JPEG
    // frames: the movie's box, the view's, and what the part a zoomed view shows needs.
    QSize sharedDecodeCover(const DisplayRequest &request) const;
    void followViewInSharedDecode(const DisplayRequest &request);
    void teardown();
    bool fallBackToNextMode();
    void reportLater(const QString &message);

    std::vector<std::shared_ptr<CaptureDeviceInput>> m_inputs;
    std::vector<std::shared_ptr<CaptureOutput>> m_outputs;
    Mailbox *m_mailbox = new Mailbox(this); // the bus's messages, from the streaming threads
    std::unique_ptr<SessionGraph> m_graph;
    bool m_running = false;
    bool m_failed = false;
    // The camera's modes as read when the session was first built, less any it refused.
    std::vector<CameraMode> m_modes;
    bool m_modesRead = false;
    QSize m_requestedSize;
    std::optional<ChosenMode> m_mode;
    bool m_modeRetried = false;
    // Set by the view's streaming thread at the first picture: a camera that got that far has
    // accepted its mode.
    std::atomic<bool> m_sawPicture{false};
    std::atomic<quint64> m_skippedFrames{0}; // by the view's branch, across rebuilds
    std::atomic<quint64> m_skippedBefore{0}; // by the decoders of recordings torn down since
    OncePerSecond m_warningLog;
    // Guards m_display and m_displayRequest; held while a frame is handed to the display.
    std::mutex m_displayMutex;
    DisplaySink *m_display = nullptr;
    DisplayRequest m_displayRequest; // boxes empty until the view says its size

    friend class SessionGraph;
};

} // namespace quillora::capture
