#pragma once

// Fires once when nothing has fed it for a whole period. Feeding only moves
// the deadline of one main-loop source, so a transfer can feed it on every
// read without creating and destroying timers.

#include <glib.h>

#include <chrono>
#include <functional>

namespace pelko::ui {

class Watchdog {
  public:
    // Armed at once, on the thread-default main context.
    Watchdog(std::chrono::milliseconds period, std::function<void()> on_silence);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Starts the period again from now.
    void Feed();
    // Disarms it until the next Feed.
    void Stop();

  private:
    static gboolean Fire(gpointer self);

    gint64 period_us_;
    std::function<void()> on_silence_;
    GSource* source_;
};

}  // namespace pelko::ui
