// The real pelko-service program, started the way scripts and the GUI tests
// start it.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace pelko::service::testing;

// One run of the program, with its output in pipes; it ends with the test
// whatever happens in it.
struct Service {
    explicit Service(std::vector<const char*> args) {
        args.insert(args.begin(), PELKO_SERVICE_BINARY);
        args.push_back(nullptr);
        process = g_subprocess_newv(args.data(),
                                    static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                  G_SUBPROCESS_FLAGS_STDERR_PIPE),
                                    nullptr);
    }
    ~Service() {
        if (!process) return;
        g_subprocess_force_exit(process);
        g_subprocess_wait(process, nullptr, nullptr);
        g_object_unref(process);
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The first line on standard output, "" when none came in time.
    std::string FirstLine() {
        std::string line;
        GInputStream* out = g_subprocess_get_stdout_pipe(process);
        char c;
        const bool finished = RunBeside(
            [&] {
                while (g_input_stream_read(out, &c, 1, nullptr, nullptr) == 1 && c != '\n')
                    line += c;
            },
            [this] { g_subprocess_force_exit(process); });
        return finished ? line : std::string();
    }

    // Reads the output to its end and the exit status; -1 when the program
    // did not end by itself in time.
    int Finish() {
        gchar* out = nullptr;
        gchar* err = nullptr;
        const bool finished = RunBeside(
            [&] { g_subprocess_communicate_utf8(process, nullptr, nullptr, &out, &err, nullptr); },
            [this] { g_subprocess_force_exit(process); });
        stdout_text = out ? out : "";
        stderr_text = err ? err : "";
        g_free(out);
        g_free(err);
        return finished && g_subprocess_get_if_exited(process)
                   ? g_subprocess_get_exit_status(process)
                   : -1;
    }

    GSubprocess* process = nullptr;
    std::string stdout_text;
    std::string stderr_text;
};

// Without --root the program serves the web root the build put beside it.
TEST(ServiceProgram, AnnouncesAFreePortServesAndEndsCleanlyOnSigterm) {
    struct stat program {};
    ASSERT_EQ(::stat(PELKO_SERVICE_WWW "/Pelko", &program), 0);
    EXPECT_TRUE(program.st_mode & S_IXUSR) << "the program copy lost its executable bit";

    Service service({"--port", "0"});
    ASSERT_TRUE(service.process);
    const std::string line = service.FirstLine();
    std::smatch port;
    ASSERT_TRUE(std::regex_match(
        line, port, std::regex(R"(pelko-service: listening on http://127\.0\.0\.1:(\d+))")))
        << line;
    const Reply page =
        Exchange(static_cast<std::uint16_t>(std::stoul(port[1])),
                 "GET /tv/app.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("<title>Pelko网络电视</title>"), std::string::npos);

    g_subprocess_send_signal(service.process, SIGTERM);
    EXPECT_EQ(service.Finish(), 0);
    EXPECT_NE(service.stderr_text.find("\nGET /tv/app.html 200 "), std::string::npos)
        << service.stderr_text;
}

// Listening anywhere but on a loopback address would put the service on the network.
TEST(ServiceProgram, RefusesAnAddressOffTheMachine) {
    Service service({"--bind", "0.0.0.0", "--port", "0"});
    ASSERT_TRUE(service.process);
    EXPECT_EQ(service.Finish(), 2);
    EXPECT_EQ(service.stdout_text, "");
    EXPECT_NE(service.stderr_text, "");
}

}  // namespace
