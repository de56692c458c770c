// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sizes the preferences offer, each written once: the entry's place in its popup, the word
// the settings file keeps for it, and its pixels. The settings mapping, the photo and frame
// sizes and the movie presets all read these tables; the popups' own texts (the .ui files) are
// checked against them by the tests.
#include <QLatin1StringView>
#include <QSize>

#include <array>
#include <cstddef>

namespace quillora {

struct PhotoSizeEntry {
    QLatin1StringView word; // the stored text: the frame height
    QSize pixels;           // photo and decoded-frame size, unturned
};

struct MovieSizeEntry {
    QLatin1StringView word; // the stored text
    QSize offered;          // the size the popup names
    QSize recorded;         // the box the movie is compressed into
};

inline constexpr std::array<PhotoSizeEntry, 5> kPhotoSizes{{
    {QLatin1StringView("240"), QSize(320, 240)},
    {QLatin1StringView("480"), QSize(640, 480)},
    {QLatin1StringView("1024"), QSize(1280, 1024)},
    {QLatin1StringView("1200"), QSize(1600, 1200)},
    {QLatin1StringView("1536"), QSize(2048, 1536)},
}};

// The third entry is kept as the settings file has always stored it, but movies of it are
// recorded at 640 x 480 like the second.
inline constexpr std::array<MovieSizeEntry, 3> kMovieSizes{{
    {QLatin1StringView("240"), QSize(320, 240), QSize(320, 240)},
    {QLatin1StringView("480"), QSize(640, 480), QSize(640, 480)},
    {QLatin1StringView("1024"), QSize(1280, 1024), QSize(640, 480)},
}};

// The entry a stored text that names none (or nothing stored) selects: 640 x 480 in both.
inline constexpr int kDefaultSizeIndex = 1;

// The entry of a popup index. No selection (-1) and any index past the end mean the last,
// largest entry: that is what a popup without a selection has always stood for.
template <typename Entry, std::size_t N>
constexpr const Entry &sizeEntryForIndex(const std::array<Entry, N> &table, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < N ? table[static_cast<std::size_t>(index)] : table.back();
}

// The index of the entry keeping `word`, or kDefaultSizeIndex when none does. Compared exactly.
template <typename Entry, std::size_t N, typename Text>
int sizeIndexForWord(const std::array<Entry, N> &table, const Text &word)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (word == table[i].word)
            return static_cast<int>(i);
    }
    return kDefaultSizeIndex;
}

} // namespace quillora
