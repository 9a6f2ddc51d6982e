#pragma once

// The answer a Pelko started by PelkoUpdate owes it: "up" on the socket the
// updater handed over (its number in PELKO_HANDSHAKE_FD), once the main
// window is on the screen and the TV page has been asked for. An updater
// that hears nothing puts the previous program back.

#include <memory>

namespace pelko {

class UpdateHandshake {
  public:
    // Null unless the updater started this process. Takes the variable out
    // of the environment and keeps the socket from every program started
    // later, so neither reaches the page's processes or a later updater.
    // Call it before anything else starts a thread or a process.
    static std::unique_ptr<UpdateHandshake> FromEnvironment();
    ~UpdateHandshake();
    UpdateHandshake(const UpdateHandshake&) = delete;
    UpdateHandshake& operator=(const UpdateHandshake&) = delete;

    void WindowShown();
    void PageRequested();

  private:
    explicit UpdateHandshake(int fd) : fd_(fd) {}
    void SayUpWhenReady();

    int fd_;
    bool shown_ = false;
    bool requested_ = false;
};

}  // namespace pelko
