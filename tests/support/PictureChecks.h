// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What tests look for in a picture shown or written.
#include <QImage>

#include <algorithm>
#include <string>
#include <vector>

namespace quillora::test {

// How many pixels the left edge of the darkest thin line in `row` (from x0 to x1) spans, from
// the first that is no longer paper (a tenth of the way to the line's darkest) to the darkest.
// `darkness` gets how far the line gets from the paper towards black (1: all the way), `profile`
// the greys looked at.
inline int edgeSpan(const QImage &image, int y, int x0, int x1, double *darkness, std::string *profile)
{
    std::vector<int> grey;
    for (int x = x0; x <= x1; ++x)
        grey.push_back(qGray(image.pixel(x, y)));
    const int paper = std::max(grey.front(), grey.back());
    const auto darkest = std::min_element(grey.begin(), grey.end());
    *darkness = double(paper - *darkest) / paper;
    const double high = paper - 0.1 * (paper - *darkest);
    int span = 1;
    for (auto it = darkest; it != grey.begin() && *(it - 1) < high; --it)
        ++span;
    profile->clear();
    for (const int g : grey)
        *profile += std::to_string(g) + ' ';
    return span;
}

} // namespace quillora::test
