#pragma once
#include <QLoggingCategory>

// Diagnostics of the capture layer: off at info level unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
