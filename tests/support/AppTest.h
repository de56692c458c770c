// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The whole application, offscreen, as a user starts it: in a home of its own, with virtual
// cameras (and a virtual microphone when asked), the desktop's "open this file" kept instead
// of acted on, and its log lines.
#include "LogSpy.h"
#include "ManualClock.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QObject>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quillora::test {

// A home folder of its own for the lifetime of the object: HOME, with a space and a non-ASCII
// letter in its name as real homes may have, and its Desktop (where photos and movies go by
// default); XDG_CONFIG_HOME beside it, where the settings file lives.
class TemporaryHome {
public:
    TemporaryHome();
    QString path() const { return m_dir.filePath(QStringLiteral("home of Zoë")); }
    QString desktopFile(const QString &name) const { return path() + QStringLiteral("/Desktop/") + name; }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }
    QString storeFile() const { return configHome() + QStringLiteral("/Quillora/quillora.conf"); }
    void writeStore(const QByteArray &contents) const;
    QByteArray readStore() const;
    // What the settings store gives for `keys` (the ten settings when none are given) to a process
    // of its own, as the next start of the application reads it; joined by " | ".
    std::string stored(QStringList keys = {}) const;

private:
    QTemporaryDir m_dir;
    ScopedEnv m_home, m_config;
};

// What the application asked the desktop to open (file URLs, as local paths); from any thread.
class DesktopSpy : public QObject {
    Q_OBJECT
public:
    DesktopSpy();
    ~DesktopSpy() override;
    QStringList opened() const;
public Q_SLOTS:
    void open(const QUrl &url);

private:
    mutable std::mutex m_mutex; // guards m_opened
    QStringList m_opened;
};

class AppTest : public ::testing::Test {
protected:
    TemporaryHome home;
    LogSpy log;
    DesktopSpy desktop;
    // The program's clock, when a test moves it by hand: emplaced before the start, it outlives
    // the application.
    std::optional<ManualClock> clock;
    std::unique_ptr<app::WindowDefinition> def; // the last started application
    app::VemoViewController *c = nullptr;

    void TearDown() override;
    // The application started, and started up, with `cameras` as QUILLORA_VIRTUAL_CAMERAS (entries
    // "name|model|id[|modes]" separated by ";"), or without (the machine's cameras); an
    // application started before goes first.
    app::VemoViewController &start(const std::optional<QByteArray> &cameras);
    // The cameras listed from now on (for the next start, or a camera menu click).
    void setCameras(const QByteArray &cameras) { m_cameras.emplace("QUILLORA_VIRTUAL_CAMERAS", cameras); }
    // A virtual microphone (a test tone) as the sound input of applications started from now on.
    void withMicrophone() { m_microphone.emplace("QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"); }

    // "<camera menu> | <camera in use> | <stream> | <message over the picture>": the camera
    // items ("*" marks the checked one, a checked hidden one is "*name (hidden)"), the
    // camera's name or "no camera", "live", "stopped" or "-" without a session.
    std::string state() const;
    // Whether `frames` more frames reach the view.
    bool pictureMoves(quint64 frames = 3) const;
    // Whether a frame for photos has arrived.
    bool hasFrame() const;
    // Starts a movie and waits until `frames` pictures reached its file; false when they never did.
    bool recordPictures(quint64 frames);

private:
    std::optional<ScopedEnv> m_cameras;
    std::optional<ScopedEnv> m_microphone{std::in_place, "QUILLORA_VIRTUAL_MICROPHONE", ""};
};

} // namespace quillora::test
