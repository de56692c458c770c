// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A component that includes Bar.h, whose source includes Foo.h back: an include cycle.
#include "Bar.h"

namespace fixture {

int declared(int a);

} // namespace fixture
