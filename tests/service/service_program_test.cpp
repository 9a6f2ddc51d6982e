// The real pelko-service program, started the way scripts and the GUI tests
// start it.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "service/static_server.h"
#include "test_support.h"

namespace {

using namespace pelko::service::testing;

constexpr char kBinary[] = PELKO_SERVICE_BINARY;
constexpr char kBuiltWebRoot[] = PELKO_SERVICE_WWW;

// State of one asynchronous call; shared with its callback, which may run
// after a timed-out wait has given up on it.
struct Pending {
    GMainLoop* loop = nullptr;
    bool done = false;
    std::string text;
    std::string more;
    ~Pending() {
        if (loop) g_main_loop_unref(loop);
    }
};

std::shared_ptr<Pending>* NewPending(const BoundedLoop& loop) {
    auto state = std::make_shared<Pending>();
    state->loop = g_main_loop_ref(loop.Loop());
    return new std::shared_ptr<Pending>(std::move(state));
}

// One run of the program; it ends with the test whatever happens in it.
class ServiceProcess {
  public:
    explicit ServiceProcess(const std::vector<std::string>& args) {
        std::vector<const char*> argv{kBinary};
        for (const auto& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        GError* error = nullptr;
        process_ = g_subprocess_newv(argv.data(),
                                     static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                   G_SUBPROCESS_FLAGS_STDERR_PIPE),
                                     &error);
        if (!process_) {
            ADD_FAILURE() << "cannot start " << kBinary << ": " << error->message;
            g_error_free(error);
        }
    }

    ~ServiceProcess() {
        if (!process_) return;
        if (!exited_) {
            g_subprocess_force_exit(process_);
            g_subprocess_wait(process_, nullptr, nullptr);
        }
        g_object_unref(process_);
    }

    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The first line on standard output, or "" when none came in time.
    std::string FirstLine() {
        if (!process_) return {};
        BoundedLoop loop(10s);
        auto* holder = NewPending(loop);
        const auto state = *holder;
        GDataInputStream* in = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
        // The pipe stays open for WaitForExit when this reader goes.
        g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(in), FALSE);
        g_data_input_stream_read_line_async(
            in, G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Pending>> h(
                    static_cast<std::shared_ptr<Pending>*>(data));
                gchar* line = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source),
                                                                   result, nullptr, nullptr);
                if (line) (*h)->text = line;
                (*h)->done = line != nullptr;
                g_free(line);
                g_main_loop_quit((*h)->loop);
            },
            holder);
        const bool ok = loop.Run() && state->done;
        g_object_unref(in);
        return ok ? state->text : std::string();
    }

    void Signal(int signal) { g_subprocess_send_signal(process_, signal); }

    // Reads both pipes to their end and reaps the process; false on a timeout.
    bool WaitForExit(std::chrono::milliseconds timeout = 10s) {
        if (!process_) return false;
        BoundedLoop loop(timeout);
        auto* holder = NewPending(loop);
        const auto state = *holder;
        g_subprocess_communicate_utf8_async(
            process_, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Pending>> h(
                    static_cast<std::shared_ptr<Pending>*>(data));
                gchar* out = nullptr;
                gchar* err = nullptr;
                if (g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &out, &err,
                                                         nullptr)) {
                    (*h)->text = out ? out : "";
                    (*h)->more = err ? err : "";
                    (*h)->done = true;
                }
                g_free(out);
                g_free(err);
                g_main_loop_quit((*h)->loop);
            },
            holder);
        if (!loop.Run() || !state->done) return false;
        // Both pipes are at their end, so the exit is at most moments away.
        g_subprocess_wait(process_, nullptr, nullptr);
        exited_ = true;
        stdout_ = state->text;
        stderr_ = state->more;
        return true;
    }

    bool ExitedNormally() const { return g_subprocess_get_if_exited(process_); }
    int ExitStatus() const { return g_subprocess_get_exit_status(process_); }
    const std::string& Stdout() const { return stdout_; }
    const std::string& Stderr() const { return stderr_; }

  private:
    GSubprocess* process_ = nullptr;
    bool exited_ = false;
    std::string stdout_;
    std::string stderr_;
};

// The port from "pelko-service: listening on http://127.0.0.1:PORT", 0 if
// the line has another form.
unsigned ListeningPort(const std::string& line) {
    static const std::regex form(R"(^pelko-service: listening on http://127\.0\.0\.1:(\d+)$)");
    std::smatch m;
    return std::regex_match(line, m, form) ? static_cast<unsigned>(std::stoul(m[1])) : 0;
}

TEST(ServiceProgram, AnnouncesItsPortServesAndStopsCleanlyOnSigterm) {
    TempDir root;
    root.Write("up.ini", "[ver]\nversion=9.9\n");
    ServiceProcess service({"--root", root.Path(), "--port", "0"});
    const std::string line = service.FirstLine();
    const unsigned port = ListeningPort(line);
    ASSERT_NE(port, 0u) << "first line: " << line;

    HttpClient client;
    const auto r = client.Fetch("GET", "http://127.0.0.1:" + std::to_string(port) + "/up.ini");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200u);
    EXPECT_EQ(r->body, "[ver]\nversion=9.9\n");

    service.Signal(SIGTERM);
    ASSERT_TRUE(service.WaitForExit());
    EXPECT_TRUE(service.ExitedNormally());
    EXPECT_EQ(service.ExitStatus(), 0);
    EXPECT_NE(service.Stderr().find("\nGET /up.ini 200 18\n"), std::string::npos)
        << service.Stderr();
}

TEST(ServiceProgram, SaysSoWhenThePortIsTaken) {
    TempDir root;
    pelko::service::StaticServer holder(root.Path(), {});
    holder.Listen("127.0.0.1", 0);

    ServiceProcess service({"--root", root.Path(), "--port", std::to_string(holder.Port())});
    ASSERT_TRUE(service.WaitForExit());
    EXPECT_TRUE(service.ExitedNormally());
    EXPECT_EQ(service.ExitStatus(), 1);
    EXPECT_NE(service.Stderr().find("already in use"), std::string::npos) << service.Stderr();
    EXPECT_EQ(service.Stdout(), "");
}

TEST(ServiceProgram, RefusesBadCommandLines) {
    TempDir root;
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {{"--bind", "0.0.0.0", "--port", "0"}, 2},
        {{"--bind=192.0.2.7", "--port=0"}, 2},
        {{"--port", "70000"}, 2},
        {{"--port", "-1"}, 2},
        {{"--port", "80a"}, 2},
        {{"--port"}, 2},
        {{"--listen", "x"}, 2},
        {{"--root", root.Path() + "/missing", "--port", "0"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
        ServiceProcess service(c.args);
        ASSERT_TRUE(service.WaitForExit());
        EXPECT_TRUE(service.ExitedNormally());
        EXPECT_EQ(service.ExitStatus(), c.status);
        EXPECT_EQ(service.Stdout(), "");
        EXPECT_NE(service.Stderr(), "");
    }
}

// Without --root the program serves the web root the build put beside it:
// our pages, playable clips and the main program just built.
TEST(ServiceProgram, ServesTheBuiltWebRootByDefault) {
    struct stat program {};
    ASSERT_EQ(::stat((std::string(kBuiltWebRoot) + "/Pelko").c_str(), &program), 0);
    EXPECT_TRUE(program.st_mode & S_IXUSR) << "the program copy lost its executable bit";

    ServiceProcess service({"--port", "0"});
    const unsigned port = ListeningPort(service.FirstLine());
    ASSERT_NE(port, 0u);
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    HttpClient client;

    const auto page = client.Fetch("GET", base + "/tv/app.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200u);
    EXPECT_NE(page->body.find("<title>Pelko网络电视</title>"), std::string::npos);

    const auto error_page = client.Fetch("GET", base + "/data/404.html");
    ASSERT_TRUE(error_page);
    EXPECT_EQ(error_page->status, 200u);
    EXPECT_NE(error_page->body.find("页面无法打开"), std::string::npos);
    EXPECT_NE(error_page->body.find("href=\"/tv/app.html\""), std::string::npos);

    const auto version = client.Fetch("GET", base + "/up.ini");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->body, "[ver]\nversion=1.2.0\n");

    for (const char* clip : {"/tv/clips/ch1.webm", "/tv/clips/ch2.webm", "/tv/clips/ch3.webm"}) {
        SCOPED_TRACE(clip);
        const auto head = client.Fetch("GET", base + clip, {{"Range", "bytes=0-3"}});
        ASSERT_TRUE(head);
        EXPECT_EQ(head->status, 206u);
        EXPECT_EQ(head->Header("content-type"), "video/webm");
        EXPECT_EQ(head->body, std::string("\x1a\x45\xdf\xa3", 4));  // EBML, the start of WebM
    }

    const auto program_head = client.Fetch("HEAD", base + "/Pelko");
    ASSERT_TRUE(program_head);
    EXPECT_EQ(program_head->status, 200u);
    EXPECT_EQ(program_head->Header("content-type"), "application/octet-stream");
    EXPECT_EQ(program_head->Header("content-length"), std::to_string(program.st_size));
}

}  // namespace
