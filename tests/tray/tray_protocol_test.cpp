// The tray icon as a notifier item, against a watcher and host played by the
// test on a private session bus: what the item registers and says of
// itself, how the host's requests become the icon's six events, the menu it
// exports, and how it follows a watcher that comes and goes.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "main/CTray.h"
#include "tests/support/main_loop.h"

GTestDBus* g_bus = nullptr;

namespace pelko {
namespace {

using test::Settle;
using test::Spin;

// A reply as text, strings without their quotes; "<none>" for no reply.
std::string Printed(GVariant* v) {
    if (v == nullptr) return "<none>";
    gchar* printed = g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)
                         ? g_variant_dup_string(v, nullptr)
                         : g_variant_print(v, FALSE);
    const std::string s = printed;
    g_free(printed);
    g_variant_unref(v);
    return s;
}

constexpr const char* kWatcherXml = R"xml(<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
</node>)xml";

// The desktop's side: a watcher with (or without) a host, on a connection
// of its own, recording what the item tells it.
class Watcher {
  public:
    explicit Watcher(bool host, bool refuse = false) : host_(host), refuse_(refuse) {
        conn_ = g_dbus_connection_new_for_address_sync(
            g_test_dbus_get_bus_address(g_bus),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        node_ = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const char* sender, const char*, const char*, const char*,
               GVariant* args, GDBusMethodInvocation* inv, gpointer self) {
                auto* w = static_cast<Watcher*>(self);
                if (w->refuse_) {
                    g_dbus_method_invocation_return_dbus_error(inv, "org.test.Refused", "no");
                    return;
                }
                const char* service = nullptr;
                g_variant_get(args, "(&s)", &service);
                w->items.push_back(service);
                w->sender = sender;
                g_dbus_method_invocation_return_value(inv, nullptr);
            },
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GError**,
               gpointer self) { return g_variant_new_boolean(static_cast<Watcher*>(self)->host_); },
            nullptr,
            {}};
        g_dbus_connection_register_object(conn_, "/StatusNotifierWatcher", node_->interfaces[0],
                                          &vtable, this, nullptr, nullptr);
        // Every signal on the bus, by name: the item's changes and its menu's.
        g_dbus_connection_signal_subscribe(
            conn_, nullptr, nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char* signal,
               GVariant*,
               gpointer self) { static_cast<Watcher*>(self)->signals.push_back(signal); },
            this, nullptr);
        GVariant* r = g_dbus_connection_call_sync(
            conn_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (r != nullptr) g_variant_unref(r);
    }
    ~Watcher() {
        g_dbus_connection_close_sync(conn_, nullptr, nullptr);
        g_object_unref(conn_);
        g_dbus_node_info_unref(node_);
    }

    void HostArrives() {
        host_ = true;
        g_dbus_connection_emit_signal(conn_, nullptr, "/StatusNotifierWatcher",
                                      "org.kde.StatusNotifierWatcher",
                                      "StatusNotifierHostRegistered", nullptr, nullptr);
    }

    // A call from the host to the item, answered while the loop runs; a
    // failed one leaves its message in `error`.
    GVariant* Call(const char* path, const char* iface, const char* method, GVariant* args) {
        GAsyncResult* result = nullptr;
        g_dbus_connection_call(
            conn_, sender.c_str(), path, iface, method, args, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
            nullptr,
            [](GObject*, GAsyncResult* r, gpointer out) {
                *static_cast<GAsyncResult**>(out) = G_ASYNC_RESULT(g_object_ref(r));
            },
            &result);
        Spin([&] { return result != nullptr; });
        GError* failure = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(conn_, result, &failure);
        g_object_unref(result);
        error = failure != nullptr ? failure->message : "";
        g_clear_error(&failure);
        return reply;
    }
    std::string ItemText(const char* property) {
        GVariant* r = Call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", property));
        if (r == nullptr) return Printed(nullptr);
        GVariant* v = nullptr;
        g_variant_get(r, "(v)", &v);
        g_variant_unref(r);
        return Printed(v);
    }
    // A request that only its effect answers.
    void Send(const char* path, const char* iface, const char* method, GVariant* args) {
        if (GVariant* r = Call(path, iface, method, args)) g_variant_unref(r);
    }
    void Host(const char* method) {
        Send("/StatusNotifierItem", "org.kde.StatusNotifierItem", method,
             g_variant_new("(ii)", 10, 10));
    }
    int Count(const std::string& signal) const {
        return static_cast<int>(std::count(signals.begin(), signals.end(), signal));
    }

    std::vector<std::string> items;
    std::vector<std::string> signals;
    std::string sender;
    std::string error;

  private:
    GDBusConnection* conn_ = nullptr;
    GDBusNodeInfo* node_ = nullptr;
    bool host_;
    bool refuse_;
};

Glib::RefPtr<Gdk::Pixbuf> Solid(guint32 rgba) {
    auto p = Gdk::Pixbuf::create(Gdk::COLORSPACE_RGB, true, 8, 48, 48);
    p->fill(rgba);
    return p;
}

class TrayProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        box.set(Solid(0xFF000080));
        tray = CTray::Create();
        for (auto [signal, name] : {std::pair{&CTray::LButtonDown, "LDown"},
                                    {&CTray::LButtonUp, "LUp"},
                                    {&CTray::LButtonDblClick, "LDbl"},
                                    {&CTray::RButtonDown, "RDown"},
                                    {&CTray::RButtonUp, "RUp"},
                                    {&CTray::RButtonDblClick, "RDbl"}}) {
            ((*tray).*signal)().connect([this, n = std::string(name)] { events.push_back(n); });
        }
        tray->TrayChanged().connect([this] { ++changes; });
    }
    void Show() {
        tray->TipText("Pelko网络电视");
        tray->PicBox(box);
        ASSERT_TRUE(tray->ShowIcon());
    }

    Gtk::Image box;
    std::shared_ptr<CTray> tray;
    std::vector<std::string> events;
    int changes = 0;
};

TEST_F(TrayProtocol, DescribesTheIconAndItsMenuAndRaisesItsEventsOneAtATime) {
    Gtk::Menu menu, skins_menu;
    Gtk::MenuItem show_item{"显示主界面"}, quit_item{"a_b"}, skins{"换肤"}, blue{"Blue"};
    Gtk::CheckMenuItem top_item{"置顶"};
    int shown = 0, quit = 0;
    show_item.signal_activate().connect([&] { ++shown; });
    quit_item.signal_activate().connect([&] { ++quit; });
    for (Gtk::MenuItem* i :
         {&show_item, &quit_item, static_cast<Gtk::MenuItem*>(&top_item), &skins}) {
        menu.append(*i);
        i->show();
    }
    skins_menu.append(blue);
    blue.show();
    skins.set_submenu(skins_menu);
    show_item.hide();
    quit_item.set_sensitive(false);

    Watcher w(true);
    tray->ExportMenu(menu);
    Show();
    ASSERT_TRUE(Spin([&] { return !w.items.empty(); })) << "no registration";
    EXPECT_EQ(w.items[0].rfind("org.kde.StatusNotifierItem-", 0), 0u) << w.items[0];
    EXPECT_TRUE(tray->Embedded());
    EXPECT_EQ(w.ItemText("Status"), "Active");
    EXPECT_EQ(w.ItemText("Title"), "Pelko网络电视");
    EXPECT_EQ(w.ItemText("ToolTip"), "('', [], 'Pelko网络电视', '')");
    EXPECT_EQ(w.ItemText("ItemIsMenu"), "false");
    EXPECT_EQ(w.ItemText("Menu"), "'/MenuBar'");

    // The pictures as the host reads them, "(size, size, [bytes])", the first
    // pixel as alpha, red, green, blue (the bytes of a whole picture: TrayPixmap).
    auto has_picture = [&](const std::string& start) {
        return w.ItemText("IconPixmap").find(start) != std::string::npos;
    };
    EXPECT_TRUE(has_picture("(48, 48, [0x80, 0xff, 0x00, 0x00, "));
    EXPECT_TRUE(has_picture("(16, 16, [0x"));

    // The tip and the picture reach the host when they change, and the tip
    // is cut to what the classic tray would take.
    tray->TipText(std::string(70, 'x'));
    ASSERT_TRUE(Spin([&] { return w.Count("NewToolTip") == 1 && w.Count("NewTitle") == 1; }));
    EXPECT_EQ(w.ItemText("Title"), std::string(63, 'x'));
    box.set(Solid(0x0000FFFF));
    ASSERT_TRUE(Spin([&] { return w.Count("NewIcon") >= 1; }));
    EXPECT_TRUE(has_picture("(48, 48, [0xff, 0x00, 0x00, 0xff, "));

    // The menu's tree holds each piece; an entry's properties come in this order.
    auto expect_in_tree = [&](std::initializer_list<const char*> pieces) {
        const std::string tree =
            Printed(w.Call("/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                           g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0))));
        for (const char* piece : pieces) {
            EXPECT_NE(tree.find(piece), std::string::npos) << piece << " in\n" << tree;
        }
    };
    expect_in_tree({"'label': <'显示主界面'>, 'enabled': <true>, 'visible': <false>",
                    "'label': <'a__b'>, 'enabled': <false>",
                    "'toggle-type': <'checkmark'>, 'toggle-state': <0>",
                    "'children-display': <'submenu'>}, [<(5, {'label': <'Blue'>"});
    // An entry that shows, greys or ticks tells the host, once per change.
    const int before = w.Count("LayoutUpdated");
    show_item.show();
    top_item.set_active(true);
    ASSERT_TRUE(Spin([&] { return w.Count("LayoutUpdated") > before; }));
    expect_in_tree(
        {"'label': <'显示主界面'>, 'enabled': <true>, 'visible': <true>", "'toggle-state': <1>"});
    // A click on an entry runs it, unless it is greyed out or not there.
    auto click = [&](int id) {
        w.Send("/MenuBar", "com.canonical.dbusmenu", "Event",
               g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u));
    };
    click(1);
    ASSERT_TRUE(Spin([&] { return shown == 1; }));
    click(2);
    click(99);
    EXPECT_NE(w.error.find("no entry 99"), std::string::npos) << w.error;
    Settle();
    EXPECT_EQ(quit, 0);

    // The host's requests become the icon's events.
    w.Host("Activate");
    ASSERT_TRUE(Spin([&] { return !events.empty(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"LDbl"}));
    events.clear();
    w.Host("SecondaryActivate");
    w.Send("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Scroll",
           g_variant_new("(is)", 1, "vertical"));
    Settle();
    EXPECT_TRUE(events.empty()) << "no middle button, no wheel";

    // The menu's own loop runs inside the right button's event: the host's
    // clicks meanwhile are answered but raise nothing.
    bool in_menu = false;
    sigc::connection menu_loop = tray->RButtonUp().connect([&] {
        in_menu = true;
        w.Host("Activate");
        Settle();
        in_menu = false;
    });
    w.Host("ContextMenu");
    ASSERT_TRUE(Spin([&] { return events.size() >= 2 && !in_menu; }));
    Settle();
    EXPECT_EQ(events, (std::vector<std::string>{"RDown", "RUp"}));
    menu_loop.disconnect();
    w.Host("Activate");
    ASSERT_TRUE(Spin([&] { return events.size() == 3; }));
    EXPECT_EQ(events.back(), "LDbl");
}

TEST_F(TrayProtocol, FollowsTheWatcherAndFallsBackWhenItGoes) {
    {
        // A watcher without a host shows nothing: the item waits for one.
        Watcher w(false);
        Show();
        Settle();
        EXPECT_TRUE(w.items.empty());
        EXPECT_FALSE(tray->Embedded());
        w.HostArrives();
        ASSERT_TRUE(Spin([&] { return !w.items.empty(); }));
        EXPECT_TRUE(tray->Embedded());
        changes = 0;
    }
    // The panel quits: the owner hears that no tray holds the icon.
    ASSERT_TRUE(Spin([&] { return changes > 0 && !tray->Embedded(); }));
    {
        Watcher again(true);
        ASSERT_TRUE(Spin([&] { return !again.items.empty(); })) << "not registered again";
        EXPECT_TRUE(tray->Embedded());
        // A deleted icon leaves the bus with its name; shown again, it registers again.
        tray->DeleteIcon();
        EXPECT_FALSE(tray->Embedded());
        Settle();
        EXPECT_EQ(again.ItemText("Id"), "<none>");
        ASSERT_TRUE(tray->ShowIcon());
        ASSERT_TRUE(Spin([&] { return again.items.size() == 2; }));
    }
    Settle();
    Watcher refusing(true, true);
    Settle();
    EXPECT_FALSE(tray->Embedded()) << "a refused item is no tray";
}

}  // namespace
}  // namespace pelko

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A bus of the test's own, so that no desktop's watcher takes part.
    // The private bus takes the display away (against autolaunching); the
    // toolkit needs it back.
    const char* display = g_getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    g_bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(g_bus);
    if (!saved.empty()) g_setenv("DISPLAY", saved.c_str(), TRUE);
    auto app = Gtk::Application::create("net.pelko.TrayProtocolTest", Gio::APPLICATION_NON_UNIQUE);
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: skipped\n");
        g_test_dbus_down(g_bus);
        return 0;
    }
    const int status = RUN_ALL_TESTS();
    g_test_dbus_down(g_bus);
    return status;
}
