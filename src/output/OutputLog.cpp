// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputLog.h"

Q_LOGGING_CATEGORY(lcOutput, "quillora.output", QtWarningMsg)
