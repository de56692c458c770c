// SPDX-License-Identifier: GPL-3.0-or-later
#include "VemoViewController.h"

#include "ListenerThread.h"
#include "WebcamProcessor.h"

#include <QCoreApplication>

namespace quillora::app {

namespace {

// The controller as the listener sees it: whom a press of the camera's button asks for a photo.
class ControllerSnapshotTarget final : public listener::SnapshotTarget {
public:
    explicit ControllerSnapshotTarget(VemoViewController *controller)
        : m_controller(controller)
    {
    }
    void snapshotByKey() override { m_controller->snapshotByKey(); }

private:
    VemoViewController *m_controller;
};

} // namespace

void VemoViewController::startSnapshotListener()
{
    // The variant follows the camera chosen at start-up; the thread runs whether or not there
    // is a camera, and finds cameras of its product by itself after its wait.
    const bool quillora = quilloraDevice;
    auto target = std::make_shared<ControllerSnapshotTarget>(this);
    auto thread = std::make_unique<listener::ListenerThread>([quillora, target] {
        if (quillora)
            listener::WebcamProcessor::registerListenerQuillora(target.get());
        else
            listener::WebcamProcessor::registerListener(target.get());
    });
    thread->startListening();
    mSnapshotListener = std::move(thread);
    // At quit the thread ends before the windows are torn down.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { mSnapshotListener.reset(); });
}

} // namespace quillora::app
