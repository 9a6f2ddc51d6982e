#pragma once

// A GTK menu offered on the session bus (com.canonical.dbusmenu), for tray
// hosts that draw the menu of an item themselves. The host sees the entries
// as they are at each moment, hidden, greyed or checked, and choosing one
// there activates the very same entry, so it runs the same handler as when
// it is chosen from the menu on screen.

#include <gio/gio.h>
#include <gtkmm.h>

#include <map>
#include <string>
#include <vector>

#include "main/BusObject.h"

namespace pelko {

class DBusMenu : public sigc::trackable, private BusObject::Owner {
  public:
    explicit DBusMenu(std::string path);
    ~DBusMenu();
    DBusMenu(const DBusMenu&) = delete;
    DBusMenu& operator=(const DBusMenu&) = delete;

    void SetMenu(Gtk::Menu& menu);
    void Export(GDBusConnection* bus);
    void Unexport();

  private:
    void MethodCall(const char* method, GVariant* args, GDBusMethodInvocation* invocation) override;
    GVariant* Property(const char* name) override;
    void Forget();
    void Walk(Gtk::Menu& menu, int parent);
    void Changed();
    void SendLayout();
    GVariant* Node(int id, int depth, const std::vector<std::string>& names);
    GVariant* Properties(int id, const std::vector<std::string>& names);
    Gtk::MenuItem* Item(int id) const;
    void Click(int id);
    void Clicked(int id);

    BusObject object_;
    Gtk::Menu* menu_ = nullptr;
    // Ids are given in menu order from 1; 0 is the menu itself.
    std::map<int, Gtk::MenuItem*> items_;
    std::map<int, std::vector<int>> children_;
    std::vector<sigc::connection> watches_;
    unsigned revision_ = 1;
    bool pending_ = false;
};

}  // namespace pelko
