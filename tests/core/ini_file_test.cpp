#include "core/ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/temp_dir.h"

using pelko::ini::ReadIniValue;
using pelko::ini::WriteIniValue;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    pelko::test::TempDir dir_;
};

}  // namespace

TEST_F(IniFileTest, ReadsLikeTheProfileFunctionsAndNeverCrashes) {
    std::string garbage;
    for (int i = 0; i < 64 * 256; ++i) garbage += static_cast<char>((i * 37 + i / 256) & 0xFF);
    std::string wide = "a";
    for (int i = 0; i < 20000; ++i) wide += "\xE7\x94\xB5";
    // Only the first kMaxFileBytes are read: what lies beyond, and a line the
    // cap cuts, read as absent. The next line starts `before` bytes short of the cap.
    const auto up_to_cap = [](std::size_t before) {
        return "[ver]\n" + std::string(pelko::ini::kMaxFileBytes - before - 7, ';') + "\n";
    };
    const struct {
        std::string file;
        std::string want;  // "<default>" when the lookup must miss
    } cases[] = {
        {"[VER]\r\nVersion=1.2\r\n", "1.2"},
        {"  [ ver ] ; note\n\t version \t= \t1.2 \t\r\n", "1.2"},
        {"[ver]\nversion=a = b\n", "a = b"},
        {"[ver]\nversion=\"1.0\"\n", "1.0"},
        {"[ver]\nversion=1.0\0junk\n"s, "1.0"},
        {"[ver]\n;version=1\nversion\nversion=2\nversion=3", "2"},
        {"[a]\nversion=1\n[ver]\nother=1\n", "<default>"},
        {"version=1\n[ver\n", "<default>"},
        {"", "<default>"},
        {"\xEF\xBB\xBF[ver]\r\nversion=3\r\n", "3"},
        {"\x00\xFF\xFE\x01\x02\n\x80\x80\x80\n[ver]\nversion=5"s, "5"},
        {garbage, "<default>"},
        // Values are cut at 32766 bytes, never inside a character.
        {"[ver]\nversion=" + std::string(40000, 'a'), std::string(32766, 'a')},
        {"[ver]\nversion=" + wide, wide.substr(0, 32764)},
        {up_to_cap(12) + "version=12345678\n", "<default>"},
        {up_to_cap(0) + "version=1\n", "<default>"},
        {"[ver]\nversion=1\n" + up_to_cap(0) + up_to_cap(0), "1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadIniValue(dir_.Put("up.ini", c.file), " ver ", "VERSION", "<default>"), c.want)
            << c.file.substr(0, 80);
    }
}

// Every other byte stays as it was. The reader takes blanks and one pair of
// quotes off a value. Written bare, such a value came back changed: a version
// recorded as "'1.3'" read as 1.3, which the service's "'1.3'" is newer than,
// so every start offered the update that had just been installed.
TEST_F(IniFileTest, WriteChangesOnlyTheKeyAndReadsBackAsWritten) {
    const std::string path = dir_.PathOf("update.ini");
    for (const std::string value :
         {"'1.3'", "\"1.3\"", " 1.3", "1.3\t", "\"", "'x", "\"\"", "a b"}) {
        ASSERT_TRUE(WriteIniValue(path, "ver", "version", value)) << value;
        EXPECT_EQ(ReadIniValue(path, "ver", "version", "absent"), value);
    }
    const struct {
        std::string before;
        std::string after;
        std::string value = "2.0";
    } cases[] = {
        {"; top\n[Other]\nversion=9\n\n[VER]\n  Version = 1.0  \nextra=x\n",
         "; top\n[Other]\nversion=9\n\n[VER]\n  Version = 2.0  \nextra=x\n"},
        {"[ver]\r\nversion=1\r\n[x]\r\na=b\r\n", "[ver]\r\nversion=2.0\r\n[x]\r\na=b\r\n"},
        {"[ver]\r\nversion=1", "[ver]\r\nversion=2.0"},
        {"\xEF\xBB\xBF[ver]\nversion=1\0junk\n"s, "\xEF\xBB\xBF[ver]\nversion=2.0\n"},
        // A missing key goes after its section's last entry.
        {"[ver]\r\nother=1\r\n\r\n[x]\r\n", "[ver]\r\nother=1\r\nversion=2.0\r\n\r\n[x]\r\n"},
        {"[ver]\na=1\n; about x\n[x]\n", "[ver]\na=1\nversion=2.0\n; about x\n[x]\n"},
        // A missing section goes at the end, in the file's line ending.
        {"[a]\nb=c\n", "[a]\nb=c\n[ver]\nversion=2.0\n"},
        {"[a]\r\nb=c", "[a]\r\nb=c\r\n[ver]\r\nversion=2.0"},
        // A file that ends in a CR alone: the new line must not join the last one.
        {"[ver]\r", "[ver]\r\nversion=2.0"},
        {"[ver]\nother=1\r", "[ver]\nother=1\r\nversion=2.0"},
        {"", "[ver]\nversion=2.0\n"},
        // Emptying a value kept the blanks that followed the old one, which the
        // next write of the same empty value took away: two writes, two files.
        {"[ver]\nversion = 1.3  \n", "[ver]\nversion =\n", ""},
        {"[ver]\nversion =\n", "[ver]\nversion =\n", ""},
        {"\x00\xFF\n[ver]\nversion=1\n\x01\x02"s, "\x00\xFF\n[ver]\nversion=2.0\n\x01\x02"s},
    };
    for (const auto& c : cases) {
        dir_.Put("update.ini", c.before);
        std::string error;
        EXPECT_TRUE(WriteIniValue(path, "ver", "version", c.value, &error)) << error;
        EXPECT_EQ(dir_.Read(path), c.after) << c.before;
    }
    // The replacement keeps the file's mode, and a link stays a link.
    fs::permissions(dir_.PathOf("update.ini"), fs::perms(0640));
    fs::create_symlink(dir_.PathOf("update.ini"), dir_.PathOf("link.ini"));
    EXPECT_TRUE(WriteIniValue(dir_.PathOf("link.ini"), "ver", "version", "3"));
    EXPECT_TRUE(fs::is_symlink(dir_.PathOf("link.ini")));
    EXPECT_EQ(dir_.Read("update.ini"), "\x00\xFF\n[ver]\nversion=3\n\x01\x02"s);
    EXPECT_EQ(fs::status(dir_.PathOf("update.ini")).permissions(), fs::perms(0640));
    EXPECT_EQ(dir_.Names(), (std::set<std::string>{"link.ini", "update.ini"}));
}

// Refused before anything is written, or failing part way as on a full
// disk: either way the old file stays whole and no temporary file is left.
TEST_F(IniFileTest, RefusedOrFailedWritesLeaveTheFileAlone) {
    // A file over the cap is never rewritten: a rewrite must keep every byte.
    const std::string huge = dir_.Put("huge.ini", "[ver]\nversion=1\n");
    fs::resize_file(huge, 100u << 20);  // sparse
    std::string error;
    EXPECT_FALSE(WriteIniValue(huge, "ver", "version", "2", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::file_size(huge), 100u << 20);

    const std::string before = "[ver]\r\nversion=1\r\n" + std::string(1000, ';') + "\n";
    const std::string path = dir_.Put("update.ini", before);
    ASSERT_EQ(::mkfifo(dir_.PathOf("fifo.ini").c_str(), 0600), 0);
    const struct {
        std::string path, section, key, value;
    } cases[] = {
        {path, "v]er", "version", "2"},
        {path, "ver", "version", "2\r\n[x]"},
        {dir_.path().string(), "ver", "version", "2"},
        {dir_.PathOf("fifo.ini"), "ver", "version", "2"},
        {dir_.PathOf("no-such-folder/update.ini"), "ver", "version", "2"},
        {path, "ver", "version", std::string(10000, '9')},  // over the file size limit below
    };
    // The limit makes a long write fail part way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit limit{4096, saved.rlim_max};
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    for (const auto& c : cases) {
        error.clear();
        EXPECT_FALSE(WriteIniValue(c.path, c.section, c.key, c.value, &error)) << c.path;
        EXPECT_FALSE(error.empty()) << c.path;
        // Nor is a folder, a FIFO (which would block an ordinary open) or a missing file read.
        EXPECT_TRUE(c.path == path || ReadIniValue(c.path, "ver", "version", "d") == "d");
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(dir_.Read(path), before);
    EXPECT_EQ(dir_.Names(), (std::set<std::string>{"fifo.ini", "huge.ini", "update.ini"}));
}
