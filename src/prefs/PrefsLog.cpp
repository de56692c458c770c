// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsLog.h"

Q_LOGGING_CATEGORY(lcPrefs, "quillora.prefs", QtWarningMsg)
