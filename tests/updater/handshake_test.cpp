#include "updater/Handshake.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>

#include "main/UpdateHandshake.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using pelko::UpdateHandshake;
using pelko::updater::Handshake;
using namespace std::chrono_literals;
using Outcome = Handshake::Outcome;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

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
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        h.Start(program, timeout, [&](Outcome o, std::string detail) {
            result.emplace(o, std::move(detail));
            g_main_loop_quit(loop);
        });
        during();
        const guint guard = g_timeout_add_seconds(
            20, [](gpointer l) { return g_main_loop_quit(static_cast<GMainLoop*>(l)), FALSE; },
            loop);
        if (!result) g_main_loop_run(loop);
        if (result) g_source_remove(guard);
        g_main_loop_unref(loop);
        return result;
    }
    pelko::test::TempDir dir_;
};

// Every way a new program can come up or fail, as the updater tells them.
TEST_F(HandshakeTest, OutcomesOfANewProgram) {
    struct Case {
        const char* what;
        std::string body;
        Outcome want;
        std::string detail;
        std::chrono::seconds timeout = 10s;
    };
    const Case cases[] = {
        {"says up", "echo up >&\"$PELKO_HANDSHAKE_FD\"; sleep 1", Outcome::CameUp, ""},
        {"says up and ends at once", "echo up >&3", Outcome::CameUp, ""},
        {"exits", "exit 3", Outcome::Exited, "3"},
        {"exits well but says nothing", "exit 0", Outcome::Exited, "0"},
        {"crashes", "kill -SEGV $$", Outcome::Crashed, std::to_string(SIGSEGV)},
        {"stays silent", "exec sleep 30", Outcome::Silent, "", 1s},
        {"says something else", "echo upup >&3; exec sleep 30", Outcome::Silent, "", 1s},
        {"closes without a word", "exec 3>&-; exec sleep 30", Outcome::Silent, "", 1s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Handshake h;
        const auto result = Run(h, Program(c.body), c.timeout);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->first, c.want);
        EXPECT_EQ(result->second, c.detail);
        h.Kill();
    }
    Handshake h;
    const auto missing = Run(h, dir_.PathOf("nothing here"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->first, Outcome::CannotStart);
    EXPECT_FALSE(missing->second.empty());
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
        for (int i = 0; i < 400; ++i, g_usleep(20000)) {
            const std::string pid = ReadFile(pid_file);
            proc = pid.empty() || pid.back() != '\n' ? "" : "/proc/" + pid.substr(0, pid.size() - 1);
            std::error_code ignored;
            if (!proc.empty() && fs::read_symlink(proc + "/exe", ignored).filename() == "sleep") break;
        }
        ASSERT_FALSE(proc.empty());
        std::set<std::string> fds;
        for (const auto& e : fs::directory_iterator(proc + "/fd")) fds.insert(e.path().filename());
        EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2", "3"}));
        EXPECT_EQ(fs::read_symlink(proc + "/fd/3").string().rfind("socket:", 0), 0u);
        const std::string env = ReadFile(proc + "/environ");
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
    for (const bool window_first : {true, false}) {
        SCOPED_TRACE(window_first ? "window first" : "page first");
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        ::setenv("PELKO_HANDSHAKE_FD", std::to_string(ends[1]).c_str(), 1);
        auto handshake = UpdateHandshake::FromEnvironment();
        ASSERT_NE(handshake, nullptr);
        EXPECT_EQ(::getenv("PELKO_HANDSHAKE_FD"), nullptr);
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
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    ::close(ends[0]);
    ::setenv("PELKO_HANDSHAKE_FD", std::to_string(ends[1]).c_str(), 1);
    auto orphan = UpdateHandshake::FromEnvironment();
    ASSERT_NE(orphan, nullptr);
    orphan->WindowShown();
    orphan->PageRequested();
}

}  // namespace
