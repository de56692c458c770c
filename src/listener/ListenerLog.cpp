// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenerLog.h"

Q_LOGGING_CATEGORY(lcListener, "quillora.listener", QtWarningMsg)
