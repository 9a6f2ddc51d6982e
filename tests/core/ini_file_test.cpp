#include "core/ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using pelko::ini::ReadIniValue;
using pelko::ini::WriteIniValue;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A fresh folder per test, removed with everything in it afterwards.
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelko-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }
    static std::string Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        return names;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(IniFileTest, ReadsLikeTheProfileFunctions) {
    struct Case {
        std::string file;
        std::string want;  // "<default>" when the lookup must miss
    };
    const std::vector<Case> cases = {
        {"[ver]\nversion=1.2\n", "1.2"},
        {"[VER]\r\nVersion=1.2\r\n", "1.2"},
        {"  [ ver ] ; note\n\t version \t= \t1.2 \t\r\n", "1.2"},
        {"[ver]\nversion=a = b\n", "a = b"},
        {"[ver]\nversion=\n", ""},
        {"[ver]\nversion=\"1.0\"\n", "1.0"},
        {"[ver]\nversion='1.0'\n", "1.0"},
        {"[ver]\nversion=\"1.0\n", "\"1.0"},
        {"[ver]\nversion=\"\n", "\""},
        {"[ver]\nversion=1.0\0junk\n"s, "1.0"},
        {"[ver]\nversion", "<default>"},
        {"[ver]\nversion\nversion=2", "2"},
        {"[ver]\n;version=1\nversion=2", "2"},
        {"[ver]\nversion=1\nversion=2\n", "1"},
        {"[ver]\nother=1\n[ver]\nversion=2\n", "<default>"},
        {"[a]\nversion=1\n[ver]\n", "<default>"},
        {"version=1\n[ver]\n", "<default>"},
        {"[ver\nversion=1\n", "<default>"},
        {"[v\0er]\nversion=1\n"s, "<default>"},
        {"\xEF\xBB\xBF[ver]\r\nversion=3\r\n", "3"},
        {"\xEF\xBB\xBF", "<default>"},
        {"", "<default>"},
        {"\x00\xFF\xFE\x01\x02\n\x80\x80\x80\n[ver]\nversion=5"s, "5"},
        {"[ver]\nversion=\xE7\x89\x88\xE6\x9C\xAC 1\n", "\xE7\x89\x88\xE6\x9C\xAC 1"},
    };
    for (const auto& c : cases) {
        const std::string path = Put("up.ini", c.file);
        EXPECT_EQ(ReadIniValue(path, " ver ", "VERSION", "<default>"), c.want) << c.file;
    }
    // Letter case folds for ASCII only.
    Put("up.ini", "[\xC3\x84]\nk=1\n");
    EXPECT_EQ(ReadIniValue(PathOf("up.ini"), "\xC3\xA4", "k", "d"), "d");
    EXPECT_EQ(ReadIniValue(PathOf("up.ini"), "\xC3\x84", "K", "d"), "1");
}

TEST_F(IniFileTest, ByteGarbageNeverCrashesOrMatches) {
    std::string garbage;
    for (int round = 0; round < 64; ++round) {
        for (int b = 0; b < 256; ++b) garbage += static_cast<char>((b * 37 + round) & 0xFF);
    }
    EXPECT_EQ(ReadIniValue(Put("up.ini", garbage), "ver", "version", "d"), "d");
}

TEST_F(IniFileTest, MissingOrUnreadableFilesReadAsTheDefault) {
    EXPECT_EQ(ReadIniValue(PathOf("absent.ini"), "ver", "version", "d"), "d");
    EXPECT_EQ(ReadIniValue(dir_.string(), "ver", "version", "d"), "d");
    // A FIFO would block an ordinary open until a writer came along.
    ASSERT_EQ(::mkfifo(PathOf("fifo.ini").c_str(), 0600), 0);
    EXPECT_EQ(ReadIniValue(PathOf("fifo.ini"), "ver", "version", "d"), "d");
}

TEST_F(IniFileTest, ValueIsCutAt32766BytesOnACharacterBoundary) {
    std::string wide;
    for (int i = 0; i < 20000; ++i) wide += "\xE7\x94\xB5";
    const struct {
        std::string value;
        std::size_t want;
    } cases[] = {
        {std::string(32766, 'a'), 32766},
        {std::string(40000, 'a'), 32766},
        {"\"" + std::string(40000, 'a') + "\"", 32766},
        {"a" + wide, 32764},  // the byte limit falls inside a three-byte character
    };
    for (const auto& c : cases) {
        const std::string got =
            ReadIniValue(Put("up.ini", "[ver]\nversion=" + c.value), "ver", "version", "");
        EXPECT_EQ(got.size(), c.want);
        EXPECT_EQ(got, c.value.substr(c.value.front() == '"' ? 1 : 0, c.want));
    }
}

TEST_F(IniFileTest, HugeFileIsReadOnlyUpToTheCapAndNeverRewritten) {
    constexpr std::size_t cap = pelko::ini::kMaxFileBytes;
    const std::string path = Put("up.ini", "[ver]\nfirst=1\n");
    // A sparse 100 MB file: a key beyond the cap, and one whose line the cap cuts.
    const auto put_at = [&](std::size_t offset, const std::string& text) {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(offset));
        f << text;
    };
    put_at(cap - 9, "\ncut=12345678901234\n");
    put_at(2 * cap, "\nlate=1\n");
    fs::resize_file(path, 100u << 20);
    EXPECT_EQ(ReadIniValue(path, "ver", "first", "d"), "1");
    EXPECT_EQ(ReadIniValue(path, "ver", "cut", "d"), "d");
    EXPECT_EQ(ReadIniValue(path, "ver", "late", "d"), "d");

    std::string error;
    EXPECT_FALSE(WriteIniValue(path, "ver", "first", "2", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::file_size(path), 100u << 20);
    EXPECT_EQ(ReadIniValue(path, "ver", "first", "d"), "1");
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(IniFileTest, WriteChangesOnlyTheKeyAndKeepsEveryOtherByte) {
    struct Case {
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"; top\n[Other]\nversion=9\n\n[VER]\n  Version = 1.0  \nextra=x\n",
         "; top\n[Other]\nversion=9\n\n[VER]\n  Version = 2.0  \nextra=x\n"},
        {"[ver]\r\nversion=1\r\n[x]\r\na=b\r\n", "[ver]\r\nversion=2.0\r\n[x]\r\na=b\r\n"},
        {"[ver]\r\nversion=1", "[ver]\r\nversion=2.0"},
        {"\xEF\xBB\xBF[ver]\r\nversion=1\r\n", "\xEF\xBB\xBF[ver]\r\nversion=2.0\r\n"},
        {"[ver]\nversion=\n", "[ver]\nversion=2.0\n"},
        {"[ver]\r\nversion =   \r\n", "[ver]\r\nversion =2.0\r\n"},
        {"[ver]\nversion=1\0junk\n"s, "[ver]\nversion=2.0\n"},
        {"[ver]\nversion=\"1\"\n", "[ver]\nversion=2.0\n"},
        {"[ver]\nversion=1\nversion=1\n", "[ver]\nversion=2.0\nversion=1\n"},
        // The key is missing from its section: it goes after the section's last entry.
        {"[ver]\r\nother=1\r\n\r\n[x]\r\n", "[ver]\r\nother=1\r\nversion=2.0\r\n\r\n[x]\r\n"},
        {"[ver]\na=1\n; about x\n[x]\n", "[ver]\na=1\nversion=2.0\n; about x\n[x]\n"},
        {"[ver]\n; c\n", "[ver]\nversion=2.0\n; c\n"},
        {"[ver]\nversion\n", "[ver]\nversion\nversion=2.0\n"},
        {"[a]\nb=c\n[ver]", "[a]\nb=c\n[ver]\nversion=2.0"},
        {"[ver]\na=1\n[ver]\nversion=1\n", "[ver]\na=1\nversion=2.0\n[ver]\nversion=1\n"},
        // The section is missing: it goes at the end, in the file's line ending.
        {"[a]\nb=c\n", "[a]\nb=c\n[ver]\nversion=2.0\n"},
        {"[a]\r\nb=c", "[a]\r\nb=c\r\n[ver]\r\nversion=2.0"},
        {"[ver\n", "[ver\n[ver]\nversion=2.0\n"},
        {"", "[ver]\nversion=2.0\n"},
        {"\xEF\xBB\xBF", "\xEF\xBB\xBF[ver]\nversion=2.0\n"},
        {"\x00\xFF\n[ver]\nversion=1\n\x01\x02"s, "\x00\xFF\n[ver]\nversion=2.0\n\x01\x02"s},
    };
    for (const auto& c : cases) {
        const std::string path = Put("update.ini", c.before);
        std::string error;
        EXPECT_TRUE(WriteIniValue(path, "ver", "version", "2.0", &error)) << error;
        EXPECT_EQ(Bytes(path), c.after) << c.before;
        EXPECT_EQ(ReadIniValue(path, "ver", "version", "d"), "2.0") << c.before;
    }
    EXPECT_EQ(Entries(), std::vector<std::string>{"update.ini"});
}

TEST_F(IniFileTest, WriteCreatesTheFileAndKeepsModeAndLinks) {
    const mode_t old_mask = ::umask(022);
    EXPECT_TRUE(WriteIniValue(PathOf("new.ini"), "ver", "version", "\xE7\x89\x88 1"));
    ::umask(old_mask);
    EXPECT_EQ(Bytes(PathOf("new.ini")), "[ver]\nversion=\xE7\x89\x88 1\n");
    EXPECT_EQ(fs::status(PathOf("new.ini")).permissions(), fs::perms(0644));

    const std::string path = Put("update.ini", "[ver]\nversion=1\n");
    fs::permissions(path, fs::perms(0640));
    fs::create_symlink(path, PathOf("link.ini"));
    EXPECT_TRUE(WriteIniValue(PathOf("link.ini"), "ver", "version", "2"));
    EXPECT_TRUE(fs::is_symlink(PathOf("link.ini")));
    EXPECT_EQ(Bytes(path), "[ver]\nversion=2\n");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(Entries().size(), 3u);
}

TEST_F(IniFileTest, RefusedWritesLeaveTheFileAlone) {
    const std::string before = "[ver]\r\nversion=1\r\n";
    const std::string path = Put("update.ini", before);
    fs::create_directory(PathOf("folder.ini"));
    ASSERT_EQ(::mkfifo(PathOf("fifo.ini").c_str(), 0600), 0);
    fs::create_symlink(PathOf("gone.ini"), PathOf("dangling.ini"));
    const struct {
        std::string path, section, key, value;
    } cases[] = {
        {path, "", "version", "2"},
        {path, "ver", " ", "2"},
        {path, "v]er", "version", "2"},
        {path, "v\ner", "version", "2"},
        {path, "ver", "ver=sion", "2"},
        {path, "ver", ";version", "2"},
        {path, "ver", "[version", "2"},
        {path, "ver", "version", "2\r\n[x]"},
        {path, "ver", "version", "2\0"s},
        {PathOf("folder.ini"), "ver", "version", "2"},
        {PathOf("fifo.ini"), "ver", "version", "2"},
        {PathOf("dangling.ini"), "ver", "version", "2"},
        {PathOf("no-such-folder/update.ini"), "ver", "version", "2"},
        {PathOf("update.ini/update.ini"), "ver", "version", "2"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(WriteIniValue(c.path, c.section, c.key, c.value, &error)) << c.path;
        EXPECT_FALSE(error.empty()) << c.path;
    }
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(Entries().size(), 4u);
}

TEST_F(IniFileTest, FullDiskLeavesTheOldFileWholeAndNoTemporaryFile) {
    const std::string before = "[ver]\nversion=1\n" + std::string(1000, ';') + "\n";
    const std::string path = Put("update.ini", before);
    // A file size limit makes the write fail part way, as a full disk would.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = 4096;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string error;
    const bool written = WriteIniValue(path, "ver", "version", std::string(10000, '9'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(Entries(), std::vector<std::string>{"update.ini"});
}

TEST_F(IniFileTest, ReadOnlyFileStaysUnwritten) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    const std::string path = Put("update.ini", "[ver]\nversion=1\n");
    fs::permissions(path, fs::perms(0444));
    EXPECT_FALSE(WriteIniValue(path, "ver", "version", "2"));
    EXPECT_EQ(Bytes(path), "[ver]\nversion=1\n");
}
