// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every fuzz target shares: Qt's messages silenced (parsers log every bad input they skip,
// and printing them would slow the run a hundredfold), a Qt application object for the parsers
// that need one, and a private scratch folder on a memory file system.
#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillora::fuzz {

inline void quietQt()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// Made once, kept for the whole run.
inline QCoreApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    return *app;
}

// A folder of this process under /dev/shm (else the temporary folder): trees written for every
// input must not wear a disk or wait for one.
inline std::string scratchDir(const char *what)
{
    const char *base = QDir("/dev/shm").exists() ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/quillora-fuzz-" + what + "-" + std::to_string(::getpid());
    QDir().mkpath(QString::fromStdString(dir));
    static std::vector<std::string> made;
    if (made.empty())
        std::atexit([] {
            for (const std::string &path : made)
                QDir(QString::fromStdString(path)).removeRecursively();
        });
    made.push_back(dir);
    return dir;
}

// Stops the run as a finding, with the reason; libFuzzer keeps the input.
[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

} // namespace quillora::fuzz
