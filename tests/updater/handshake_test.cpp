#include "updater/Handshake.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "main/UpdateHandshake.h"
#include "tests/support/main_loop.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using pelko::UpdateHandshake;
using pelko::updater::Handshake;
using namespace std::chrono_literals;
using Outcome = Handshake::Outcome;

namespace {

class HandshakeTest : public ::testing::Test {
  protected:
    // A program that is a shell script with this body.
    std::string Program(const std::string& body) {
        const std::string path = dir_.Put("Pelko", "#!/bin/sh\n" + body + "\n");
        fs::permissions(path, fs::perms(0755));
        return path;
    }
    // Starts the program, runs `during` and then the main loop until the
    // outcome, at most 20 s.
    std::optional<std::pair<Outcome, std::string>> Run(
        Handshake& h, const std::string& program, std::chrono::seconds timeout = 10s,
        const std::function<void()>& during = [] {}) {
        std::optional<std::pair<Outcome, std::string>> result;
        h.Start(program, timeout,
                [&](Outcome o, std::string detail) { result.emplace(o, std::move(detail)); });
        during();
        pelko::test::Spin([&] { return result.has_value(); }, 20000);
        return result;
    }
    pelko::test::TempDir dir_;
};

// Every way a new program can come up or fail, as the updater tells them.
TEST_F(HandshakeTest, OutcomesOfANewProgram) {
    struct Case {
        const char* what;
        const char* body;  // nullptr: no program at all
        Outcome want;
        std::string detail;  // "?": any text
        std::chrono::seconds timeout = 10s;
    };
    const Case cases[] = {
        {"says up", "echo up >&\"$PELKO_HANDSHAKE_FD\"; sleep 1", Outcome::CameUp, ""},
        {"says up and ends at once", "echo up >&3", Outcome::CameUp, ""},
        {"exits well but says nothing", "exit 0", Outcome::Exited, "0"},
        {"crashes", "kill -SEGV $$", Outcome::Crashed, std::to_string(SIGSEGV)},
        {"stays silent", "exec sleep 30", Outcome::Silent, "", 1s},
        {"says something else", "echo upup >&3; exec sleep 30", Outcome::Silent, "", 1s},
        {"closes without a word", "exec 3>&-; exec sleep 30", Outcome::Silent, "", 1s},
        {"is missing", nullptr, Outcome::CannotStart, "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Handshake h;
        const auto result =
            Run(h, c.body ? Program(c.body) : dir_.PathOf("nothing here"), c.timeout);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->first, c.want);
        EXPECT_TRUE(c.detail == "?" ? !result->second.empty() : result->second == c.detail)
            << result->second;
        h.Kill();
    }
}

// The program gets its end of the socket as descriptor 3 and nothing else
// of the updater's; a silent one is gone once killed.
TEST_F(HandshakeTest, ProgramGetsItsSocketAloneAndASilentOneIsKilled) {
    ::setenv("PELKO_PAUSE_AT", "kept", 1);
    const std::string pid_file = dir_.PathOf("pid");
    std::string proc;
    Handshake h;
    const auto result = Run(h, Program("echo $$ > '" + pid_file + "'; exec sleep 30"), 1s, [&] {
        // Looked at while it runs, once it is the sleep: its descriptors and its environment.
        // The kernel names the new program a moment before it closes the
        // shell's descriptors that end with the exec, so those may be seen.
        const std::set<std::string> alone{"0", "1", "2", "3"};
        std::set<std::string> fds;
        for (int i = 0; i < 400 && fds != alone; ++i, g_usleep(20000)) {
            const std::string pid = dir_.Read(pid_file);
            proc =
                pid.empty() || pid.back() != '\n' ? "" : "/proc/" + pid.substr(0, pid.size() - 1);
            std::error_code ignored;
            if (proc.empty() || fs::read_symlink(proc + "/exe", ignored).filename() != "sleep")
                continue;
            fds.clear();
            for (const auto& e : fs::directory_iterator(proc + "/fd", ignored))
                fds.insert(e.path().filename());
        }
        ASSERT_FALSE(proc.empty());
        EXPECT_EQ(fds, alone);
        EXPECT_EQ(fs::read_symlink(proc + "/fd/3").string().rfind("socket:", 0), 0u);
        const std::string env = dir_.Read(proc + "/environ");
        EXPECT_NE(env.find(std::string("PELKO_HANDSHAKE_FD=3") + '\0'), std::string::npos);
        EXPECT_EQ(env.find("PELKO_PAUSE_AT="), std::string::npos);
    });
    ::unsetenv("PELKO_PAUSE_AT");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->first, Outcome::Silent);
    h.Kill();
    EXPECT_FALSE(proc.empty() || fs::exists(proc));
}

// Pelko's end: it answers once, only when both the window and the page
// are there, and only on a socket.
TEST(UpdateHandshakeTest, SaysUpOnceWhenShownAndRequested) {
    ASSERT_EQ(UpdateHandshake::FromEnvironment(), nullptr);  // not started by the updater
    // Started with the other end of a socket the updater holds.
    int ends[2];
    const auto started = [&ends] {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        ::setenv("PELKO_HANDSHAKE_FD", std::to_string(ends[1]).c_str(), 1);
        auto handshake = UpdateHandshake::FromEnvironment();
        EXPECT_EQ(::getenv("PELKO_HANDSHAKE_FD"), nullptr);
        return handshake;
    };
    for (const bool window_first : {true, false}) {
        SCOPED_TRACE(window_first ? "window first" : "page first");
        auto handshake = started();
        ASSERT_NE(handshake, nullptr);
        EXPECT_EQ(::fcntl(ends[1], F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        char buffer[8] = {};
        window_first ? handshake->WindowShown() : handshake->PageRequested();
        window_first ? handshake->WindowShown() : handshake->PageRequested();
        EXPECT_EQ(::recv(ends[0], buffer, sizeof buffer, MSG_DONTWAIT), -1);
        window_first ? handshake->PageRequested() : handshake->WindowShown();
        EXPECT_EQ(::recv(ends[0], buffer, sizeof buffer, 0), 3);
        EXPECT_EQ(std::string(buffer, 3), "up\n");
        handshake->WindowShown();
        EXPECT_EQ(::recv(ends[0], buffer, sizeof buffer, 0), 0);  // said once, then closed
        ::close(ends[0]);
    }
    // Anything but a socket is left alone: a mistaken number, a plain file.
    pelko::test::TempDir dir;
    const int file = ::open(dir.Put("f", "").c_str(), O_RDWR);
    for (const std::string& value :
         {std::to_string(file), std::string("3x"), std::string("-1"), std::string("")}) {
        ::setenv("PELKO_HANDSHAKE_FD", value.c_str(), 1);
        EXPECT_EQ(UpdateHandshake::FromEnvironment(), nullptr) << value;
        EXPECT_EQ(::getenv("PELKO_HANDSHAKE_FD"), nullptr);
    }
    ::close(file);
    // An updater gone before the answer costs no SIGPIPE.
    auto orphan = started();
    ASSERT_NE(orphan, nullptr);
    ::close(ends[0]);
    orphan->WindowShown();
    orphan->PageRequested();
}

}  // namespace
