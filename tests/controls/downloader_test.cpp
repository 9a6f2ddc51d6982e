#include "controls/downloader.h"

#include <fcntl.h>
#include <giomm.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using pelko::ui::ClampByteCount;
using pelko::ui::Downloader;
using pelko::ui::DownloadFailure;
using pelko::ui::GObjectPtr;
using pelko::ui::StatusOf;
using namespace std::chrono_literals;

namespace {

const std::string kOld = "old program";
constexpr mode_t kOldMode = 0751;

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return s;
}
const std::string kNew = Pattern(300 * 1024);

// Plays a raw answer on a stolen connection: pieces after delays, then the
// connection is closed or held open (a stalled server).
struct RawReply {
    struct Piece {
        unsigned delay_ms;
        std::string bytes;
    };
    GIOStream* io;
    std::vector<Piece> pieces;
    bool hold;
    std::vector<GObjectPtr<GIOStream>>* held;
    std::size_t next = 0;

    void Step() {
        if (next == pieces.size()) {
            if (hold) {
                held->emplace_back(io);
            } else {
                g_io_stream_close(io, nullptr, nullptr);
                g_object_unref(io);
            }
            delete this;
            return;
        }
        Glib::signal_timeout().connect_once(
            [this] {
                const auto& bytes = pieces[next++].bytes;
                g_output_stream_write_all_async(
                    g_io_stream_get_output_stream(io), bytes.data(), bytes.size(),
                    G_PRIORITY_DEFAULT, nullptr,
                    [](GObject*, GAsyncResult*, gpointer self) {
                        static_cast<RawReply*>(self)->Step();
                    },
                    this);
            },
            pieces[next].delay_ms);
    }
};

// A server on 127.0.0.1 whose first path segment chooses the answer.
class TestServer {
  public:
    TestServer() : server_(soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(server_.get(), nullptr, &TestServer::Handle, this, nullptr);
        GError* error = nullptr;
        if (!soup_server_listen_local(server_.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
            throw std::runtime_error(error->message);
        }
        GSList* uris = soup_server_get_uris(server_.get());
        base_ = g_uri_to_string(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        if (base_.back() == '/') base_.pop_back();
    }
    std::string Url(const std::string& path) const { return base_ + path; }

  private:
    static void Handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                       gpointer data) {
        auto* self = static_cast<TestServer*>(data);
        const std::string p = path;
        const std::string route = p.substr(1, p.find('/', 1) - 1);
        const std::string name = p.substr(p.find_last_of('/') + 1);
        const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        const std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
        auto raw = [&](std::vector<RawReply::Piece> pieces, bool hold) {
            GIOStream* io = soup_server_message_steal_connection(msg);
            (new RawReply{io, std::move(pieces), hold, &self->held_})->Step();
        };
        auto length = [&](std::size_t n) {
            return head + "Content-Length: " + std::to_string(n) + "\r\n\r\n";
        };
        if (route == "ok") {
            soup_server_message_set_response(msg, "application/octet-stream", SOUP_MEMORY_STATIC,
                                             kNew.data(), kNew.size());
            soup_server_message_set_status(msg, 200, nullptr);
        } else if (route == "empty") {
            soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_STATIC, "", 0);
            soup_server_message_set_status(msg, 200, nullptr);
        } else if (route == "redirect") {
            soup_server_message_set_redirect(msg, 302, ("/ok/" + name).c_str());
        } else if (route == "loop") {
            soup_server_message_set_redirect(msg, 302, path);
        } else if (route == "404" || route == "500") {
            soup_server_message_set_response(msg, "text/html", SOUP_MEMORY_COPY, "<p>error</p>",
                                             12);
            soup_server_message_set_status(msg, std::stoi(route), nullptr);
        } else if (route == "chunked") {
            raw({{0, chunked + "2000\r\n" + kNew.substr(0, 0x2000) + "\r\n0\r\n\r\n"}}, false);
        } else if (route == "cut") {
            raw({{0, chunked + "8000\r\n" + kNew.substr(0, 0x1000)}}, false);
        } else if (route == "short") {
            raw({{0, length(20000) + kNew.substr(0, 10000)}}, false);
        } else if (route == "stall") {
            raw({{0, length(20000) + kNew.substr(0, 1000)}}, true);
        } else if (route == "slow") {
            std::vector<RawReply::Piece> pieces{{0, length(50 * 2000)}};
            for (int i = 0; i < 50; ++i) pieces.push_back({20, kNew.substr(i * 2000, 2000)});
            raw(std::move(pieces), false);
        } else {
            soup_server_message_set_status(msg, 404, nullptr);
        }
    }

    GObjectPtr<SoupServer> server_;
    std::string base_;
    std::vector<GObjectPtr<GIOStream>> held_;
};

struct Progress {
    float fraction;
    std::int32_t size;
};

// Records the events of one downloader and wakes the loop on each.
struct Recorder {
    std::vector<Progress> progress;
    std::vector<std::int32_t> completes;
    bool inside_call = false;
    bool early = false;  // an event raised inside StartDownload or CancelDownload
    std::function<void()> on_progress;
    Glib::RefPtr<Glib::MainLoop> loop = Glib::MainLoop::create();

    explicit Recorder(Downloader& dl) {
        dl.DownloadProgress().connect([this](float f, long, std::int32_t size) {
            early |= inside_call;
            progress.push_back({f, size});
            if (on_progress) on_progress();
            loop->quit();
        });
        dl.DownloadComplete().connect([this](std::int32_t status) {
            early |= inside_call;
            completes.push_back(status);
            loop->quit();
        });
    }
    // Runs the loop until `done` holds, at most `limit`; false on the timeout.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        bool timed_out = false;
        auto guard = Glib::signal_timeout().connect(
            [&] {
                timed_out = true;
                loop->quit();
                return false;
            },
            limit.count());
        while (!done() && !timed_out) loop->run();
        guard.disconnect();
        return !timed_out;
    }
    bool RunToCompletion() {
        return RunUntil([this] { return !completes.empty(); });
    }
    // Lets late events arrive, if there are any.
    void Drain() {
        RunUntil([] { return false; }, 200ms);
    }
};

class DownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pelko-dl-XXXXXX";
        dir_ = mkdtemp(tmpl);
        WriteOld();
    }
    void TearDown() override {
        SetImmutable(false);
        fs::remove_all(dir_);
    }
    void WriteOld() {
        std::ofstream(dir_ + "/Pelko", std::ios::binary) << kOld;
        chmod((dir_ + "/Pelko").c_str(), kOldMode);
    }
    void Start(Downloader& dl, Recorder& rec, const std::string& url) {
        dl.URL(url);
        dl.SaveFolder(dir_);
        rec.inside_call = true;
        dl.StartDownload();
        rec.inside_call = false;
    }
    std::string Contents(const std::string& name = "Pelko") const {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    mode_t Mode() const {
        struct stat st {};
        stat((dir_ + "/Pelko").c_str(), &st);
        return st.st_mode & 07777;
    }
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }
    // A folder nobody may add to, root included; false where that cannot be had.
    bool SetImmutable(bool on) {
        const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        long flags = 0;
        bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) close(fd);
        if (!ok && on && geteuid() != 0) ok = chmod(dir_.c_str(), 0555) == 0;
        return ok;
    }
    void ExpectOldIntact() const {
        EXPECT_EQ(Contents(), kOld);
        EXPECT_EQ(Mode(), kOldMode);
        EXPECT_EQ(Listing(), std::set<std::string>{"Pelko"});
    }

    TestServer server_;
    std::string dir_;
};

TEST(DownloadStatus, ClampByteCountNeverTurnsNegative) {
    const std::vector<std::pair<std::int64_t, std::int32_t>> cases = {
        {0, 0},
        {1, 1},
        {2147483647LL, 2147483647},
        {2147483648LL, 2147483647},
        {4294967301LL, 2147483647},
        {5000000000LL, 2147483647},
        {-5, 0},
    };
    for (const auto& [bytes, want] : cases) EXPECT_EQ(ClampByteCount(bytes), want) << bytes;
}

TEST_F(DownloaderTest, EveryFailureLeavesTheOldFileAndNoTemporary) {
    std::string closed_port_url;
    {
        // A port that was free a moment ago refuses connections.
        auto socket = Gio::Socket::create(Gio::SOCKET_FAMILY_IPV4, Gio::SOCKET_TYPE_STREAM,
                                          Gio::SOCKET_PROTOCOL_TCP);
        socket->bind(Gio::InetSocketAddress::create(Gio::InetAddress::create("127.0.0.1"), 0),
                     true);
        const auto port =
            Glib::RefPtr<Gio::InetSocketAddress>::cast_dynamic(socket->get_local_address())
                ->get_port();
        closed_port_url = "http://127.0.0.1:" + std::to_string(port) + "/Pelko";
    }
    struct Case {
        const char* what;
        std::string url;
        DownloadFailure want;
        std::function<bool()> setup = [] { return true; };
        std::function<void()> undo = [] {};
    };
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    const std::vector<Case> cases = {
        {"closes mid-body", server_.Url("/cut/Pelko"), DownloadFailure::Network},
        {"shorter than its length", server_.Url("/short/Pelko"), DownloadFailure::Truncated},
        {"404", server_.Url("/404/Pelko"), DownloadFailure::HttpStatus},
        {"500", server_.Url("/500/Pelko"), DownloadFailure::HttpStatus},
        {"redirect loop", server_.Url("/loop/Pelko"), DownloadFailure::HttpStatus},
        {"stalls", server_.Url("/stall/Pelko"), DownloadFailure::Stalled},
        {"nobody listening", closed_port_url, DownloadFailure::Network},
        {"ftp", "ftp://127.0.0.1/Pelko", DownloadFailure::BadAddress},
        {"file", "file://" + dir_ + "/Pelko", DownloadFailure::BadAddress},
        {"no address", "", DownloadFailure::BadAddress},
        {"no file name", server_.Url("/"), DownloadFailure::BadAddress},
        {"dot-dot name", server_.Url("/ok/%2E%2E"), DownloadFailure::BadAddress},
        {"slash in name", server_.Url("/ok/..%2FPelko"), DownloadFailure::BadAddress},
        {"read-only folder", server_.Url("/ok/Pelko"), DownloadFailure::Disk,
         [this] { return SetImmutable(true); }, [this] { SetImmutable(false); }},
        {"full disk", server_.Url("/ok/Pelko"), DownloadFailure::Disk,
         [] {
             // The file-size limit makes writes fail as on a full disk.
             signal(SIGXFSZ, SIG_IGN);
             rlimit small = {64 * 1024, RLIM_INFINITY};
             return setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [&old_limit] { setrlimit(RLIMIT_FSIZE, &old_limit); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.setup()) {
            ADD_FAILURE() << "cannot set up " << c.what;
            continue;
        }
        Downloader dl;
        dl.StallTimeout(300ms);
        Recorder rec(dl);
        Start(dl, rec, c.url);
        const bool finished = rec.RunToCompletion();
        c.undo();
        ASSERT_TRUE(finished);
        EXPECT_FALSE(rec.early);
        EXPECT_EQ(rec.completes, std::vector<std::int32_t>{StatusOf(c.want)}) << dl.LastError();
        ExpectOldIntact();
    }
}

TEST_F(DownloaderTest, SuccessReplacesTheFileKeepingItsMode) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/ok/Pelko", kNew},
        {"/redirect/Pelko", kNew},
        {"/chunked/Pelko", kNew.substr(0, 0x2000)},
    };
    for (const auto& [path, body] : cases) {
        SCOPED_TRACE(path);
        WriteOld();
        Downloader dl;
        Recorder rec(dl);
        Start(dl, rec, server_.Url(path));
        ASSERT_TRUE(rec.RunToCompletion());
        EXPECT_FALSE(rec.early);
        EXPECT_EQ(rec.completes, std::vector<std::int32_t>{static_cast<std::int32_t>(body.size())});
        EXPECT_EQ(Contents() == body, true);
        EXPECT_EQ(Mode(), kOldMode);
        EXPECT_EQ(Listing(), std::set<std::string>{"Pelko"});
        EXPECT_EQ(dl.SavedFile(), dir_ + "/Pelko");
        ASSERT_FALSE(rec.progress.empty());
        EXPECT_EQ(rec.progress.back().fraction, 1.0f);
        EXPECT_EQ(rec.progress.back().size, static_cast<std::int32_t>(body.size()));
    }
}

TEST_F(DownloaderTest, EmptyAnswerReplacesNothing) {
    Downloader dl;
    Recorder rec(dl);
    Start(dl, rec, server_.Url("/empty/Pelko"));
    ASSERT_TRUE(rec.RunToCompletion());
    EXPECT_EQ(rec.completes, std::vector<std::int32_t>{0});
    ExpectOldIntact();
}

TEST_F(DownloaderTest, ProgressAtMostTwentyASecondThenOneAtFull) {
    Downloader dl;
    Recorder rec(dl);
    const auto begin = std::chrono::steady_clock::now();
    Start(dl, rec, server_.Url("/slow/Pelko"));
    ASSERT_TRUE(rec.RunToCompletion());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - begin)
                        .count();
    ASSERT_GT(rec.completes.at(0), 0);
    const auto full = std::count_if(rec.progress.begin(), rec.progress.end(),
                                    [](const Progress& p) { return p.fraction == 1.0f; });
    EXPECT_EQ(full, 1);
    EXPECT_EQ(rec.progress.back().fraction, 1.0f);
    EXPECT_GE(rec.progress.size(), 3u);
    EXPECT_LE(static_cast<long>(rec.progress.size()), ms / 50 + 2) << ms << " ms";
}

TEST_F(DownloaderTest, CancelEndsWithOneNegativeCompletion) {
    Downloader dl;
    Recorder rec(dl);
    rec.on_progress = [&] {
        rec.inside_call = true;
        dl.CancelDownload();
        dl.CancelDownload();
        rec.inside_call = false;
    };
    Start(dl, rec, server_.Url("/stall/Pelko"));
    ASSERT_TRUE(rec.RunToCompletion());
    rec.Drain();
    EXPECT_FALSE(rec.early);
    EXPECT_EQ(rec.completes, std::vector<std::int32_t>{StatusOf(DownloadFailure::Cancelled)});
    ExpectOldIntact();
}

TEST_F(DownloaderTest, StartDuringTransferDropsTheRunningOne) {
    Downloader dl;
    Recorder rec(dl);
    std::size_t files_after_restart = 0;
    rec.on_progress = [&] {
        if (rec.progress.size() != 1) return;
        Start(dl, rec, server_.Url("/ok/Pelko"));
        // The stalled transfer's file went at once: one writer, one temporary.
        files_after_restart = Listing().size();
    };
    Start(dl, rec, server_.Url("/stall/Pelko"));
    ASSERT_TRUE(rec.RunToCompletion());
    rec.Drain();
    EXPECT_EQ(files_after_restart, 2u);
    EXPECT_EQ(rec.completes, std::vector<std::int32_t>{static_cast<std::int32_t>(kNew.size())});
    EXPECT_EQ(Contents() == kNew, true);
    EXPECT_EQ(Listing(), std::set<std::string>{"Pelko"});
}

TEST_F(DownloaderTest, ClosedWindowLeavesNoTemporary) {
    auto dl = std::make_unique<Downloader>();
    Recorder rec(*dl);
    Start(*dl, rec, server_.Url("/stall/Pelko"));
    ASSERT_TRUE(rec.RunUntil([&] { return !rec.progress.empty(); }));
    EXPECT_EQ(Listing().size(), 2u);
    dl.reset();
    // Nothing more runs after a window closes, so the file must be gone now.
    ExpectOldIntact();
}

}  // namespace

int main(int argc, char** argv) {
    Gio::init();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
