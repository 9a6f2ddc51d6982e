#include "main/MediaPlayer.h"

#include <string_view>
#include <utility>

#include <unistd.h>

#include "core/program_folder.h"

namespace pelko {

namespace {

constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kDesktopEntry = "net.pelko.Pelko";
constexpr const char* kIdentity = "Pelko";
// Beside the program, for desktops that show a picture of what plays.
constexpr const char* kIcon = "/pelko.png";

constexpr const char* kRootXml = R"xml(
<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
</node>)xml";

constexpr const char* kPlayerXml = R"xml(
<node>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="read"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="read"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>)xml";

}  // namespace

MediaPlayer::MediaPlayer(Actions actions)
    : actions_(std::move(actions)),
      root_(std::make_unique<BusObject>(kRootXml, kPath, static_cast<Owner&>(*this))),
      player_(std::make_unique<BusObject>(kPlayerXml, kPath, static_cast<Owner&>(*this))) {
    gchar* uri = g_filename_to_uri((ProgramFolder() + kIcon).c_str(), nullptr, nullptr);
    if (uri != nullptr) art_fallback_ = uri;
    g_free(uri);
}

MediaPlayer::~MediaPlayer() {
    Withdraw();
    root_.reset();
    player_.reset();
    if (bus_ != nullptr) g_object_unref(bus_);
}

void MediaPlayer::Update(const MediaState& media, const std::string& fallback_title) {
    if (media.status == MediaState::Status::None) {
        if (owner_id_ != 0 && !gone_.connected()) {
            gone_ = Glib::signal_timeout().connect(
                [this] {
                    Withdraw();
                    return false;
                },
                kGoneAfterMs);
        }
        return;
    }
    gone_.disconnect();
    const bool offered = owner_id_ != 0;
    std::string title = media.title.empty() ? fallback_title : media.title;
    const bool new_track = title != title_ || media.art != media_.art;
    if (new_track) ++track_;
    const MediaState before = std::exchange(media_, media);
    title_ = std::move(title);
    if (!offered) {
        Offer();
        return;
    }
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    if (media_.status != before.status) {
        g_variant_builder_add(&changed, "{sv}", "PlaybackStatus", g_variant_new_string(Status()));
    }
    if (new_track) {
        g_variant_builder_add(&changed, "{sv}", "Metadata", Metadata());
    }
    if (media_.can_next != before.can_next) {
        g_variant_builder_add(&changed, "{sv}", "CanGoNext", g_variant_new_boolean(media_.can_next));
    }
    if (media_.can_previous != before.can_previous) {
        g_variant_builder_add(&changed, "{sv}", "CanGoPrevious",
                              g_variant_new_boolean(media_.can_previous));
    }
    GVariant* dict = g_variant_builder_end(&changed);
    if (g_variant_n_children(dict) == 0) {
        g_variant_unref(g_variant_ref_sink(dict));
        return;
    }
    player_->EmitPropertiesChanged(dict);
}

void MediaPlayer::Offer() {
    if (bus_ == nullptr) {
        if (no_bus_) return;
        GError* error = nullptr;
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (bus_ == nullptr) {
            g_clear_error(&error);
            no_bus_ = true;
            return;
        }
    }
    // The objects first, so that a desktop that sees the name finds them.
    if (!root_->Export(bus_) || !player_->Export(bus_)) {
        Withdraw();
        return;
    }
    // One Pelko runs per user; should another program hold the name, the
    // desktop's usual suffix for a second instance tells them apart.
    owner_id_ = g_bus_own_name_on_connection(
        bus_, kBusName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr,
        +[](GDBusConnection* bus, const char* lost, gpointer self) {
            auto* player = static_cast<MediaPlayer*>(self);
            const std::string instance =
                std::string(kBusName) + ".instance" + std::to_string(getpid());
            if (bus == nullptr || instance == lost) return;
            g_bus_unown_name(player->owner_id_);
            player->owner_id_ =
                g_bus_own_name_on_connection(bus, instance.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                             nullptr, nullptr, self, nullptr);
        },
        this, nullptr);
}

void MediaPlayer::Withdraw() {
    gone_.disconnect();
    if (owner_id_ != 0) g_bus_unown_name(std::exchange(owner_id_, 0));
    if (root_) root_->Unexport();
    if (player_) player_->Unexport();
}

const char* MediaPlayer::Status() const {
    switch (media_.status) {
        case MediaState::Status::Playing: return "Playing";
        case MediaState::Status::Paused: return "Paused";
        case MediaState::Status::Stopped:
        case MediaState::Status::None: break;
    }
    return "Stopped";
}

GVariant* MediaPlayer::Metadata() const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    const std::string track = "/net/pelko/Pelko/track/" + std::to_string(track_);
    g_variant_builder_add(&builder, "{sv}", "mpris:trackid", g_variant_new_object_path(track.c_str()));
    g_variant_builder_add(&builder, "{sv}", "xesam:title", g_variant_new_string(title_.c_str()));
    const std::string& art = media_.art.empty() ? art_fallback_ : media_.art;
    if (!art.empty()) {
        g_variant_builder_add(&builder, "{sv}", "mpris:artUrl", g_variant_new_string(art.c_str()));
    }
    return g_variant_builder_end(&builder);
}

void MediaPlayer::Later(std::function<void()> action) {
    // Out of the bus's callback: what runs may take this player down.
    Glib::signal_idle().connect_once(
        sigc::track_obj([action = std::move(action)] { action(); }, *this));
}

void MediaPlayer::MethodCall(const char* method, GVariant*, GDBusMethodInvocation* invocation) {
    const std::string_view name = method;
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (name == "Raise") return Later(actions_.raise);
    if (name == "Quit") return Later(actions_.quit);
    const char* action = nullptr;
    if (name == "Play") action = "play";
    if (name == "Pause") action = "pause";
    if (name == "PlayPause") action = "playpause";
    if (name == "Stop") action = "stop";
    if (name == "Next" && media_.can_next) action = "nexttrack";
    if (name == "Previous" && media_.can_previous) action = "previoustrack";
    // Seek, SetPosition and OpenUri do nothing: a live channel has no position.
    if (action != nullptr) actions_.command(action);
}

GVariant* MediaPlayer::Property(const char* name) {
    const std::string_view p = name;
    if (p == "CanQuit" || p == "CanRaise" || p == "CanPlay" || p == "CanPause" ||
        p == "CanControl") {
        return g_variant_new_boolean(TRUE);
    }
    if (p == "HasTrackList" || p == "CanSeek") return g_variant_new_boolean(FALSE);
    if (p == "Identity") return g_variant_new_string(kIdentity);
    if (p == "DesktopEntry") return g_variant_new_string(kDesktopEntry);
    if (p == "SupportedUriSchemes" || p == "SupportedMimeTypes") {
        return g_variant_new_strv(nullptr, 0);
    }
    if (p == "PlaybackStatus") return g_variant_new_string(Status());
    if (p == "Metadata") return Metadata();
    if (p == "Rate" || p == "Volume" || p == "MinimumRate" || p == "MaximumRate") {
        return g_variant_new_double(1.0);
    }
    if (p == "Position") return g_variant_new_int64(0);
    if (p == "CanGoNext") return g_variant_new_boolean(media_.can_next);
    if (p == "CanGoPrevious") return g_variant_new_boolean(media_.can_previous);
    return nullptr;
}

}  // namespace pelko
