#include "VemoViewController.h"

namespace quillora::app {

// PLACEHOLDER(photos): freeze, rotation and photos land with the output layer.
void VemoViewController::previewClick(QObject *) {}
void VemoViewController::rotateClick(QObject *) {}
QImage VemoViewController::viewWillDisplayImage(capture::CaptureView *, const QImage &image)
{
    return image;
}
void VemoViewController::photoClick(QObject *) {}
void VemoViewController::snapshotByKey() {}
void VemoViewController::onTimer()
{
    gSnapshotBusy = false;
}

} // namespace quillora::app
