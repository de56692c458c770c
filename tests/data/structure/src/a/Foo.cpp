// SPDX-License-Identifier: GPL-3.0-or-later
#include "Foo.h"

namespace fixture {

namespace {

int hidden()
{
    return 1; // in an anonymous namespace: needs no declaration
}

} // namespace

static int alsoHidden()
{
    return 2;
}

int declared(int a)
{
    const char *braces = "{ { {"; // braces in strings and characters do not count
    return a + braces[0] + '{' + 1'000 + hidden() + alsoHidden();
}

int undeclared(int b)
{
    return b;
}

struct Holder {
    void member() { }
};

} // namespace fixture
