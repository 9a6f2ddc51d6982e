#include "controls/watchdog.h"

#include <utility>

namespace pelko::ui {

namespace {

gboolean DispatchOnce(GSource* source, GSourceFunc callback, gpointer data) {
    // One bark per silence: disarmed before the callback, which may feed it again.
    g_source_set_ready_time(source, -1);
    return callback(data);
}

// A source with neither prepare nor check is dispatched when its ready time
// comes, and only then.
GSourceFuncs kFuncs = {nullptr, nullptr, &DispatchOnce, nullptr, nullptr, nullptr};

}  // namespace

Watchdog::Watchdog(std::chrono::milliseconds period, std::function<void()> on_silence)
    : period_us_(std::chrono::duration_cast<std::chrono::microseconds>(period).count()),
      on_silence_(std::move(on_silence)),
      source_(nullptr) {
    source_ = g_source_new(&kFuncs, sizeof(GSource));
    g_source_set_name(source_, "pelko download watchdog");
    g_source_set_callback(source_, &Watchdog::Fire, this, nullptr);
    Feed();
    g_source_attach(source_, g_main_context_get_thread_default());
}

Watchdog::~Watchdog() {
    g_source_destroy(source_);
    g_source_unref(source_);
}

void Watchdog::Feed() { g_source_set_ready_time(source_, g_get_monotonic_time() + period_us_); }

void Watchdog::Stop() { g_source_set_ready_time(source_, -1); }

gboolean Watchdog::Fire(gpointer self) {
    // The handler may destroy this watchdog; nothing of it is touched afterwards.
    static_cast<Watchdog*>(self)->on_silence_();
    return G_SOURCE_CONTINUE;
}

}  // namespace pelko::ui
