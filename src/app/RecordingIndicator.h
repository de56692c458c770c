// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While a movie is recorded the recording button is fully transparent; this indicator takes
// its place, shows that a recording is running and for how long, and a click on it stops the
// recording (it sends the recording button's own action). Main thread only.
#include "ProgramClock.h"

#include <QPushButton>

#include <memory>
#include <optional>

namespace quillora::app {

class RecordingIndicator : public QPushButton {
    Q_OBJECT
public:
    // Laid over `target` (a sibling: the target's own transparency must not hide it).
    explicit RecordingIndicator(QWidget *target);

    void start();
    void stop();
    bool isRunning() const { return m_started.has_value(); }
    // Whole seconds since start(); 0 when not running.
    qint64 elapsedSeconds() const;

    static QString accessibleNameText();

    // While the buttons are hidden (full screen) the indicator stands in the top right corner
    // of `picture` instead (a sibling of the target, or inside one); nullptr puts it back.
    void setOverPicture(QWidget *picture);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showElapsed();
    void followTarget();

    QWidget *m_target;
    QWidget *m_picture = nullptr;
    Clock &m_clock = programClock();
    std::optional<std::chrono::microseconds> m_started; // on m_clock, while running
    std::unique_ptr<ClockTimer> m_tick;
};

} // namespace quillora::app
