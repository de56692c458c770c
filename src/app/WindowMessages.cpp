// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowMessages.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QWidget>

namespace quillora::app {

WindowMessages::WindowMessages(QWidget *picture, QStatusBar *statusBar)
    : QObject(picture)
    , m_picture(picture)
    , m_statusBar(statusBar)
    , m_overlay(new QLabel(picture))
    , m_statusOverlay(new QLabel(picture))
{
    m_overlay->setObjectName(QStringLiteral("pictureMessage"));
    m_overlay->setAccessibleName(persistentAccessibleName());
    m_overlay->setAlignment(Qt::AlignCenter);
    m_overlay->setWordWrap(true);
    // Light words on a dark plate read on a black picture as well as on a white page.
    m_overlay->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 170); border-radius: "
                                            "8px; padding: 16px; font-size: 16pt; }"));
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_overlay->hide();
    m_statusOverlay->setObjectName(QStringLiteral("statusOverPicture"));
    m_statusOverlay->setAlignment(Qt::AlignCenter);
    m_statusOverlay->setWordWrap(true);
    m_statusOverlay->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background: rgba(0, 0, 0, 170); border-radius: 6px; padding: 8px 12px; }"));
    m_statusOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_statusOverlay->hide();
    m_statusBar->setAccessibleName(statusAccessibleName());
    // The status bar's accessible description follows the message, so that a screen reader
    // (and a test) reads what is shown now.
    connect(m_statusBar, &QStatusBar::messageChanged, m_statusBar,
        [bar = m_statusBar](const QString &text) { bar->setAccessibleDescription(text); });
    m_picture->installEventFilter(this);
    // The message under the picture and its copy over it go together.
    m_statusClear = programClock().makeTimer(
        this,
        [this] {
            m_statusBar->clearMessage();
            m_statusOverlay->hide();
        },
        Clock::Repeat::Once);
}

WindowMessages::~WindowMessages() = default;

QString WindowMessages::persistentAccessibleName()
{
    return QStringLiteral("picture message");
}

QString WindowMessages::statusAccessibleName()
{
    return QStringLiteral("status message");
}

void WindowMessages::showPersistentMessage(const QString &text)
{
    m_overlay->setText(text);
    m_overlay->setAccessibleDescription(text);
    placeOverlay();
    m_overlay->show();
    m_overlay->raise();
    record("picture", text);
}

void WindowMessages::clearPersistentMessage()
{
    if (m_overlay->isHidden() && m_overlay->text().isEmpty())
        return;
    m_overlay->hide();
    m_overlay->clear();
    m_overlay->setAccessibleDescription(QString());
}

QString WindowMessages::persistentMessage() const
{
    return m_overlay->isHidden() ? QString() : m_overlay->text();
}

void WindowMessages::showStatusMessage(const QString &text)
{
    m_statusBar->showMessage(text);
    m_statusClear->start(kStatusTime);
    if (m_statusOver)
        showStatusOverlay(text);
    record("status", text);
}

void WindowMessages::showStatusOverlay(const QString &text)
{
    m_statusOverlay->setText(text);
    placeStatusOverlay();
    m_statusOverlay->show();
    m_statusOverlay->raise();
}

void WindowMessages::setStatusOverPicture(bool over)
{
    m_statusOver = over;
    if (!over) {
        m_statusOverlay->hide();
    } else if (const QString now = m_statusBar->currentMessage(); !now.isEmpty()) {
        showStatusOverlay(now);
    }
}

QString WindowMessages::statusOverPictureText() const
{
    return m_statusOverlay->isHidden() ? QString() : m_statusOverlay->text();
}

QString WindowMessages::statusMessage() const
{
    return m_statusBar->currentMessage();
}

bool WindowMessages::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_picture && event->type() == QEvent::Resize) {
        placeOverlay();
        placeStatusOverlay();
    }
    return QObject::eventFilter(watched, event);
}

void WindowMessages::placeOverlay()
{
    // Centred, at most three quarters of the picture's width.
    const QSize area = m_picture->size();
    const int width = std::max(1, area.width() * 3 / 4);
    m_overlay->setFixedWidth(width);
    m_overlay->adjustSize();
    const QSize size = m_overlay->size();
    m_overlay->move((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
}

void WindowMessages::placeStatusOverlay()
{
    // At the foot of the picture, where the status line would be, at most most of its width.
    const QSize area = m_picture->size();
    m_statusOverlay->setMaximumWidth(std::max(1, area.width() * 9 / 10));
    m_statusOverlay->adjustSize();
    const QSize size = m_statusOverlay->size();
    m_statusOverlay->move((area.width() - size.width()) / 2, area.height() - size.height() - area.height() / 24);
}

void WindowMessages::record(const char *kind, const QString &text)
{
    static const QString path = qEnvironmentVariable("QUILLORA_MESSAGE_LOG");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QByteArray(kind) + ": " + text.toUtf8() + '\n');
}

} // namespace quillora::app
