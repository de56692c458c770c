#include "AppDelegate.h"

namespace quillora::app {

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() { }

} // namespace quillora::app
