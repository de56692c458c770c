// SPDX-License-Identifier: GPL-3.0-or-later
#include "UsbLog.h"

Q_LOGGING_CATEGORY(lcUsb, "quillora.usb", QtWarningMsg)
