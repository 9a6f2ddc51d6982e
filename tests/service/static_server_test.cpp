#include "service/static_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using pelko::service::StaticServer;
using namespace pelko::service::testing;

// A web root beside a secret that must never be served, with a link to it.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PutWebRootBesideSecret(dir_);
        dir_.Put("www/tv/live.m3u8", "#EXTM3U\n");
        dir_.Put("www/tv/seg000.ts", "G-transport");
        dir_.Put("www/tv/ch.mp4", "0123456789");
        fs::create_symlink("../outside/secret.txt", dir_.path() / "www/secret-link.txt");
        server_ = std::make_unique<StaticServer>(
            dir_.PathOf("www"), [this](const std::string& line) { log_.push_back(line); });
        server_->Listen("127.0.0.1", 0);
    }
    Reply Send(const std::string& request_line, const std::string& header = "") {
        return Exchange(server_->Port(), request_line + " HTTP/1.1\r\nHost: x\r\n" +
                                             "Connection: close\r\n" + header + "\r\n");
    }

    pelko::test::TempDir dir_;
    std::vector<std::string> log_;
    std::unique_ptr<StaticServer> server_;
};

// Sent raw: an HTTP client would tidy up most traversals before sending. The
// request parser already removes dot segments, encoded ones too, so some of
// them arrive as harmless paths inside the root (status 0: any 4xx); what
// reaches our own checks is refused with 403.
TEST_F(ServerTest, AnswersAndRefusals) {
    struct Case {
        std::string request_line;
        std::string header;  // sent
        unsigned status;
        std::string want = "";       // a header line the answer holds, in lower case
        const char* body = nullptr;  // nullptr: not checked
        const char* log = nullptr;   // the request's log line, nullptr: not checked
    };
    const std::vector<Case> cases = {
        {"GET /digits.txt", "Range: bytes=8-100\r\n", 206, "content-range: bytes 8-9/10", "89"},
        {"GET /digits.txt", "Range: bytes=-3\r\n", 206, "content-range: bytes 7-9/10", "789"},
        {"GET /digits.txt", "Range: bytes=10-\r\n", 416, "content-range: bytes */10"},
        // Malformed, or more than we support: the whole file, as HTTP allows.
        {"GET /digits.txt", "Range: bytes=3-1\r\n", 200, "", "0123456789"},
        {"GET /digits.txt", "Range: bytes=99999999999999999999-\r\n", 200, "", "0123456789"},
        {"HEAD /digits.txt", "", 200, "content-length: 10", "", "HEAD /digits.txt 200 0"},
        // What players ask for: a playlist, its segments, a seek into a video.
        {"GET /tv/live.m3u8", "", 200, "content-type: application/vnd.apple.mpegurl"},
        {"GET /tv/seg000.ts", "", 200, "content-type: video/mp2t", "G-transport"},
        {"GET /tv/ch.mp4", "Range: bytes=4-\r\n", 206, "content-type: video/mp4", "456789"},
        {"GET /tv/ch.mp4", "Range: bytes=4-5\r\n", 206, "content-range: bytes 4-5/10", "45"},
        {"POST /digits.txt", "", 405, "allow: get, head"},
        {"GET /tv/heartbeat?ch=1&t=3.2", "", 204, "", "", "GET /tv/heartbeat?ch=1&t=3.2 204 0"},
        {"GET /tv/../../outside/secret.txt", "", 0},
        {"GET /%2e%2e/outside/secret.txt", "", 0},
        {"GET /tv/%2f..%2f..%2foutside/secret.txt", "", 403},
        {"GET /..%5coutside%5csecret.txt", "", 403},
        {"GET /digits.txt%00.png", "", 403},
        {"GET /secret-link.txt", "", 403},
        {"GARBAGE", "", 0},  // a bad request gets a 4xx, never a crash
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request_line + " " + c.header);
        const Reply r = Send(c.request_line, c.header);
        const auto has = [&](const std::string& line) {
            return (r.head + "\r\n").find("\r\n" + line + "\r\n") != std::string::npos;
        };
        EXPECT_TRUE(c.status ? r.status == c.status : r.status / 100 == 4) << r.status;
        EXPECT_TRUE(c.want.empty() || has(c.want)) << r.head;
        EXPECT_EQ(r.body.find(kSecret), std::string::npos);
        EXPECT_TRUE(!c.body || r.body == c.body) << r.body;
        EXPECT_TRUE(!c.body || !*c.body || has("content-length: " + std::to_string(r.body.size())))
            << r.head;
        EXPECT_TRUE(!c.log || (!log_.empty() && log_.back() == c.log))
            << ::testing::PrintToString(log_);
    }
}

// A file replaced by a rebuild while it is being downloaded used to be a way
// to kill a server that maps its files (SIGBUS) or to leave the client
// waiting for bytes that never come.
TEST_F(ServerTest, FileCutShortWhileSendingEndsTheResponse) {
    const std::string big = dir_.Put("www/big.bin", "");
    constexpr off_t kAnnounced = 64 * 1024 * 1024;
    ASSERT_EQ(::truncate(big.c_str(), kAnnounced), 0);  // sparse: no disk space used
    // Keep-alive: the server itself must close the connection, since the
    // client still waits for the bytes that were announced.
    const Reply r = Exchange(server_->Port(), "GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n",
                             [&] { EXPECT_EQ(::truncate(big.c_str(), 0), 0); });
    EXPECT_EQ(r.status, 200u);
    EXPECT_NE(r.head.find("content-length: " + std::to_string(kAnnounced)), std::string::npos);
    EXPECT_TRUE(r.closed) << "the client was left waiting";
    EXPECT_LT(r.body.size(), static_cast<std::size_t>(kAnnounced));
    EXPECT_TRUE(std::any_of(log_.begin(), log_.end(), [](const std::string& line) {
        return line.find("got shorter") != std::string::npos;
    }));
    EXPECT_EQ(Send("GET /digits.txt").status, 200u);  // and it still serves
}

}  // namespace
