#include "controls/downloader.h"

#include <giomm.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/main_loop.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace pelko::ui;
using namespace std::chrono_literals;

namespace {

const std::string kOld = "old program";
constexpr fs::perms kOldMode = fs::perms(0751);
// Bytes that differ along the file, so that a chunk lost or repeated shows.
const std::string kNew = [] {
    std::string s(300 * 1024, '\0');
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return s;
}();

// Broken answers, written raw on the stolen connection, which is then closed
// ("stall" keeps it open and silent). Any other route gets the whole new file.
const std::map<std::string, std::string> kRawAnswers = [] {
    const std::string ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    const std::string length = ok + "Content-Length: 20000\r\n\r\n";
    const std::string end = "Connection: close\r\nContent-Length: 0\r\n\r\n";
    return std::map<std::string, std::string>{
        {"empty", "HTTP/1.1 200 OK\r\n" + end},
        {"chunked", chunked + "2000\r\n" + kNew.substr(0, 0x2000) + "\r\n0\r\n\r\n"},
        {"cut", chunked + "8000\r\n" + kNew.substr(0, 0x1000)},
        {"short", length + kNew.substr(0, 10000)},
        {"stall", length + kNew.substr(0, 1000)},
        {"404", "HTTP/1.1 404 Not Found\r\n" + end},
        {"loop", "HTTP/1.1 302 Found\r\nLocation: /loop/Pelko\r\n" + end},
    };
}();

// A server on 127.0.0.1 whose first path segment chooses the answer.
class TestServer {
  public:
    TestServer() : server_(soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(server_.get(), nullptr, &TestServer::Handle, this, nullptr);
        if (!soup_server_listen_local(server_.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr))
            throw std::runtime_error("cannot listen");
        GSList* uris = soup_server_get_uris(server_.get());
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    static void Handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                       gpointer self) {
        const std::string p = path;
        // "/hop/N/...": a redirect to "/hop/N-1/..." after 120 ms, the file at 0.
        if (p.rfind("/hop/", 0) == 0 && std::stoi(p.substr(5)) > 0) {
            const int left = std::stoi(p.substr(5));
            const std::string next = "/hop/" + std::to_string(left - 1) + "/Pelko";
            soup_server_message_pause(msg);
            g_object_ref(msg);
            Glib::signal_timeout().connect_once(
                [msg, next] {
                    soup_server_message_set_redirect(msg, SOUP_STATUS_FOUND, next.c_str());
                    soup_server_message_unpause(msg);
                    g_object_unref(msg);
                },
                120);
            return;
        }
        const auto raw = kRawAnswers.find(p.substr(1, p.find('/', 1) - 1));
        if (raw == kRawAnswers.end()) {
            soup_server_message_set_response(msg, "application/octet-stream", SOUP_MEMORY_STATIC,
                                             kNew.data(), kNew.size());
            soup_server_message_set_status(msg, 200, nullptr);
            return;
        }
        GIOStream* io = soup_server_message_steal_connection(msg);
        g_output_stream_write_all(g_io_stream_get_output_stream(io), raw->second.data(),
                                  raw->second.size(), nullptr, nullptr, nullptr);
        if (raw->first != "stall") g_io_stream_close(io, nullptr, nullptr);
        static_cast<TestServer*>(self)->connections_.emplace_back(io);
    }

    GObjectPtr<SoupServer> server_;
    int port_ = 0;
    std::vector<GObjectPtr<GIOStream>> connections_;
};

// Records the events of one downloader.
struct Recorder {
    std::vector<float> progress;
    std::vector<std::int32_t> completes;
    bool inside_call = false;
    bool early = false;  // an event raised inside StartDownload or CancelDownload
    std::function<void()> on_progress = [] {};

    explicit Recorder(Downloader& dl) {
        dl.DownloadProgress().connect([this](float fraction, long, std::int32_t) {
            early |= inside_call;
            progress.push_back(fraction);
            on_progress();
        });
        dl.DownloadComplete().connect([this](std::int32_t status) {
            early |= inside_call;
            completes.push_back(status);
        });
    }
};

class DownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.Put("Pelko", kOld);
        fs::permissions(dir_.PathOf("Pelko"), kOldMode);
    }
    // Saving into the test's folder, or into one of this name under it.
    void Start(Downloader& dl, Recorder& rec, const std::string& url,
               const std::string& folder = "") {
        dl.URL(url);
        dl.SaveFolder(folder.empty() ? dir_.path().string() : dir_.PathOf(folder));
        rec.inside_call = true;
        dl.StartDownload();
        rec.inside_call = false;
    }
    // The saved file's bytes and mode, and no temporary file beside it.
    void ExpectOnly(const std::string& contents) const {
        EXPECT_TRUE(dir_.Read("Pelko") == contents);
        EXPECT_EQ(fs::status(dir_.PathOf("Pelko")).permissions(), kOldMode);
        EXPECT_EQ(dir_.Names().size(), 1u);
    }

    TestServer server_;
    pelko::test::TempDir dir_;
};

// Only a complete file replaces the old one, which keeps its mode; every other
// end leaves the old file as it was and no temporary file. The owner's check
// sees the whole file before anything is replaced; asked to keep the previous
// file, the control keeps it exactly when it replaces it.
TEST_F(DownloaderTest, OnlyACompleteFileReplacesTheOld) {
    const auto whole = static_cast<std::int32_t>(kNew.size());
    struct Case {
        const char* route;
        std::int32_t want;              // the one DownloadComplete status
        const char* verdict = nullptr;  // the owner's check: "" accepts, nullptr: none
        bool keep = false;
        std::function<void(Downloader&)> at_first_progress = {};  // as a user's click would
        std::function<bool()> setup = [] { return true; };
        std::function<void()> undo = [] {};
        const char* folder = "";  // to save into, under the test's folder
    };
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    const std::vector<Case> cases = {
        {"/ok/Pelko", whole},
        {"/chunked/Pelko", 0x2000},
        {"/empty/Pelko", 0},
        {"/cut/Pelko", StatusOf(DownloadFailure::Network)},
        {"/short/Pelko", StatusOf(DownloadFailure::Truncated)},
        {"/404/Pelko", StatusOf(DownloadFailure::HttpStatus)},
        {"/loop/Pelko", StatusOf(DownloadFailure::HttpStatus)},
        // Four prompt redirects take longer than the stall limit, and are no stall.
        {"/hop/4/Pelko", whole},
        {"/stall/Pelko", StatusOf(DownloadFailure::Stalled)},
        {"ftp://127.0.0.1/Pelko", StatusOf(DownloadFailure::BadAddress)},
        {"/ok/..%2FPelko", StatusOf(DownloadFailure::BadAddress)},  // a name leaving the folder
        {"/stall/Pelko", StatusOf(DownloadFailure::Cancelled), nullptr, false,
         [](Downloader& dl) {
             dl.CancelDownload();
             dl.CancelDownload();
         }},
        {"/stall/Pelko", whole, nullptr, false,
         [this](Downloader& dl) {
             dl.URL(server_.Url("/ok/Pelko"));
             dl.StartDownload();
             // The stalled transfer's file went at once: one writer, one temporary.
             EXPECT_EQ(dir_.Names().size(), 2u);
         }},
        // A folder that takes no new file: here one that is not there, which
        // fails where a read-only one does, at the temporary file.
        {.route = "/ok/Pelko", .want = StatusOf(DownloadFailure::Disk), .folder = "gone"},
        {.route = "/ok/Pelko",  // full disk: the file-size limit makes writes fail as on one
         .want = StatusOf(DownloadFailure::Disk),
         .setup =
             [] {
                 signal(SIGXFSZ, SIG_IGN);
                 rlimit small = {64 * 1024, RLIM_INFINITY};
                 return setrlimit(RLIMIT_FSIZE, &small) == 0;
             },
         .undo = [&old_limit] { setrlimit(RLIMIT_FSIZE, &old_limit); }},
        {"/ok/Pelko", StatusOf(DownloadFailure::Refused), "not ours"},
        {"/ok/Pelko", whole, ""},
        {"/ok/Pelko", whole, "", true},
        {"/ok/Pelko", StatusOf(DownloadFailure::Refused), "not ours", true},
        {"/404/Pelko", StatusOf(DownloadFailure::HttpStatus), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.route) + " -> " + std::to_string(c.want) +
                     (c.verdict ? " checked" : "") + (c.keep ? ", previous kept" : ""));
        SetUp();  // the old file again
        ASSERT_TRUE(c.setup());
        Downloader dl;
        dl.StallTimeout(300ms);
        dl.KeepPrevious(c.keep);
        std::string seen;
        if (c.verdict) {
            dl.Check([&seen, &c](int fd) -> std::string {
                seen.resize(kNew.size() + 1);
                seen.resize(std::max<ssize_t>(0, pread(fd, seen.data(), seen.size(), 0)));
                return c.verdict;
            });
        }
        Recorder rec(dl);
        rec.on_progress = [&] {
            if (rec.progress.size() > 1 || !c.at_first_progress) return;
            rec.inside_call = true;
            c.at_first_progress(dl);
            rec.inside_call = false;
        };
        Start(dl, rec, c.route[0] == '/' ? server_.Url(c.route) : c.route, c.folder);
        const bool finished = pelko::test::Spin([&] { return !rec.completes.empty(); });
        pelko::test::Settle(200);  // for a second completion, which must not come
        c.undo();
        ASSERT_TRUE(finished);
        EXPECT_FALSE(rec.early);
        EXPECT_EQ(rec.completes, std::vector<std::int32_t>{c.want}) << dl.LastError();
        if (c.verdict && c.want != StatusOf(DownloadFailure::HttpStatus)) {
            EXPECT_TRUE(seen == kNew);
        }
        if (c.want == StatusOf(DownloadFailure::Refused)) {
            EXPECT_EQ(dl.LastError(), c.verdict);
        }
        if (c.keep && c.want > 0) {
            EXPECT_EQ(dir_.Read("Pelko.old"), kOld);
            EXPECT_EQ(fs::status(dir_.PathOf("Pelko.old")).permissions(), kOldMode);
            fs::remove(dir_.PathOf("Pelko.old"));
        }
        ExpectOnly(c.want > 0 ? kNew.substr(0, c.want) : kOld);
        EXPECT_TRUE(c.want <= 0 || (!rec.progress.empty() && rec.progress.back() == 1.0f));
    }
}

TEST_F(DownloaderTest, ClosedWindowLeavesNoTemporary) {
    auto dl = std::make_unique<Downloader>();
    Recorder rec(*dl);
    Start(*dl, rec, server_.Url("/stall/Pelko"));
    ASSERT_TRUE(pelko::test::Spin([&] { return !rec.progress.empty(); }));
    EXPECT_EQ(dir_.Names().size(), 2u);
    dl.reset();
    // Nothing more runs after a window closes, so the file must be gone now.
    ExpectOnly(kOld);
}

}  // namespace

int main(int argc, char** argv) {
    Gio::init();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
