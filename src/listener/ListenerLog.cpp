#include "ListenerLog.h"

Q_LOGGING_CATEGORY(lcListener, "quillora.listener", QtWarningMsg)
