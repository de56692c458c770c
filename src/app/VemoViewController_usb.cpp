#include "VemoViewController.h"

namespace quillora::usb {
struct DevRequest {};
} // namespace quillora::usb

namespace quillora::app {

// PLACEHOLDER(usb): the USB host layer brings these.
VemoViewController *VemoViewController::initCameraInterfaceWithLocationID(std::uint32_t)
{
    return this;
}
std::shared_ptr<usb::UsbInterface>
VemoViewController::getControlInferaceWithDeviceInterface(const std::shared_ptr<usb::UsbDevice> &)
{
    return nullptr;
}
void VemoViewController::focusClick(QObject *) {}
void VemoViewController::setRegister(std::uint16_t, std::uint16_t) {}
bool VemoViewController::setData(std::intptr_t, std::int32_t, std::int32_t, std::int32_t)
{
    return false;
}
bool VemoViewController::sendControlRequest(usb::DevRequest)
{
    return false;
}

} // namespace quillora::app
