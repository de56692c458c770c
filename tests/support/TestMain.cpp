// SPDX-License-Identifier: GPL-3.0-or-later
// One QApplication for the whole test program, offscreen, so widgets, timers and queued calls
// work in every test.
#include <gtest/gtest.h>

#include <QApplication>

#include <gst/gst.h>

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // GStreamer's leak tracer lists what is still alive when the library is shut down: under
    // it, the test ends with that shutdown, so an object a test left behind is reported.
    if (qEnvironmentVariable("GST_TRACERS").contains(QLatin1String("leaks")) && gst_is_initialized())
        gst_deinit();
    return result;
}
