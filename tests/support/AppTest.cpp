// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppTest.h"

#include "MovieFileOutput.h"
#include "SettingsMapping.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>

#include <iostream>

namespace quillora::test {

TemporaryHome::TemporaryHome()
    : m_home("HOME", QFile::encodeName(path()))
    , m_config("XDG_CONFIG_HOME", QFile::encodeName(configHome()))
{
    QDir().mkpath(path() + QStringLiteral("/Desktop"));
}

void TemporaryHome::writeStore(const QByteArray &contents) const
{
    QDir().mkpath(configHome() + QStringLiteral("/Quillora"));
    QFile file(storeFile());
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

QByteArray TemporaryHome::readStore() const
{
    QFile file(storeFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string TemporaryHome::stored(QStringList keys) const
{
    if (keys.isEmpty())
        for (QLatin1StringView key : prefs::kSettingsKeys)
            keys << QString(key);
    QProcess probe;
    probe.start(QStringLiteral(QUILLORA_STORE_PROBE), keys);
    EXPECT_TRUE(probe.waitForFinished(60000) && probe.exitCode() == 0);
    return probe.readAllStandardOutput().toStdString();
}

DesktopSpy::DesktopSpy()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
}

DesktopSpy::~DesktopSpy()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

QStringList DesktopSpy::opened() const
{
    std::lock_guard lock(m_mutex);
    return m_opened;
}

void DesktopSpy::open(const QUrl &url)
{
    std::lock_guard lock(m_mutex);
    m_opened << url.toLocalFile();
}

void AppTest::TearDown()
{
    // What the application said, to tell why a test failed.
    if (HasFailure())
        for (const QString &line : log.lines())
            std::cerr << "  log: " << line.toStdString() << '\n';
    def.reset();
    c = nullptr;
}

app::VemoViewController &AppTest::start(const std::optional<QByteArray> &cameras)
{
    def.reset();
    if (cameras)
        setCameras(*cameras);
    else
        m_cameras.reset(), qunsetenv("QUILLORA_VIRTUAL_CAMERAS");
    def = std::make_unique<app::WindowDefinition>(qApp);
    def->awake();
    c = def->controller();
    return *c;
}

std::string AppTest::state() const
{
    QStringList menu;
    for (QAction *item : testAccess(*c).mDevicesMenu()->actions())
        if (item->isCheckable() && (item->isVisible() || item->isChecked()))
            menu << (item->isChecked() ? "*" : "") + item->text() + (item->isVisible() ? "" : " (hidden)");
    const auto &session = testAccess(*c).mCaptureSession();
    const QString stream = !session ? "-" : session->isRunning() ? "live" : "stopped";
    const auto &camera = testAccess(*c).device();
    return (menu.join(", ") + " | " + (camera ? camera->localizedDisplayName() : "no camera") + " | " + stream + " | "
        + testAccess(*c).mMessages()->persistentMessage())
        .toStdString();
}

bool AppTest::pictureMoves(quint64 frames) const
{
    const quint64 shown = testAccess(*c).mCaptureView()->framesShown();
    return waitUntil([&] { return testAccess(*c).mCaptureView()->framesShown() >= shown + frames; });
}

bool AppTest::hasFrame() const
{
    return waitUntil([&] { return bool(c->currentFrame()); });
}

bool AppTest::recordPictures(quint64 frames)
{
    c->recordingClick(testAccess(*c).mRecordingButton());
    return testAccess(*c).recording() && waitUntil([&] {
        const auto &movie = testAccess(*c).mCaptureMovieFileOutput();
        return movie && movie->statistics().framesWritten >= frames;
    });
}

} // namespace quillora::test
