#include "PrefsLog.h"

Q_LOGGING_CATEGORY(lcPrefs, "quillora.prefs", QtWarningMsg)
