// Stored texts to control states and back, including texts a hand-edited or foreign file may hold.
#include "SettingsMapping.h"

#include <gtest/gtest.h>

using namespace quillora::prefs;

namespace {

using Text = std::optional<QString>;

struct Mapping {
    const char *name;
    int (*load)(const Text &);
    QString (*save)(int);
    std::vector<std::pair<const char *, int>> loads; // stored text (nullptr: nothing) -> state
    std::vector<std::pair<int, const char *>> saves; // state (-1: no selection) -> stored text
};

class SettingsMapping : public ::testing::TestWithParam<Mapping> { };

// Every stored text selects the right state, and every state stores the right word.
TEST_P(SettingsMapping, BothWays)
{
    for (const auto &[text, state] : GetParam().loads)
        EXPECT_EQ(GetParam().load(text ? Text(QString::fromUtf8(text)) : std::nullopt), state)
            << (text ? text : "nothing");
    for (const auto &[state, text] : GetParam().saves)
        EXPECT_EQ(GetParam().save(state).toStdString(), text) << state;
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsMapping,
    ::testing::Values(Mapping{"VideoSize", videoSizeIndexForText, textForVideoSizeIndex,
                          {{"240", 0}, {"480", 1}, {"1024", 2}, {"720", 1}, {" 240", 1}, {nullptr, 1}},
                          {{0, "240"}, {1, "480"}, {2, "1024"}, {-1, "1024"}}},
        Mapping{"CaptureAudio", [](const Text &stored) { return int(captureAudioForText(stored)); },
            [](int on) { return textForCaptureAudio(on); },
            {{"no", 0}, {"yes", 1}, {"No", 1}, {"0", 1}, {"", 1}, {nullptr, 1}}, {{0, "no"}, {1, "yes"}}},
        Mapping{"Overwrite", overwriteRowForText, textForOverwriteRow,
            {{"yes", 0}, {"no", 1}, {"YES", 1}, {nullptr, 1}}, {{0, "yes"}, {1, "no"}, {-1, "no"}}},
        Mapping{"PhotoSize", photoSizeIndexForText, textForPhotoSizeIndex,
            {{"240", 0}, {"480", 1}, {"1024", 2}, {"1200", 3}, {"1536", 4}, {"2048", 1}, {nullptr, 1}},
            {{0, "240"}, {1, "480"}, {2, "1024"}, {3, "1200"}, {4, "1536"}, {-1, "1536"}}},
        Mapping{"PhotoFormat", photoFormatIndexForText, textForPhotoFormatIndex,
            {{"jpg", 0}, {"png", 1}, {"gif", 2}, {"tiff", 3}, {"PNG", 0}, {"tif", 0}, {nullptr, 0}},
            {{0, "jpg"}, {1, "png"}, {2, "gif"}, {3, "tiff"}, {-1, "jpg"}}}),
    [](const auto &param) { return std::string(param.param.name); });

// A folder text loads to the folder (a bare path literally, a file URL decoded) and saves back
// unchanged; anything that is no folder of this computer leaves the control alone.
TEST(SettingsLocations, LoadAndSaveBack)
{
    const std::pair<QString, std::string> cases[] = {{"/home/u/Desktop/", "/home/u/Desktop/ bare"},
        {"/home/Ann Lee/My Desktop/", "/home/Ann Lee/My Desktop/ bare"},
        {"/home/zoë/Schreibtisch ü/", "/home/zoë/Schreibtisch ü/ bare"},
        {"/home/u/a%20b/100%/", "/home/u/a%20b/100%/ bare"}, {"file:///home/u/Pictures/", "/home/u/Pictures/ file"},
        {"file:///home/Zo%C3%AB%20Q/100%25%20done/", "/home/Zoë Q/100% done/ file"},
        {"file:///home/a b/", "/home/a b/ file saved otherwise"}, {"", "none"}, {"http://[::1", "none"},
        {"http://example.com/photos/", "none"}, {"Desktop/", "none"}, {"\uFFFD\uFFFD", "none"}};
    for (const auto &[text, folder] : cases) {
        const auto url = locationForText(text);
        const QString kind = url && url->isLocalFile() ? " file" : url && url->scheme().isEmpty() ? " bare" : " other";
        EXPECT_EQ(url ? (url->path() + kind + (textForLocation(*url) == text ? "" : " saved otherwise")).toStdString()
                      : "none",
            folder);
    }
    const QUrl chosen = QUrl::fromLocalFile("/home/Zoë Q/100% done/"); // as the path control makes it
    EXPECT_EQ(textForLocation(chosen).toStdString(), "file:///home/Zo%C3%AB%20Q/100%25%20done/");
}

} // namespace
