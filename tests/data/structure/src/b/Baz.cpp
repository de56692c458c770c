// SPDX-License-Identifier: GPL-3.0-or-later
// Reaches into another folder's private header.
#include "Baz.h"
#include "../a/Foo_p.h"
