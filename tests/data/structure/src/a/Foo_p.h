// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Foo's private header: for Foo's own files alone.
namespace fixture {
inline int fooInside() { return 1; }
} // namespace fixture
