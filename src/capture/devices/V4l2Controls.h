// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A V4L2 camera's controls, asked of its node with the kernel's own interface:
// VIDIOC_QUERY_EXT_CTRL with V4L2_CTRL_FLAG_NEXT_CTRL to list them, VIDIOC_QUERYMENU for the
// entries of a menu, VIDIOC_G_EXT_CTRLS and VIDIOC_S_EXT_CTRLS for their values.
#include "CameraControls.h"
#include "UniqueFd.h"

#include <functional>

namespace quillora::capture {

class V4l2Controls : public CameraControls {
public:
    // How a request reaches the driver: ioctl(2) on the node, -1 with errno set on failure. A
    // fuzz target hands in a driver of its own.
    using Request = std::function<int(unsigned long request, void *argument)>;

    // The node at `devicePath`, opened for as long as the object lives. Nothing, with the
    // reason in `error`, when it cannot be opened.
    static std::unique_ptr<V4l2Controls> open(const QString &devicePath, QString *error);
    V4l2Controls(Request request, QString devicePath);

    std::vector<CameraControl> list(QString *error) override;
    ControlWriteResult write(std::uint32_t id, std::int64_t value) override;

private:
    std::vector<ControlMenuEntry> menuOf(const CameraControl &control);
    std::optional<std::int64_t> readValue(std::uint32_t id, int *error);

    UniqueFd m_fd; // the node, when this object opened it
    Request m_request;
    QString m_devicePath;
    // A menu's entries do not change while the camera is attached; asked once per control.
    std::vector<std::pair<std::uint32_t, std::vector<ControlMenuEntry>>> m_menus;
};

} // namespace quillora::capture
