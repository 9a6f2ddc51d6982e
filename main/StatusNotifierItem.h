#pragma once

// The tray icon as today's desktops show it: an item on the session bus
// (org.kde.StatusNotifierItem) that the desktop's notifier watcher is told
// about and its host draws. The item follows the watcher: it registers when
// a watcher with a host is there, and again when a restarted panel brings a
// new one.

#include <gio/gio.h>
#include <gtkmm.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "main/BusObject.h"

namespace pelko {

class DBusMenu;

class StatusNotifierItem : public sigc::trackable, private BusObject::Owner {
  public:
    StatusNotifierItem();
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Puts the item on the bus (and withdraws it); it reaches a host when
    // one is there, now or later.
    void Show();
    void Hide();
    // Shown and registered with a watcher that has a host.
    bool Active() const { return shown_ && registered_; }
    // Whether a watcher with a host is on the bus.
    bool HostPresent() const { return host_present_; }

    void SetIcon(const Glib::RefPtr<Gdk::Pixbuf>& picture, const std::string& theme_name);
    void SetText(const std::string& text);
    // The menu a host shows from the item, exported beside it.
    void SetMenu(Gtk::Menu& menu);

    // What the host asks of the item, each after the host has had its answer.
    sigc::signal<void()>& Activated() { return activated_; }
    sigc::signal<void()>& ContextMenuRequested() { return context_menu_; }
    sigc::signal<void()>& SecondaryActivated() { return secondary_; }
    // Active() may have changed.
    sigc::signal<void()>& Changed() { return changed_; }

  private:
    void MethodCall(const char* method, GVariant* args, GDBusMethodInvocation* invocation) override;
    GVariant* Property(const char* name) override;

    struct Pixmap {
        int size;
        std::vector<std::uint8_t> argb;
    };

    void WatcherOwnerChanged();
    void WatcherSignal(const char* signal);
    void QueryHost();
    void HostKnown(bool present);
    void Update();
    bool Export();
    void Withdraw();
    void Register();
    GVariant* Pixmaps() const;

    GDBusConnection* bus_ = nullptr;
    GDBusProxy* watcher_ = nullptr;
    GCancellable* cancel_ = nullptr;
    std::string name_;
    BusObject object_;
    bool shown_ = false;
    bool registered_ = false;
    bool host_present_ = false;
    std::vector<Pixmap> pixmaps_;
    std::string theme_name_;
    std::string text_;
    std::unique_ptr<DBusMenu> menu_;
    sigc::signal<void()> activated_, context_menu_, secondary_, changed_;
};

}  // namespace pelko
