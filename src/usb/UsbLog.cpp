#include "UsbLog.h"

Q_LOGGING_CATEGORY(lcUsb, "quillora.usb", QtWarningMsg)
