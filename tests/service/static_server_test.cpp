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
        return Request(server_->Port(), request_line, header);
    }

    static bool Has(const Reply& r, const std::string& line) {
        return (r.head + "\r\n").find("\r\n" + line + "\r\n") != std::string::npos;
    }

    pelko::test::TempDir dir_;
    std::vector<std::string> log_;
    std::unique_ptr<StaticServer> server_;
};

// What players ask for, and ranges: a part of the file, 416 when the range
// starts past the end, or the whole file when it is malformed or more than we
// support (as HTTP allows).
TEST_F(ServerTest, AnswersWhatPlayersAskFor) {
    struct Case {
        std::string request_line;
        std::string header;  // sent
        unsigned status;
        std::string want = "";       // a header line the answer holds, in lower case
        const char* body = nullptr;  // nullptr: not checked
        const char* log = nullptr;   // the request's log line, nullptr: not checked
    };
    const auto range = [](const std::string& bytes, unsigned status, const std::string& want,
                          const char* body = nullptr) {
        return Case{"GET /digits.txt", "Range: " + bytes + "\r\n", status, want, body};
    };
    std::vector<Case> cases = {
        {"HEAD /digits.txt", "", 200, "content-length: 10", "", "HEAD /digits.txt 200 0"},
        // A playlist, its segments, a seek into a video.
        {"GET /tv/live.m3u8", "", 200, "content-type: application/vnd.apple.mpegurl"},
        {"GET /tv/seg000.ts", "", 200, "content-type: video/mp2t", "G-transport"},
        {"GET /tv/ch.mp4", "Range: bytes=4-\r\n", 206, "content-type: video/mp4", "456789"},
        {"GET /tv/ch.mp4", "Range: bytes=4-5\r\n", 206, "content-range: bytes 4-5/10", "45"},
        {"POST /digits.txt", "", 405, "allow: get, head"},
        {"GET /tv/heartbeat?ch=1&t=3.2", "", 204, "", "", "GET /tv/heartbeat?ch=1&t=3.2 204 0"},
        range("bytes=8-100", 206, "content-range: bytes 8-9/10", "89"),
        range("bytes=-3", 206, "content-range: bytes 7-9/10", "789"),
        range("bytes=2-9223372036854775807", 206, "content-range: bytes 2-9/10", "23456789"),
        range("bytes=-18446744073709551615", 206, "content-range: bytes 0-9/10", "0123456789"),
    };
    for (const char* past_the_end :
         {"bytes=10-", "bytes=10-20", "bytes=-0", "bytes=9223372036854775808-",
          "bytes=18446744073709551615-18446744073709551615"}) {
        cases.push_back(range(past_the_end, 416, "content-range: bytes */10"));
    }
    std::string many = "bytes=0-0";
    for (int i = 1; i < 2000; ++i)
        many += "," + std::to_string(i % 10) + "-" + std::to_string(i % 10);
    for (const std::string& ignored : std::vector<std::string>{
             "bytes=3-1", "bytes=8-3", "bytes=-1-5", "bytes=5--1", "bytes=99999999999999999999-",
             "bytes=18446744073709551616-", "bytes=0-18446744073709551616",
             "bytes=-18446744073709551616", many, "bytes=0-1,0-1", "items=0-1", "bytes=0x1-2"}) {
        cases.push_back(range(ignored, 200, "", "0123456789"));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request_line + " " + c.header.substr(0, 60));
        const Reply r = Send(c.request_line, c.header);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(c.want.empty() || Has(r, c.want)) << r.head;
        EXPECT_TRUE(!c.body || r.body == c.body) << r.body;
        EXPECT_TRUE(!c.body || !*c.body ||
                    Has(r, "content-length: " + std::to_string(r.body.size())))
            << r.head;
        EXPECT_TRUE(!c.log || (!log_.empty() && log_.back() == c.log))
            << ::testing::PrintToString(log_);
    }
}

// Sent raw, as no HTTP client would send them: dot segments plain, encoded,
// overlong and twice encoded, back slashes, NULs, and links out of the root
// or into a folder beside it named like it.
TEST_F(ServerTest, TraversalAttemptsNeverLeaveTheRoot) {
    for (const char* target : {
             "/../outside/secret.txt", "/tv/../../outside/secret.txt",
             "/%2e%2e/outside/secret.txt", "/%2E%2E/%2e%2e/outside/secret.txt",
             "/tv/%2e%2e%2f%2e%2e%2foutside/secret.txt", "/tv/%2f..%2f..%2foutside/secret.txt",
             "/....//....//outside/secret.txt", "/..%2f..%2foutside/secret.txt",
             "/..\\..\\outside\\secret.txt", "/%5c..%5coutside%5csecret.txt",
             "/..%5coutside%5csecret.txt", "/digits.txt%00.html", "/%00",
             "/%c0%ae%c0%ae/outside/secret.txt", "/%c0%af..%c0%afoutside/secret.txt",
             "/%e0%80%ae%e0%80%ae/outside/secret.txt", "/%25%32%65%25%32%65/outside/secret.txt",
             "/%2", "//../outside/secret.txt", "/.%2e/outside/secret.txt", "/secret-link.txt",
             "/private.txt"}) {
        SCOPED_TRACE(target);
        const Reply r = Send(std::string("GET ") + target);
        EXPECT_TRUE(r.status == 400 || r.status == 403 || r.status == 404) << r.status;
        EXPECT_EQ(r.body.find(kSecret), std::string::npos);
        EXPECT_EQ(r.body.find("0123456789"), std::string::npos);
    }
    EXPECT_EQ(Send("GET /tv/live.m3u8").status, 200u);
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
