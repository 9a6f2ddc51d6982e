#pragma once

// The service tests talk to the server over a plain socket on a thread of
// their own, so that they can send what no well-behaved client would, while
// the main loop keeps an in-process server running.

#include <arpa/inet.h>
#include <gio/gio.h>
#include <glib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/main_loop.h"
#include "tests/support/temp_dir.h"

namespace pelko::service::testing {

using pelko::test::RunBeside;

// What no request may ever get back: the text of a file beside the web root.
inline constexpr char kSecret[] = "TOP-SECRET-OUTSIDE-THE-ROOT";

// Makes dir/www with a ten-byte file and a tv/ folder, beside dir/outside
// with the secret; returns the web root.
inline std::string PutWebRootBesideSecret(const pelko::test::TempDir& dir) {
    std::filesystem::create_directories(dir.path() / "www/tv");
    std::filesystem::create_directory(dir.path() / "outside");
    dir.Put("outside/secret.txt", kSecret);
    // A folder whose name begins with the root's, and a link into it: the
    // root is a folder, not a prefix of names.
    std::filesystem::create_directory(dir.path() / "www-private");
    dir.Put("www-private/secret.txt", kSecret);
    std::filesystem::create_symlink("../www-private/secret.txt", dir.path() / "www/private.txt");
    dir.Put("www/digits.txt", "0123456789");
    return dir.PathOf("www");
}

struct Reply {
    unsigned status = 0;  // 0 when no status line came
    std::string head;     // status line and headers, in lower case
    std::string body;
    bool closed = false;  // the server closed the connection (rather than a timeout)
};

// Sends `request` as it is to 127.0.0.1:port and reads until the server
// closes the connection. `between` runs once the response headers are in.
inline Reply Exchange(
    std::uint16_t port, const std::string& request, const std::function<void()>& between = [] {}) {
    Reply reply;
    std::string bytes;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};  // every blocking call below ends within this time
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const bool finished = RunBeside(
        [&] {
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0)
                return;
            char buffer[64 * 1024];
            for (;;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                // A reset counts as closed: the server may drop a client it has refused.
                reply.closed = n == 0 || (n < 0 && errno == ECONNRESET);
                if (n <= 0) break;
                const bool had_head = bytes.find("\r\n\r\n") != std::string::npos;
                bytes.append(buffer, static_cast<std::size_t>(n));
                if (!had_head && bytes.find("\r\n\r\n") != std::string::npos) between();
            }
        },
        [fd] { ::shutdown(fd, SHUT_RDWR); });
    ::close(fd);
    reply.closed = reply.closed && finished;
    const auto end = bytes.find("\r\n\r\n");
    reply.head = bytes.substr(0, end);
    for (char& c : reply.head) c = g_ascii_tolower(c);
    if (end != std::string::npos) reply.body = bytes.substr(end + 4);
    std::sscanf(reply.head.c_str(), "http/1.%*d %u", &reply.status);
    return reply;
}

// A request as a client sends it, with a header line or more if given,
// asking the server to close the connection after its answer.
inline Reply Request(std::uint16_t port, const std::string& request_line,
                     const std::string& header = "") {
    return Exchange(
        port, request_line + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + header + "\r\n");
}

#ifdef PELKO_SERVICE_BINARY
// One run of the program, with its output in pipes; it ends with the test
// whatever happens in it.
struct Service {
    // A test that sends many requests silences the log, which would fill
    // an unread pipe and stall the server.
    explicit Service(std::vector<const char*> args,
                     GSubprocessFlags log = G_SUBPROCESS_FLAGS_STDERR_PIPE) {
        args.insert(args.begin(), PELKO_SERVICE_BINARY);
        args.push_back(nullptr);
        GSubprocessLauncher* launcher = g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | log));
        // Killed with the test even when the test itself is killed.
        g_subprocess_launcher_set_child_setup(
            launcher, [](gpointer) { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, nullptr);
        process = g_subprocess_launcher_spawnv(launcher, args.data(), nullptr);
        g_object_unref(launcher);
    }
    ~Service() {
        if (!process) return;
        g_subprocess_force_exit(process);
        g_subprocess_wait(process, nullptr, nullptr);
        g_object_unref(process);
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The port of the program's first line on standard output ("pelko-service:
    // listening on http://127.0.0.1:PORT"), 0 when no such line came in time.
    std::uint16_t Port() {
        GInputStream* out = g_subprocess_get_stdout_pipe(process);
        char c;
        const bool finished = RunBeside(
            [&] {
                while (g_input_stream_read(out, &c, 1, nullptr, nullptr) == 1 && c != '\n')
                    first_line += c;
            },
            [this] { g_subprocess_force_exit(process); });
        std::smatch port;
        const std::regex announced(R"(pelko-service: listening on http://127\.0\.0\.1:(\d+))");
        if (!finished || !std::regex_match(first_line, port, announced)) return 0;
        return static_cast<std::uint16_t>(std::stoul(port[1]));
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
    std::string first_line;
    std::string stdout_text;
    std::string stderr_text;
};

#endif

}  // namespace pelko::service::testing
