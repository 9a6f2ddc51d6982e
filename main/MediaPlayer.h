#pragma once

// Pelko as a media player of the desktop: the MPRIS interfaces
// (org.mpris.MediaPlayer2 and its Player) on the session bus, which the
// desktop's media controls, sound applets, lock screens and media keys speak.
// The player is on the bus while the page has media and gone when it has
// none; it tells what the page's media does and passes the desktop's
// commands on. Without a session bus nothing happens.

#include <gio/gio.h>
#include <glibmm/main.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "main/BusObject.h"
#include "main/PageMedia.h"

namespace pelko {

class MediaPlayer : public sigc::trackable, private BusObject::Owner {
  public:
    struct Actions {
        std::function<void()> raise;
        std::function<void()> quit;
        std::function<void(const char* action)> command;  // see PageMedia::Command
    };
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.Pelko";

    explicit MediaPlayer(Actions actions);
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // What the page's media does now, and the title to give when the page
    // names none (its document's title, else the window's caption).
    // Media gone for a moment, as between two channels, keeps the player:
    // it leaves the bus once the page has had none for kGoneAfter.
    void Update(const MediaState& media, const std::string& fallback_title);
    // Leaves the bus now, as when the window closes.
    void Withdraw();
    static constexpr unsigned kGoneAfterMs = 750;

  private:
    void MethodCall(const char* method, GVariant* args, GDBusMethodInvocation* invocation) override;
    GVariant* Property(const char* name) override;
    void Offer();
    GVariant* Metadata() const;
    const char* Status() const;
    void Later(std::function<void()> action);

    Actions actions_;
    GDBusConnection* bus_ = nullptr;
    bool no_bus_ = false;
    std::unique_ptr<BusObject> root_;
    std::unique_ptr<BusObject> player_;
    unsigned owner_id_ = 0;
    MediaState media_;
    std::string title_;
    // Told apart by the desktop: a new title is a new track.
    std::uint64_t track_ = 0;
    std::string art_fallback_;
    sigc::connection gone_;
};

}  // namespace pelko
