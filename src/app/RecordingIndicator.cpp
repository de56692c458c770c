// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingIndicator.h"

#include "WindowMessages.h"

#include <QEvent>

namespace quillora::app {

RecordingIndicator::RecordingIndicator(QWidget *target)
    : QPushButton(target->parentWidget())
    , m_target(target)
{
    setObjectName(QStringLiteral("recordingIndicator"));
    setAccessibleName(accessibleNameText());
    setStyleSheet(QStringLiteral("QPushButton { color: white; background: #c0141c; font-weight: bold; "
                                 "border-radius: 4px; padding: 2px 8px; }"));
    m_tick = m_clock.makeTimer(
        this, [this] { showElapsed(); }, Clock::Repeat::Every);
    m_target->installEventFilter(this);
    hide();
}

QString RecordingIndicator::accessibleNameText()
{
    return QStringLiteral("recording indicator");
}

void RecordingIndicator::start()
{
    m_started = m_clock.now();
    showElapsed();
    followTarget();
    show();
    raise();
    // A quarter second keeps the shown second close to the real one.
    m_tick->start(std::chrono::milliseconds(250));
}

void RecordingIndicator::stop()
{
    setAccessibleDescription(QString());
    m_tick->stop();
    m_started.reset();
    hide();
}

qint64 RecordingIndicator::elapsedSeconds() const
{
    return m_started ? std::chrono::duration_cast<std::chrono::seconds>(m_clock.now() - *m_started).count() : 0;
}

void RecordingIndicator::showElapsed()
{
    const qint64 seconds = elapsedSeconds();
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(seconds / 3600)
                             .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    //: The recording indicator: a red dot, the time recorded so far, and what a click does.
    setText(tr("\u25CF REC %1 \u2013 Stop").arg(time));
    setToolTip(tr("A movie is being recorded; click to stop (Ctrl+Shift+R)"));
    followTarget();
    if (accessibleDescription() != time) {
        setAccessibleDescription(time);
        const QRect r = geometry();
        WindowMessages::record("recording",
            QStringLiteral("%1 at %2,%3 %4x%5")
                .arg(time)
                .arg(mapTo(window(), QPoint(0, 0)).x())
                .arg(mapTo(window(), QPoint(0, 0)).y())
                .arg(r.width())
                .arg(r.height()));
    }
}

bool RecordingIndicator::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_target || (m_picture && watched == m_picture))
        && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        followTarget();
    return QPushButton::eventFilter(watched, event);
}

void RecordingIndicator::setOverPicture(QWidget *picture)
{
    if (m_picture)
        m_picture->removeEventFilter(this);
    m_picture = picture;
    if (m_picture)
        m_picture->installEventFilter(this);
    followTarget();
    raise();
}

void RecordingIndicator::followTarget()
{
    if (m_picture) {
        const QSize size = sizeHint();
        const QPoint corner = m_picture->mapTo(parentWidget(), m_picture->rect().topRight());
        const int margin = std::max(8, m_picture->height() / 40);
        setGeometry(QRect(corner + QPoint(-size.width() - margin, margin), size));
        return;
    }
    // Where the transparent button is, a little wider when the time needs the room, centred on it.
    QRect area = m_target->geometry();
    const int width = std::max(area.width(), sizeHint().width());
    area.setLeft(area.center().x() - width / 2);
    area.setWidth(width);
    setGeometry(area);
}

} // namespace quillora::app
