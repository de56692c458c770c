// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: the GStreamer pipeline of one session, as the outputs see it while
// they add their branches.
#include "GstHandles.h"
#include "ViewScaler.h"

#include <QSize>

namespace quillora::capture {

class CaptureSession;

class SessionGraph {
public:
    explicit SessionGraph(CaptureSession &session);
    ~SessionGraph();
    SessionGraph(const SessionGraph &) = delete;
    SessionGraph &operator=(const SessionGraph &) = delete;

    GstElement *pipeline() const { return m_pipeline.get(); }
    // The camera's video; request a pad for each branch. Raw BGRx, or the camera's JPEG frames
    // when compressedVideo(): each branch decodes them at the size it needs.
    GstElement *videoTee() const { return m_videoTee; }
    bool compressedVideo() const { return m_compressed; }
    // The sound input's source bin, not yet in the pipeline; nullptr without a sound input.
    // An output that records sound adds it to the pipeline and links it.
    GstElement *soundSource() const { return m_soundSource.get(); }
    CaptureSession &session() const { return m_session; }
    // The view branch's scaler (its streaming thread alone uses it).
    ViewScaler &viewScaler() { return m_viewScaler; }

    // Links `first` (already in the pipeline, taking BGRx) to a new request pad of the video
    // tee through a leaky queue of its own, so a slow branch never holds up another. JPEG
    // frames are decoded on the way, at the smallest scale that covers `cover` (empty: full
    // size).
    bool linkVideoBranch(GstElement *first, const char *queueName, QSize cover = {});
    // The same, with `first` taking what the tee carries as it is (JPEG frames when
    // compressedVideo()), for a branch that decodes them itself.
    bool linkTeeBranch(GstElement *first, const char *queueName);

private:
    friend class CaptureSession;
    CaptureSession &m_session;
    ElementPtr m_pipeline;
    GstElement *m_videoTee = nullptr; // owned by the pipeline
    GstElement *m_source = nullptr;   // the camera's bin, owned by the pipeline
    bool m_compressed = false;
    // While a movie is recorded from JPEG frames: the one decode before the tee, owned by the
    // pipeline, and the size it covers.
    GstElement *m_sharedDecoder = nullptr;
    QSize m_sharedCover;
    ViewScaler m_viewScaler;
    ElementPtr m_soundSource;
};

} // namespace quillora::capture
