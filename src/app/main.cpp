// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowDefinition.h"

int main(int argc, char **argv)
{
    return quillora::app::applicationMain(argc, argv);
}
