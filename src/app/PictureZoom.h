// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Zoom and pan of the picture, live or frozen: the View menu's steps, Ctrl+wheel and a touchpad
// pinch about the point under the pointer, dragging the picture and the arrow keys while zoomed,
// and the factor shown over the picture for a moment. The live picture and the still are zoomed
// alike. Only the view changes: the session, the camera mode, photos, movies and the settings
// stay as they are. Main thread only.
#include "Countdown.h"
#include "ViewTransform.h"

#include <QObject>
#include <QPointF>

#include <array>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QStackedWidget;
class QWheelEvent;

namespace quillora::capture {
class CaptureView;
}

namespace quillora::app {

class ImageView;

class PictureZoom : public QObject {
    Q_OBJECT
public:
    // `stack` shows `live` or `still`; the factor is shown over it.
    PictureZoom(QStackedWidget *stack, capture::CaptureView *live, ImageView *still);
    ~PictureZoom() override;

    // Steps of about 1.25 times (three to a doubling), from fit up to 8 times fit, about the
    // middle of the view; a step past either end is ignored.
    void zoomIn();
    void zoomOut();
    void fit();
    // Zooms to `factor` keeping the point of the page under `viewPoint` (coordinates of the
    // view shown now) where it is, as far as the page's edges allow.
    void zoomAbout(double factor, QPointF viewPoint);
    // Shows more of the page that lies in `direction`: the picture moves a tenth of the view.
    void pan(Qt::ArrowType direction);

    capture::ViewZoom zoom() const;
    bool isZoomed() const;
    // The arrow keys that pan, enabled only while zoomed; added to `window` so they work
    // wherever the keyboard is in it.
    void addPanKeysTo(QWidget *window);

    // "200 %", as it is shown over the picture.
    static QString zoomText(double factor);
    // The factor shown over the picture now; empty once it has faded.
    QString shownFactor() const;
    static constexpr int kFactorMilliseconds = 1000;
    // For tests: the countdown the factor fades by.
    void setFactorCountdown(std::unique_ptr<Countdown> countdown);

Q_SIGNALS:
    // The zoom or the pan changed (what is drawn over the picture follows the views' mapping).
    void zoomChanged(const capture::ViewZoom &zoom);
    // A double click on the picture (the window toggles full screen).
    void doubleClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *shownView() const;
    capture::ViewTransform shownTransform() const;
    void apply(const capture::ViewZoom &zoom);
    void showFactor();
    void placeFactor();
    bool wheel(QWidget *view, QWheelEvent *event);
    bool mouse(QEvent *event);
    bool gesture(QWidget *view, QEvent *event);

    QStackedWidget *m_stack;
    capture::CaptureView *m_live;
    ImageView *m_still;
    QLabel *m_factor; // a child of m_stack, which owns it
    std::unique_ptr<Countdown> m_factorCountdown;
    std::optional<QPointF> m_dragFrom; // where the last move of a drag left the pointer
    std::array<QAction *, 4> m_panKeys{};
};

} // namespace quillora::app
