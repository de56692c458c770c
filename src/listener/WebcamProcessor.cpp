#include "WebcamProcessor.h"

namespace quillora::listener {

void WebcamProcessor::killListener() { }

void WebcamProcessor::unkillListener() { }

} // namespace quillora::listener
