// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the emulated camera's description for umockdev-run (--device): the end-to-end scripts
// run the program with the same camera the tests use. Usage: camera_on_port42 [BUTTON_EVENT_NUMBER]
#include "CameraOnPort42.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    quillora::test::CameraOnPort42 camera;
    camera.button = argc > 1 ? std::atoi(argv[1]) : 7;
    std::fputs(camera.describe().c_str(), stdout);
    return 0;
}
