#include "main/StatusNotifierItem.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "core/tray_pixmap.h"
#include "main/DBusMenu.h"

namespace pelko {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";

constexpr const char* kIntrospection = R"xml(<node>
 <interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="WindowId" type="i" access="read"/>
  <property name="IconThemePath" type="s" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="OverlayIconName" type="s" access="read"/>
  <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionIconName" type="s" access="read"/>
  <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionMovieName" type="s" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <property name="Menu" type="o" access="read"/>
  <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
  <signal name="NewTitle"/>
  <signal name="NewIcon"/>
  <signal name="NewAttentionIcon"/>
  <signal name="NewOverlayIcon"/>
  <signal name="NewToolTip"/>
  <signal name="NewStatus"><arg name="status" type="s"/></signal>
 </interface>
</node>)xml";

// Each item of the process has a bus name of its own.
std::string NextName() {
    static std::atomic<int> count{0};
    return "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
           std::to_string(++count);
}

bool Cancelled(GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

}  // namespace

StatusNotifierItem::StatusNotifierItem() : object_(kIntrospection, kPath, *this) {
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus_ == nullptr) {
        // No session bus, no notifier host: the classic tray or none.
        g_clear_error(&error);
        return;
    }
    cancel_ = g_cancellable_new();
    // The watcher is only watched, never started: a desktop without one
    // simply has no host for the item.
    watcher_ = g_dbus_proxy_new_sync(bus_, G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, nullptr, kWatcher,
                                     kWatcherPath, kWatcher, nullptr, &error);
    if (watcher_ == nullptr) {
        g_clear_error(&error);
        return;
    }
    g_signal_connect(watcher_, "notify::g-name-owner",
                     G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
                         static_cast<StatusNotifierItem*>(self)->WatcherOwnerChanged();
                     }),
                     this);
    g_signal_connect(
        watcher_, "g-signal",
        G_CALLBACK(+[](GDBusProxy*, const char*, const char* signal, GVariant*, gpointer self) {
            static_cast<StatusNotifierItem*>(self)->WatcherSignal(signal);
        }),
        this);
    WatcherOwnerChanged();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (cancel_ != nullptr) g_cancellable_cancel(cancel_);
    if (watcher_ != nullptr) g_signal_handlers_disconnect_by_data(watcher_, this);
    Withdraw();
    menu_.reset();
    if (bus_ != nullptr) g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    g_clear_object(&watcher_);
    g_clear_object(&cancel_);
    g_clear_object(&bus_);
}

void StatusNotifierItem::Show() {
    shown_ = true;
    Update();
}

void StatusNotifierItem::Hide() {
    const bool was = Active();
    shown_ = false;
    registered_ = false;
    Withdraw();
    if (was) changed_.emit();
}

void StatusNotifierItem::SetIcon(const Glib::RefPtr<Gdk::Pixbuf>& picture,
                                 const std::string& theme_name) {
    pixmaps_.clear();
    theme_name_ = theme_name;
    if (picture) {
        // Hosts pick the size that suits their panel; they scale worse than we do.
        for (int size : {16, 22, 24, 32, 48, 64}) {
            if (size > std::max(picture->get_width(), picture->get_height())) break;
            auto scaled = picture->scale_simple(size, size, Gdk::INTERP_BILINEAR);
            if (!scaled) continue;
            auto argb = tray::ToNetworkArgb({scaled->get_pixels(), scaled->get_width(),
                                             scaled->get_height(), scaled->get_rowstride(),
                                             scaled->get_n_channels()});
            if (!argb.empty()) pixmaps_.push_back({size, std::move(argb)});
        }
    }
    object_.Emit("NewIcon");
}

void StatusNotifierItem::SetText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    object_.Emit("NewTitle");
    object_.Emit("NewToolTip");
}

void StatusNotifierItem::SetMenu(Gtk::Menu& menu) {
    if (!menu_) menu_ = std::make_unique<DBusMenu>(kMenuPath);
    menu_->SetMenu(menu);
    if (object_.Exported()) menu_->Export(bus_);
}

void StatusNotifierItem::WatcherOwnerChanged() {
    // A new watcher knows nothing of the item: it registers again.
    const bool was = Active();
    registered_ = false;
    if (was) changed_.emit();
    char* owner = g_dbus_proxy_get_name_owner(watcher_);
    const bool present = owner != nullptr;
    g_free(owner);
    if (!present) {
        HostKnown(false);
        return;
    }
    if (GVariant* v =
            g_dbus_proxy_get_cached_property(watcher_, "IsStatusNotifierHostRegistered")) {
        const bool host =
            g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(v);
        g_variant_unref(v);
        HostKnown(host);
    } else {
        QueryHost();
    }
}

void StatusNotifierItem::WatcherSignal(const char* signal) {
    const std::string s = signal;
    if (s == "StatusNotifierHostRegistered") {
        HostKnown(true);
    } else if (s == "StatusNotifierHostUnregistered") {
        // Another host may still be there: ask.
        QueryHost();
    }
}

void StatusNotifierItem::QueryHost() {
    g_dbus_proxy_call(
        watcher_, "org.freedesktop.DBus.Properties.Get",
        g_variant_new("(ss)", kWatcher, "IsStatusNotifierHostRegistered"), G_DBUS_CALL_FLAGS_NONE,
        -1, cancel_,
        +[](GObject* source, GAsyncResult* result, gpointer self) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, &error);
            if (reply == nullptr) {
                const bool cancelled = Cancelled(error);
                g_clear_error(&error);
                if (!cancelled) static_cast<StatusNotifierItem*>(self)->HostKnown(false);
                return;
            }
            GVariant* value = nullptr;
            g_variant_get(reply, "(v)", &value);
            const bool host =
                g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
            g_variant_unref(value);
            g_variant_unref(reply);
            static_cast<StatusNotifierItem*>(self)->HostKnown(host);
        },
        this);
}

void StatusNotifierItem::HostKnown(bool present) {
    const bool was = Active();
    host_present_ = present;
    if (!present) registered_ = false;
    Update();
    if (was != Active()) changed_.emit();
}

void StatusNotifierItem::Update() {
    if (!shown_ || !host_present_ || registered_) return;
    if (!Export()) return;
    Register();
}

bool StatusNotifierItem::Export() {
    if (object_.Exported()) return true;
    if (!object_.Export(bus_)) return false;
    if (menu_) menu_->Export(bus_);
    name_ = NextName();
    constexpr guint32 kDoNotQueue = 4;
    constexpr guint32 kPrimaryOwner = 1;
    guint32 answer = 0;
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", name_.c_str(), kDoNotQueue), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) {
        g_variant_get(reply, "(u)", &answer);
        g_variant_unref(reply);
    }
    // Watchers also take the connection's own name.
    if (answer != kPrimaryOwner) name_ = g_dbus_connection_get_unique_name(bus_);
    return true;
}

void StatusNotifierItem::Withdraw() {
    if (!object_.Exported()) return;
    object_.Unexport();
    if (menu_) menu_->Unexport();
    // The watcher forgets the item when its name leaves the bus.
    if (name_.rfind("org.kde.", 0) == 0) {
        g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "ReleaseName",
                               g_variant_new("(s)", name_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                               -1, nullptr, nullptr, nullptr);
    }
    name_.clear();
}

void StatusNotifierItem::Register() {
    registered_ = true;
    g_dbus_proxy_call(
        watcher_, "RegisterStatusNotifierItem", g_variant_new("(s)", name_.c_str()),
        G_DBUS_CALL_FLAGS_NONE, -1, cancel_,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, &error);
            if (reply != nullptr) {
                g_variant_unref(reply);
                return;
            }
            if (!Cancelled(error)) {
                auto* self = static_cast<StatusNotifierItem*>(data);
                std::fprintf(stderr, "Pelko: the notifier watcher refused the tray item: %s\n",
                             error->message);
                // Not again until the watcher changes: the classic tray takes over.
                self->registered_ = false;
                self->host_present_ = false;
                self->changed_.emit();
            }
            g_clear_error(&error);
        },
        this);
}

void StatusNotifierItem::MethodCall(const char* method, GVariant*,
                                    GDBusMethodInvocation* invocation) {
    // The host has its answer before anything runs: a handler may open a
    // menu with a loop of its own, and the host must not wait for it.
    g_dbus_method_invocation_return_value(invocation, nullptr);
    const std::string m = method;
    sigc::signal<void()>* raised = m == "Activate"            ? &activated_
                                   : m == "ContextMenu"       ? &context_menu_
                                   : m == "SecondaryActivate" ? &secondary_
                                                              : nullptr;
    if (raised == nullptr) return;
    Glib::signal_idle().connect_once(sigc::track_obj([raised] { raised->emit(); }, *this));
}

GVariant* StatusNotifierItem::Pixmaps() const {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
    for (const auto& p : pixmaps_) {
        GVariant* bytes =
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, p.argb.data(), p.argb.size(), 1);
        g_variant_builder_add(&b, "(ii@ay)", p.size, p.size, bytes);
    }
    return g_variant_builder_end(&b);
}

GVariant* StatusNotifierItem::Property(const char* name) {
    const std::string n = name;
    if (n == "Category") return g_variant_new_string("ApplicationStatus");
    if (n == "Id") return g_variant_new_string("pelko");
    if (n == "Title") return g_variant_new_string(text_.c_str());
    if (n == "Status") return g_variant_new_string("Active");
    if (n == "WindowId") return g_variant_new_int32(0);
    if (n == "IconName") return g_variant_new_string(theme_name_.c_str());
    if (n == "IconPixmap") return Pixmaps();
    if (n == "OverlayIconPixmap" || n == "AttentionIconPixmap") {
        return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    }
    if (n == "ToolTip") {
        // The tip is text only; the host shows the icon beside it already.
        return g_variant_new("(s@a(iiay)ss)", "",
                             g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                             text_.c_str(), "");
    }
    if (n == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (n == "Menu") return g_variant_new_object_path(menu_ ? kMenuPath : "/");
    return g_variant_new_string("");
}

}  // namespace pelko
