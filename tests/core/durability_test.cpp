// A replaced file must survive a power cut: its new bytes reach the disk
// before the rename puts them in place, and the folder is flushed after it,
// or the machine may come back with an empty or missing version file or
// program. A cut cannot be staged here, so the order of the calls is what
// is checked: the test program stands in for fsync and rename (the core is
// linked into it statically) and writes down each call before making it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/ini_file.h"
#include "core/program_swap.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string>* calls = nullptr;

std::string PathOf(int fd) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

}  // namespace

extern "C" int fsync(int fd) {
    if (calls != nullptr) calls->push_back("fsync " + PathOf(fd));
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int rename(const char* from, const char* to) {
    if (calls != nullptr) calls->push_back(std::string("rename ") + from + " " + to);
#ifdef SYS_renameat
    return static_cast<int>(::syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
#else
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
#endif
}

namespace {

class Durability : public ::testing::Test {
  protected:
    void SetUp() override { calls = &log_; }
    void TearDown() override { calls = nullptr; }

    // Each rename onto target comes after an fsync of the file it moves and
    // is followed by an fsync of the folder.
    void ExpectFlushedAround(const std::string& target) {
        int renames = 0;
        for (auto call = log_.begin(); call != log_.end(); ++call) {
            const auto space = call->rfind(' ');
            if (call->rfind("rename ", 0) != 0 || call->substr(space + 1) != target) continue;
            ++renames;
            const std::string from = "fsync " + call->substr(7, space - 7);
            EXPECT_NE(std::find(log_.begin(), call, from), call)
                << *call << " without its bytes flushed first";
            EXPECT_NE(std::find(call + 1, log_.end(), "fsync " + dir_.path().string()), log_.end())
                << *call << " without its folder flushed after";
        }
        EXPECT_GE(renames, 1) << "nothing was renamed onto " << target;
    }

    pelko::test::TempDir dir_;
    std::vector<std::string> log_;
};

// The version file written new and rewritten; the program kept and promoted.
TEST_F(Durability, VersionFileAndProgramReplaced) {
    const std::string ini = dir_.PathOf("update.ini");
    ASSERT_TRUE(pelko::ini::WriteIniValue(ini, "ver", "version", "1.2"));
    ASSERT_TRUE(pelko::ini::WriteIniValue(ini, "ver", "version", "1.3"));
    ExpectFlushedAround(ini);

    dir_.Put("Pelko", "old program");
    ASSERT_EQ(pelko::swap::CopyPrevious(dir_.path().string(), "Pelko"), "");
    ExpectFlushedAround(dir_.PathOf(pelko::swap::PreviousName("Pelko")));
    const std::string temporary = dir_.Put(".Pelko.new", "new program");
    const int fd = ::open(temporary.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    // The download control flushes what it fetched; the promotion then
    // makes the rename itself durable.
    fsync(fd);
    ::close(fd);
    ASSERT_EQ(pelko::swap::Promote(temporary, dir_.path().string(), "Pelko"), "");
    ExpectFlushedAround(dir_.PathOf("Pelko"));
}

}  // namespace
