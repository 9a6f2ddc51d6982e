#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/path_nocase.h"
#include "tests/support/temp_dir.h"

using pelko::FindPathNoCase;

TEST(SkinLookup, MatchesNamesWhateverTheirCase) {
    const pelko::test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "Skins");
    for (const char* name : {"Skins/mac.Skn", "Skins/MediaPlayer9.Skn", "Skins/\xC3\x84pfel.skn",
                             "Skins/X.SKN", "Skins/x.skn", "Skins/x.Skn"}) {
        dir.Put(name, "x");
    }
    const std::string root = dir.path().string();
    // Asked for and found, both relative to the folder.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/Skins/mac.skn", "/Skins/mac.Skn"},
        {"/SKINS/MAC.SKN", "/Skins/mac.Skn"},
        {"/skins/mediaplayer9.skn", "/Skins/MediaPlayer9.Skn"},
        // Only ASCII letters fold ("Ä" is not "ä"); the other bytes must be equal.
        {"/skins/\xC3\x84PFEL.SKN", "/Skins/\xC3\x84pfel.skn"},
        {"/Skins/\xC3\xA4pfel.skn", "/Skins/\xC3\xA4pfel.skn"},
        // An exact name wins, then the first in byte order.
        {"/Skins/x.Skn", "/Skins/x.Skn"},
        {"/Skins/x.skn", "/Skins/x.skn"},
        {"/Skins/X.sKN", "/Skins/X.SKN"},
        // What no entry matches comes back as asked.
        {"/Skins/mac.skn2", "/Skins/mac.skn2"},
        {"/Skinz/mac.skn", "/Skinz/mac.skn"},
        {"/Skins/mac.Skn/inner", "/Skins/mac.Skn/inner"},
    };
    for (const auto& [asked, want] : cases) {
        EXPECT_EQ(FindPathNoCase(root + asked), root + want) << asked;
    }
    EXPECT_EQ(FindPathNoCase(""), "");
}
