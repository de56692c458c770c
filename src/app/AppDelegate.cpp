// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppDelegate.h"

namespace quillora::app {

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() { }

} // namespace quillora::app
