// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window tells the user in words: a message that stays over the picture until it is
// cleared (no camera, a camera gone), and a short status message under it that clears itself
// (a photo or movie that could not be written, a camera error, a file saved). Main thread only.
#include "ProgramClock.h"

#include <QObject>
#include <QString>

#include <memory>

class QLabel;
class QStatusBar;
class QWidget;

namespace quillora::app {

class WindowMessages : public QObject {
    Q_OBJECT
public:
    // The persistent message is laid over `picture`; status messages go to `statusBar`.
    WindowMessages(QWidget *picture, QStatusBar *statusBar);
    ~WindowMessages() override;

    // How long a status message stays: long enough to read a sentence twice.
    static constexpr std::chrono::milliseconds kStatusTime{6000};

    void showPersistentMessage(const QString &text);
    void clearPersistentMessage();
    QString persistentMessage() const;

    void showStatusMessage(const QString &text);
    QString statusMessage() const;
    // While the status line is hidden (full screen), its messages show at the foot of the
    // picture instead, for as long as they would in the status line.
    void setStatusOverPicture(bool over);
    bool statusOverPicture() const { return m_statusOver; }
    // The status message shown over the picture now; empty when none is.
    QString statusOverPictureText() const;

    // The accessible names tests and assistive tools find the two messages by.
    static QString persistentAccessibleName();
    static QString statusAccessibleName();

    // For end-to-end checks of the running program, which cannot read the window's words:
    // when QUILLORA_MESSAGE_LOG names a file, each message is also appended to it as one line,
    // "<kind>: <text>".
    static void record(const char *kind, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeOverlay();
    void placeStatusOverlay();
    void showStatusOverlay(const QString &text);

    QWidget *m_picture;
    QStatusBar *m_statusBar;
    QLabel *m_overlay;       // a child of m_picture, which owns it
    QLabel *m_statusOverlay; // likewise
    bool m_statusOver = false;
    // Clears the status message, and hides its copy over the picture, kStatusTime after it was
    // shown, on the program's clock.
    std::unique_ptr<ClockTimer> m_statusClear;
};

} // namespace quillora::app
