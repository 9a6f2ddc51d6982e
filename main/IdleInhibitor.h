#pragma once

// Keeps the screen from blanking while the user watches: the desktop's
// screensaver is asked, through its standard D-Bus interface
// (org.freedesktop.ScreenSaver), not to start, and told again when it may.
// Without such a service on the session bus nothing happens. The desktop
// also lets go by itself if Pelko ends, since the request is tied to our
// bus connection.

#include <giomm.h>

#include <cstdint>
#include <optional>

namespace pelko {

class IdleInhibitor : public sigc::trackable {
public:
    IdleInhibitor();
    ~IdleInhibitor();
    IdleInhibitor(const IdleInhibitor&) = delete;
    IdleInhibitor& operator=(const IdleInhibitor&) = delete;

    // Asks for the screen to stay on (true) or lets it go (false). Repeated
    // calls with the same wish do nothing.
    void Inhibit(bool on);
    bool Inhibited() const { return wanted_; }

private:
    void Send();
    void OnInhibitReply(Glib::RefPtr<Gio::AsyncResult>& result);
    void Release(std::uint32_t cookie, bool wait);

    Glib::RefPtr<Gio::DBus::Connection> bus_;
    bool wanted_ = false;
    bool pending_ = false;
    std::optional<std::uint32_t> cookie_;
};

}  // namespace pelko
