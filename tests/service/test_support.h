#pragma once

// The service tests talk to the server over a plain socket on a thread of
// their own, so that they can send what no well-behaved client would, while
// the main loop keeps an in-process server running.

#include <arpa/inet.h>
#include <glib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace pelko::service::testing {

// Runs `work` on a thread while the default main loop runs. When it takes
// longer than `timeout_ms`, `unblock` must make it return. False on a timeout.
inline bool RunBeside(const std::function<void()>& work, const std::function<void()>& unblock,
                      unsigned timeout_ms = 15000) {
    struct State {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        bool timed_out = false;
    } state;
    const guint timer = g_timeout_add(
        timeout_ms,
        [](gpointer s) {
            static_cast<State*>(s)->timed_out = true;
            g_main_loop_quit(static_cast<State*>(s)->loop);
            return G_SOURCE_REMOVE;
        },
        &state);
    std::thread thread([&] {
        work();
        // An idle source, so that a quit that comes before the loop runs is not lost.
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            g_main_loop_ref(state.loop), reinterpret_cast<GDestroyNotify>(g_main_loop_unref));
    });
    g_main_loop_run(state.loop);
    if (state.timed_out) unblock();
    thread.join();
    if (!state.timed_out) g_source_remove(timer);
    g_main_loop_unref(state.loop);
    return !state.timed_out;
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

}  // namespace pelko::service::testing
