#pragma once

// Starts the new main program and waits to hear that it came up. The
// program gets one end of a socket pair as descriptor 3, named by
// PELKO_HANDSHAKE_FD in its environment, and writes "up" on it once its
// window is shown and its page requested. A program that exits, dies or
// stays silent until the time is up has failed.

#include <glib.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "core/handshake_protocol.h"

namespace pelko::updater {

class Handshake {
  public:
    enum class Outcome { CameUp, CannotStart, Exited, Crashed, Silent };
    // Reported once, from the main loop; `detail` is the exit code, the
    // signal's number or the reason the program could not be started.
    using Done = std::function<void(Outcome, std::string detail)>;

    static constexpr std::chrono::seconds kTimeout{30};
    static constexpr const char* kVariable = handshake::kVariable;
    static constexpr int kChildFd = 3;

    Handshake() = default;
    ~Handshake();
    Handshake(const Handshake&) = delete;
    Handshake& operator=(const Handshake&) = delete;

    // Starts `program` with no arguments in the inherited working folder.
    // A program that cannot be started is reported like any other failure.
    void Start(const std::string& program, std::chrono::seconds timeout, Done done);
    // Ends a program that stays silent, so that another can take its place.
    void Kill();
    // Stops listening and reports nothing; the program runs on, unwatched.
    void Stop();

  private:
    static gboolean OnReadable(gint fd, GIOCondition condition, gpointer self);
    static void OnExited(GPid pid, gint status, gpointer self);
    static gboolean OnTimeout(gpointer self);
    // Reads what the program wrote; true once it said it came up.
    bool ReadSaid();
    void Finish(Outcome outcome, std::string detail = {});

    Done done_;
    int fd_ = -1;
    GPid pid_ = 0;
    bool running_ = false;
    guint read_source_ = 0;
    guint child_source_ = 0;
    guint timeout_source_ = 0;
    std::string said_;
};

}  // namespace pelko::updater
