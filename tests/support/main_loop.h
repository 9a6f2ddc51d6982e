#pragma once

// Waiting on the default main context, for the tests of code that answers
// through it: it runs until what the test waits for has happened, and
// never longer than the time the test gives.

#include <glib.h>

#include <atomic>
#include <functional>
#include <thread>

namespace pelko::test {

// Runs the main context until `done` holds, checked after every event it
// handles; false when `ms` pass first.
inline bool Spin(const std::function<bool()>& done, unsigned ms = 10000) {
    bool timed_out = false;
    const guint timer = g_timeout_add(
        ms,
        [](gpointer t) {
            *static_cast<bool*>(t) = true;
            return G_SOURCE_REMOVE;
        },
        &timed_out);
    while (!done() && !timed_out) g_main_context_iteration(nullptr, TRUE);
    if (!timed_out) g_source_remove(timer);
    return !timed_out;
}

// A moment of the main context for what must not happen, a second event or
// a reply that should never come.
inline void Settle(unsigned ms = 300) {
    Spin([] { return false; }, ms);
}

// Runs `work` on a thread while the main context runs. When it takes longer
// than `ms`, `unblock` must make it return. False on a timeout.
inline bool RunBeside(const std::function<void()>& work, const std::function<void()>& unblock,
                      unsigned ms = 15000) {
    std::atomic<bool> finished = false;
    std::thread thread([&] {
        work();
        finished = true;
        g_main_context_wakeup(nullptr);
    });
    const bool in_time = Spin([&] { return finished.load(); }, ms);
    if (!in_time) unblock();
    thread.join();
    return in_time;
}

}  // namespace pelko::test
