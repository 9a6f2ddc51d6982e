#include "main/UpdateHandshake.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "core/handshake_protocol.h"

namespace pelko {

namespace {

constexpr const char* kVariable = handshake::kVariable;

}  // namespace

std::unique_ptr<UpdateHandshake> UpdateHandshake::FromEnvironment() {
    const char* text = std::getenv(kVariable);
    if (text == nullptr) return nullptr;
    const std::string_view view = text;
    int fd = -1;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), fd);
    ::unsetenv(kVariable);
    // Only a socket is written to: a stale or mistaken number may name any
    // file this process has open.
    struct stat st {};
    if (error != std::errc{} || end != view.data() + view.size() || fd < 0 ||
        ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return nullptr;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<UpdateHandshake>(new UpdateHandshake(fd));
}

UpdateHandshake::~UpdateHandshake() {
    if (fd_ >= 0) ::close(fd_);
}

void UpdateHandshake::WindowShown() {
    shown_ = true;
    SayUpWhenReady();
}

void UpdateHandshake::PageRequested() {
    requested_ = true;
    SayUpWhenReady();
}

void UpdateHandshake::SayUpWhenReady() {
    if (fd_ < 0 || !shown_ || !requested_) return;
    // An updater that has gone meanwhile costs nothing: no SIGPIPE, no wait.
    [[maybe_unused]] const auto sent =
        ::send(fd_, handshake::kUp.data(), handshake::kUp.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace pelko
