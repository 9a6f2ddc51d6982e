#include "core/program_swap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace pelko;

namespace {

class ProgramSwap : public ::testing::Test {
  protected:
    std::string folder() const { return dir_.path().string(); }
    ino_t Inode(const std::string& name) const {
        struct stat st {};
        return ::stat(dir_.PathOf(name).c_str(), &st) == 0 ? st.st_ino : 0;
    }
    pelko::test::TempDir dir_;
};

TEST(ProgramSwapNames, TemporaryFilesAreTellable) {
    EXPECT_TRUE(swap::IsTemporaryOf(".Pelko.a1B2c3", "Pelko"));
    EXPECT_TRUE(swap::IsTemporaryOf(".Pelko.old.Zz09xy", "Pelko"));
    // Nothing else of the folder's is taken for one: other programs'
    // transfers, the previous program, look-alikes.
    for (const char* other :
         {".up.ini.a1B2c3", "Pelko", "Pelko.old", ".Pelko.a1B2c", ".Pelko.a1B2c34", ".Pelko.a1-2c3",
          "x.Pelko.a1B2c3", ".PelkoUpdate.a1B2c3", ".Pelko..a1B2c"}) {
        EXPECT_FALSE(swap::IsTemporaryOf(other, "Pelko")) << other;
    }
    EXPECT_EQ(swap::TemporaryTemplate("/opt/tv", "Pelko"), "/opt/tv/.Pelko.XXXXXX");
}

// The whole round: keep, promote, then either discard or restore. At every
// step the program's name holds a whole file. Nothing to keep is no
// failure; nothing to restore or promote is. The previous file is a second
// name of the same file (nothing copied, nothing moved) or, where hard links
// are not to be had, a copy of its bytes and mode.
TEST_F(ProgramSwap, KeepPromoteThenDiscardOrRestore) {
    EXPECT_EQ(swap::KeepPrevious(folder(), "Pelko"), "");
    EXPECT_TRUE(dir_.Names().empty());
    EXPECT_NE(swap::RestorePrevious(folder(), "Pelko"), "");
    EXPECT_NE(swap::Promote(dir_.PathOf(".Pelko.gone00"), folder(), "Pelko"), "");
    std::string old(300 * 1024 + 7, '\0');  // more than one read, and not a multiple of it
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 31 + i / 997);
    for (const auto& [copy, restore] : {std::pair{false, false}, {false, true}, {true, false}}) {
        SCOPED_TRACE(std::string(copy ? "copied" : "linked") + (restore ? ", restored" : ""));
        dir_.Put("Pelko", old);
        fs::permissions(dir_.PathOf("Pelko"), fs::perms(0750));
        dir_.Put("Pelko.old", "older still");  // a previous update's
        const std::string fresh = dir_.Put(".Pelko.abc123", "new");

        ASSERT_EQ(
            copy ? swap::CopyPrevious(folder(), "Pelko") : swap::KeepPrevious(folder(), "Pelko"),
            "");
        EXPECT_EQ(Inode("Pelko.old") == Inode("Pelko"), !copy);
        EXPECT_TRUE(dir_.Read("Pelko") == old);
        EXPECT_EQ(dir_.Names(), (std::set<std::string>{"Pelko", "Pelko.old", ".Pelko.abc123"}));
        EXPECT_TRUE(swap::HasPrevious(folder(), "Pelko"));

        ASSERT_EQ(swap::Promote(fresh, folder(), "Pelko"), "");
        EXPECT_EQ(dir_.Read("Pelko"), "new");
        EXPECT_TRUE(dir_.Read("Pelko.old") == old);
        EXPECT_EQ(fs::status(dir_.PathOf("Pelko.old")).permissions(), fs::perms(0750));

        if (restore) {
            ASSERT_EQ(swap::RestorePrevious(folder(), "Pelko"), "");
            EXPECT_TRUE(dir_.Read("Pelko") == old);
        } else {
            ASSERT_EQ(swap::DiscardPrevious(folder(), "Pelko"), "");
            EXPECT_EQ(dir_.Read("Pelko"), "new");
        }
        EXPECT_EQ(dir_.Names(), std::set<std::string>{"Pelko"});
        EXPECT_FALSE(swap::HasPrevious(folder(), "Pelko"));
        EXPECT_EQ(swap::DiscardPrevious(folder(), "Pelko"), "");  // nothing left to remove
    }
}

// What a killed update leaves, and what the next run keeps of it: never a
// temporary file of ours, always another program's.
TEST_F(ProgramSwap, CleanUpKeepsTheOnlyGoodProgram) {
    const struct {
        const char* what;
        bool linked;  // the previous file is the program file itself
        bool program_present;
        bool previous_unneeded;  // the program in place has been seen running
        bool previous_kept;
        const char* program;  // what the program's name then holds
    } cases[] = {
        {"killed between keeping and promoting", true, true, false, false, "old"},
        {"killed before the new one answered", false, true, false, true, "new"},
        {"started by a program that ran", false, true, true, false, "new"},
        {"program file removed by hand", false, false, true, false, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_.path());
        fs::create_directory(dir_.path());
        dir_.Put("Pelko.old", "old");
        if (c.linked) {
            fs::create_hard_link(dir_.PathOf("Pelko.old"), dir_.PathOf("Pelko"));
        } else if (c.program_present) {
            dir_.Put("Pelko", "new");
        }
        dir_.Put(".Pelko.a1B2c3", "half a download");
        dir_.Put(".Pelko.old.x9Y8z7", "half a copy");
        dir_.Put(".up.ini.Q1w2E3", "another program's transfer");
        swap::CleanUp(folder(), "Pelko", c.previous_unneeded);
        std::set<std::string> left{"Pelko", ".up.ini.Q1w2E3"};
        if (c.previous_kept) left.insert("Pelko.old");
        EXPECT_EQ(dir_.Names(), left);
        EXPECT_EQ(dir_.Read("Pelko"), c.program);
    }
}

}  // namespace
