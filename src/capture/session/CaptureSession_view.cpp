// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session's side of the live view: where its pictures go, and what part of the
// camera's picture the view asks for at what size (which, while a movie is recorded from JPEG
// frames, the one decode the movie and the view share follows).
#include "CaptureSession.h"

#include "JpegPicture.h"
#include "SessionGraph.h"

#include <cmath>

namespace quillora::capture {

namespace {

// Until the view says its size, its pictures are at most this.
constexpr QSize kDefaultDisplaySize(1024, 768);

} // namespace

void CaptureSession::setDisplaySink(DisplaySink *sink)
{
    std::lock_guard lock(m_displayMutex);
    m_display = sink;
}

void CaptureSession::setDisplaySize(QSize size)
{
    setDisplayRequest({QRectF(0, 0, 1, 1), size, size});
}

void CaptureSession::setDisplayRequest(const DisplayRequest &request)
{
    {
        std::lock_guard lock(m_displayMutex);
        m_displayRequest = request;
    }
    followViewInSharedDecode(displayRequest());
}

QSize CaptureSession::sharedDecodeCover(const DisplayRequest &request) const
{
    // m_requestedSize is the movie's box: while recording the movie is the only output.
    QSize cover = request.wholeBox.expandedTo(m_requestedSize);
    if (!request.wholeFrame() && request.region.width() > 0 && request.region.height() > 0)
        cover = cover.expandedTo(QSize(int(std::ceil(request.box.width() / request.region.width())),
            int(std::ceil(request.box.height() / request.region.height()))));
    return cover;
}

// A zoomed view takes its part from the one decode the movie shares: that decode then covers the
// part's detail too (and the view crops it), rather than the view enlarging a smaller picture.
// Only a change of the DCT scale it decodes at tells the decoder, which changes its pictures'
// size from the next frame on; the movie scales whatever comes to its own fixed size.
void CaptureSession::followViewInSharedDecode(const DisplayRequest &request)
{
    if (!m_graph || !m_graph->m_sharedDecoder || !m_mode)
        return;
    const QSize cover = sharedDecodeCover(request);
    if (jpegScaledSize(m_mode->size, cover) == jpegScaledSize(m_mode->size, m_graph->m_sharedCover))
        return;
    m_graph->m_sharedCover = cover;
    g_object_set(m_graph->m_sharedDecoder, "cover-width", cover.width(), "cover-height", cover.height(), nullptr);
}

DisplayRequest CaptureSession::displayRequest()
{
    std::lock_guard lock(m_displayMutex);
    DisplayRequest request = m_displayRequest;
    if (!request.wholeBox.isValid())
        request.wholeBox = kDefaultDisplaySize;
    if (!request.box.isValid())
        request.box = request.wholeBox;
    return request;
}

QSize CaptureSession::displaySize()
{
    return displayRequest().wholeBox;
}

void CaptureSession::deliverToDisplay(const ViewPicture &picture)
{
    m_sawPicture.store(true);
    std::lock_guard lock(m_displayMutex);
    if (m_display)
        m_display->presentFrame(picture);
}

} // namespace quillora::capture
