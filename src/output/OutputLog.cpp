#include "OutputLog.h"

Q_LOGGING_CATEGORY(lcOutput, "quillora.output", QtWarningMsg)
