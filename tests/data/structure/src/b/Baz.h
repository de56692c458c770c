// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Uses a header of c/, whose Three.h uses one of b/ back: a cycle between the folders.
#include "../c/Two.h"
