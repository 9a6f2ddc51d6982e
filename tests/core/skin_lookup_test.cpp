#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/path_nocase.h"

namespace fs = std::filesystem;
using pelko::FindPathNoCase;

namespace {

// A fresh program folder per test, removed with everything in it afterwards.
class SkinLookupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelko-skinlookup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Put(const std::string& relative) const {
        const fs::path p = dir_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
        return p.string();
    }

    fs::path dir_;
};

}  // namespace

TEST_F(SkinLookupTest, FindsNamesWhateverTheirCase) {
    for (const char* name :
         {"wina.skn", "MediaPlayer9.Skn", "green.skn", "mac.Skn", "Studio.skn", "Blue.skn"}) {
        Put(std::string("Skins/") + name);
    }
    Put("Tools/Readme.TXT");
    Put("Skins/\xC3\x84pfel.skn");  // "Äpfel"
    struct Case {
        std::string asked;
        std::string want;  // relative to the folder
    };
    const std::vector<Case> cases = {
        {"/Skins/mac.skn", "Skins/mac.Skn"},
        {"/Skins/mac.Skn", "Skins/mac.Skn"},
        {"/SKINS/MAC.SKN", "Skins/mac.Skn"},
        {"/skins/mediaplayer9.skn", "Skins/MediaPlayer9.Skn"},
        {"/Skins/Blue.skn", "Skins/Blue.skn"},
        {"/tools/readme.txt", "Tools/Readme.TXT"},
        {"/Skins/", "Skins/"},
        // Only ASCII letters fold; the bytes of other characters must be equal.
        {"/skins/\xC3\x84PFEL.SKN", "Skins/\xC3\x84pfel.skn"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindPathNoCase(dir_.string() + c.asked), (dir_ / c.want).string()) << c.asked;
    }
}

TEST_F(SkinLookupTest, MissingNamesComeBackUnchanged) {
    Put("Skins/mac.Skn");
    Put("Skins/\xC3\x84pfel.skn");  // "Äpfel" does not match "äpfel"
    for (const std::string asked :
         {"/Skins/mac.skn2", "/Skins/none.skn", "/Skinz/mac.skn", "/Skins/mac.Skn/inner"}) {
        EXPECT_EQ(FindPathNoCase(dir_.string() + asked), dir_.string() + asked) << asked;
    }
    EXPECT_EQ(FindPathNoCase(""), "");
}

TEST_F(SkinLookupTest, ExactNameWinsThenTheFirstInByteOrder) {
    Put("Skins/MAC.SKN");
    Put("Skins/mac.skn");
    Put("Skins/Mac.Skn");
    EXPECT_EQ(FindPathNoCase(dir_.string() + "/Skins/mac.skn"), (dir_ / "Skins/mac.skn").string());
    EXPECT_EQ(FindPathNoCase(dir_.string() + "/Skins/Mac.Skn"), (dir_ / "Skins/Mac.Skn").string());
    EXPECT_EQ(FindPathNoCase(dir_.string() + "/Skins/mAC.sKN"), (dir_ / "Skins/MAC.SKN").string());
}
