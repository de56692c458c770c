// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the emulated camera's description for umockdev-run (--device): the end-to-end scripts
// run the program with the same camera the tests use. Usage: camera_on_port42 [BUTTON_EVENT_NUMBER]
// With "press" instead, prints one press and release of its button as a line of umockdev's
// device scripts (--script), for a script to hand to the program when it chooses.
#include "CameraOnPort42.h"

#include <linux/input.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// umockdev's script quoting: control bytes as ^ and the byte plus 64, ^ itself as ^`.
std::string quoted(const unsigned char *data, std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 32) {
            out += '^';
            out += char(data[i] + 64);
        } else if (data[i] == '^') {
            out += "^`";
        } else {
            out += char(data[i]);
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "press") == 0) {
        input_event events[4]{};
        for (int i = 0; i < 2; ++i) {
            events[2 * i] = input_event{{}, EV_KEY, KEY_CAMERA, 1 - i};
            events[2 * i + 1] = input_event{{}, EV_SYN, SYN_REPORT, 0};
        }
        // One read of the device gives the whole press: no delay, all four events at once.
        std::printf("r 0 %s\n", quoted(reinterpret_cast<const unsigned char *>(events), sizeof events).c_str());
        return 0;
    }
    quillora::test::CameraOnPort42 camera;
    camera.button = argc > 1 ? std::atoi(argv[1]) : 7;
    std::fputs(camera.describe().c_str(), stdout);
    return 0;
}
