#include "CaptureLog.h"

Q_LOGGING_CATEGORY(lcCapture, "quillora.capture", QtWarningMsg)
