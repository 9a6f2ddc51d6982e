#include "updater/Handshake.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include "core/handshake_protocol.h"

namespace pelko::updater {

namespace {

// What a program says once it is up; anything else is not that.
constexpr std::string_view kUp = handshake::kUp;

}  // namespace

Handshake::~Handshake() { Stop(); }

void Handshake::Start(const std::string& program, std::chrono::seconds timeout, Done done) {
    Stop();
    done_ = std::move(done);
    said_.clear();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return Finish(Outcome::CannotStart, std::strerror(errno));
    }
    fd_ = ends[0];
    // The program learns its end from the environment, and a test build's
    // pause point is the updater's alone.
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, kVariable, std::to_string(kChildFd).c_str(), TRUE);
    env = g_environ_unsetenv(env, "PELKO_PAUSE_AT");
    gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
    const gint source_fds[] = {ends[1]};
    const gint target_fds[] = {kChildFd};
    GError* error = nullptr;
    const gboolean started = g_spawn_async_with_pipes_and_fds(
        nullptr, argv, env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, -1, -1, -1, source_fds,
        target_fds, 1, &pid_, nullptr, nullptr, nullptr, &error);
    g_strfreev(env);
    ::close(ends[1]);
    if (!started) {
        std::string why = error->message;
        g_error_free(error);
        return Finish(Outcome::CannotStart, why);
    }
    running_ = true;
    read_source_ = g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                 &Handshake::OnReadable, this);
    child_source_ = g_child_watch_add(pid_, &Handshake::OnExited, this);
    timeout_source_ =
        g_timeout_add_seconds(static_cast<guint>(timeout.count()), &Handshake::OnTimeout, this);
}

void Handshake::Kill() {
    if (!running_) return;
    running_ = false;
    ::kill(pid_, SIGKILL);
    // Gone before anything else starts in its place.
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    g_spawn_close_pid(pid_);
}

bool Handshake::ReadSaid() {
    char buffer[16];
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        said_.append(buffer, static_cast<std::size_t>(got));
        // Nothing longer than the word is worth keeping.
        if (said_.size() > kUp.size()) said_.resize(kUp.size() + 1);
    }
    return said_ == kUp;
}

gboolean Handshake::OnReadable(gint, GIOCondition condition, gpointer self) {
    auto& h = *static_cast<Handshake*>(self);
    if (h.ReadSaid()) {
        h.read_source_ = 0;
        h.Finish(Outcome::CameUp);
        return G_SOURCE_REMOVE;
    }
    if ((condition & (G_IO_HUP | G_IO_ERR)) != 0) {
        // Closed without a word: the program's exit or the time will tell.
        h.read_source_ = 0;
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void Handshake::OnExited(GPid pid, gint status, gpointer self) {
    auto& h = *static_cast<Handshake*>(self);
    h.child_source_ = 0;
    h.running_ = false;
    g_spawn_close_pid(pid);
    // A word written just before the end still counts.
    if (h.fd_ >= 0 && h.ReadSaid()) return h.Finish(Outcome::CameUp);
    if (WIFSIGNALED(status)) return h.Finish(Outcome::Crashed, std::to_string(WTERMSIG(status)));
    h.Finish(Outcome::Exited, std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status));
}

gboolean Handshake::OnTimeout(gpointer self) {
    auto& h = *static_cast<Handshake*>(self);
    h.timeout_source_ = 0;
    h.Finish(Outcome::Silent);
    return G_SOURCE_REMOVE;
}

void Handshake::Finish(Outcome outcome, std::string detail) {
    if (!done_) return;
    const Done done = std::exchange(done_, nullptr);
    // The program is no longer watched; one that came up runs on by itself.
    Stop();
    done(outcome, std::move(detail));
}

void Handshake::Stop() {
    done_ = nullptr;
    for (guint* source : {&read_source_, &child_source_, &timeout_source_}) {
        if (*source != 0) g_source_remove(std::exchange(*source, 0));
    }
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace pelko::updater
