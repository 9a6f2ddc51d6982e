#include "main/IdleInhibitor.h"

#include <cstdio>

namespace pelko {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

}  // namespace

IdleInhibitor::IdleInhibitor() {
    try {
        bus_ = Gio::DBus::Connection::get_sync(Gio::DBus::BUS_TYPE_SESSION);
    } catch (const Glib::Error& e) {
        // No session bus, no screensaver to ask.
        std::fprintf(stderr, "Pelko: the screen may blank while playing: %s\n", e.what().c_str());
    }
}

IdleInhibitor::~IdleInhibitor() {
    if (bus_ && cookie_) Release(*cookie_, true);
}

void IdleInhibitor::Inhibit(bool on) {
    if (on == wanted_) return;
    wanted_ = on;
    Send();
}

void IdleInhibitor::Send() {
    if (!bus_ || pending_) return;
    if (wanted_ && !cookie_) {
        pending_ = true;
        const auto args = Glib::VariantContainerBase::create_tuple(
            {Glib::Variant<Glib::ustring>::create("Pelko"),
             Glib::Variant<Glib::ustring>::create("正在播放视频")});
        bus_->call(kPath, kInterface, "Inhibit", args,
                   sigc::mem_fun(*this, &IdleInhibitor::OnInhibitReply), kService);
    } else if (!wanted_ && cookie_) {
        Release(*cookie_, false);
        cookie_.reset();
    }
}

void IdleInhibitor::OnInhibitReply(Glib::RefPtr<Gio::AsyncResult>& result) {
    pending_ = false;
    try {
        const auto reply = bus_->call_finish(result);
        Glib::Variant<std::uint32_t> cookie;
        reply.get_child(cookie, 0);
        cookie_ = cookie.get();
    } catch (const Glib::Error&) {
        // No screensaver on this desktop: watching goes on regardless.
        return;
    }
    // The wish may have changed while the request was on its way.
    Send();
}

void IdleInhibitor::Release(std::uint32_t cookie, bool wait) {
    // Nobody waits for the answer.
    g_dbus_connection_call(bus_->gobj(), kService, kPath, kInterface, "UnInhibit",
                           g_variant_new("(u)", cookie), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, nullptr, nullptr);
    // At the end of the run the call must leave before the connection goes.
    if (wait) g_dbus_connection_flush_sync(bus_->gobj(), nullptr, nullptr);
}

}  // namespace pelko
