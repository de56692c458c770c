#include "VemoViewController.h"

namespace quillora::app {

// PLACEHOLDER(listener): the snapshot-button listener thread starts here.
void VemoViewController::startSnapshotListener() {}

} // namespace quillora::app
