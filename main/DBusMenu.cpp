#include "main/DBusMenu.h"

#include <algorithm>

namespace pelko {

namespace {

constexpr const char* kIntrospection = R"xml(<node>
 <interface name="com.canonical.dbusmenu">
  <property name="Version" type="u" access="read"/>
  <property name="TextDirection" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="IconThemePath" type="as" access="read"/>
  <method name="GetLayout">
   <arg type="i" name="parentId" direction="in"/>
   <arg type="i" name="recursionDepth" direction="in"/>
   <arg type="as" name="propertyNames" direction="in"/>
   <arg type="u" name="revision" direction="out"/>
   <arg type="(ia{sv}av)" name="layout" direction="out"/>
  </method>
  <method name="GetGroupProperties">
   <arg type="ai" name="ids" direction="in"/>
   <arg type="as" name="propertyNames" direction="in"/>
   <arg type="a(ia{sv})" name="properties" direction="out"/>
  </method>
  <method name="GetProperty">
   <arg type="i" name="id" direction="in"/>
   <arg type="s" name="name" direction="in"/>
   <arg type="v" name="value" direction="out"/>
  </method>
  <method name="Event">
   <arg type="i" name="id" direction="in"/>
   <arg type="s" name="eventId" direction="in"/>
   <arg type="v" name="data" direction="in"/>
   <arg type="u" name="timestamp" direction="in"/>
  </method>
  <method name="EventGroup">
   <arg type="a(isvu)" name="events" direction="in"/>
   <arg type="ai" name="idErrors" direction="out"/>
  </method>
  <method name="AboutToShow">
   <arg type="i" name="id" direction="in"/>
   <arg type="b" name="needUpdate" direction="out"/>
  </method>
  <method name="AboutToShowGroup">
   <arg type="ai" name="ids" direction="in"/>
   <arg type="ai" name="updatesNeeded" direction="out"/>
   <arg type="ai" name="idErrors" direction="out"/>
  </method>
  <signal name="ItemsPropertiesUpdated">
   <arg type="a(ia{sv})" name="updatedProps"/>
   <arg type="a(ias)" name="removedProps"/>
  </signal>
  <signal name="LayoutUpdated">
   <arg type="u" name="revision"/>
   <arg type="i" name="parent"/>
  </signal>
  <signal name="ItemActivationRequested">
   <arg type="i" name="id"/>
   <arg type="u" name="timestamp"/>
  </signal>
 </interface>
</node>)xml";

std::vector<std::string> Strings(GVariant* as) {
    std::vector<std::string> out;
    GVariantIter it;
    g_variant_iter_init(&it, as);
    const char* s = nullptr;
    while (g_variant_iter_next(&it, "&s", &s)) out.emplace_back(s);
    return out;
}

std::vector<int> Ints(GVariant* ai) {
    std::vector<int> out;
    GVariantIter it;
    g_variant_iter_init(&it, ai);
    gint32 i = 0;
    while (g_variant_iter_next(&it, "i", &i)) out.push_back(i);
    return out;
}

// An underscore in a label would read as a mnemonic mark.
std::string Escaped(const std::string& label) {
    std::string out;
    for (char c : label) {
        out += c;
        if (c == '_') out += '_';
    }
    return out;
}

}  // namespace

DBusMenu::DBusMenu(std::string path) : object_(kIntrospection, std::move(path), *this) {}

DBusMenu::~DBusMenu() { Forget(); }

void DBusMenu::Forget() {
    for (auto& c : watches_) c.disconnect();
    watches_.clear();
    for (auto& [id, item] : items_) item->remove_destroy_notify_callback(this);
    if (menu_ != nullptr) menu_->remove_destroy_notify_callback(this);
    items_.clear();
    children_.clear();
    menu_ = nullptr;
}

void DBusMenu::SetMenu(Gtk::Menu& menu) {
    Forget();
    menu_ = &menu;
    // The entries belong to the window; whichever goes first, the menu is
    // no longer offered.
    auto gone = [](void* self) -> void* {
        auto* m = static_cast<DBusMenu*>(self);
        m->Forget();
        m->Changed();
        return nullptr;
    };
    menu.add_destroy_notify_callback(this, gone);
    Walk(menu, 0);
    for (auto& [id, item] : items_) item->add_destroy_notify_callback(this, gone);
    Changed();
}

void DBusMenu::Walk(Gtk::Menu& menu, int parent) {
    auto& kids = children_[parent];
    for (Gtk::Widget* w : menu.get_children()) {
        auto* item = dynamic_cast<Gtk::MenuItem*>(w);
        if (item == nullptr) continue;
        const int id = static_cast<int>(items_.size()) + 1;
        items_[id] = item;
        kids.push_back(id);
        const auto changed = [this] { Changed(); };
        watches_.push_back(item->property_visible().signal_changed().connect(changed));
        watches_.push_back(item->property_sensitive().signal_changed().connect(changed));
        watches_.push_back(item->property_label().signal_changed().connect(changed));
        if (auto* check = dynamic_cast<Gtk::CheckMenuItem*>(item)) {
            watches_.push_back(check->signal_toggled().connect(changed));
        }
        if (Gtk::Menu* sub = item->get_submenu()) Walk(*sub, id);
    }
}

void DBusMenu::Export(GDBusConnection* bus) { object_.Export(bus); }

void DBusMenu::Unexport() { object_.Unexport(); }

void DBusMenu::Changed() {
    // Several entries change at once (an entry shown as the window hides):
    // the host hears of it once.
    if (pending_) return;
    pending_ = true;
    Glib::signal_idle().connect_once(sigc::mem_fun(*this, &DBusMenu::SendLayout));
}

void DBusMenu::SendLayout() {
    pending_ = false;
    ++revision_;
    object_.Emit("LayoutUpdated", g_variant_new("(ui)", revision_, 0));
}

Gtk::MenuItem* DBusMenu::Item(int id) const {
    const auto it = items_.find(id);
    return it == items_.end() ? nullptr : it->second;
}

GVariant* DBusMenu::Properties(int id, const std::vector<std::string>& names) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    auto add = [&](const char* key, GVariant* value) {
        if (names.empty() || std::find(names.begin(), names.end(), key) != names.end()) {
            g_variant_builder_add(&b, "{sv}", key, value);
        } else {
            g_variant_unref(g_variant_ref_sink(value));
        }
    };
    if (id == 0) {
        add("children-display", g_variant_new_string("submenu"));
        return g_variant_builder_end(&b);
    }
    Gtk::MenuItem* item = Item(id);
    if (item == nullptr) return g_variant_builder_end(&b);
    if (dynamic_cast<Gtk::SeparatorMenuItem*>(item) != nullptr) {
        add("type", g_variant_new_string("separator"));
    } else {
        add("label", g_variant_new_string(Escaped(item->get_label()).c_str()));
    }
    add("enabled", g_variant_new_boolean(item->get_sensitive()));
    add("visible", g_variant_new_boolean(item->get_visible()));
    if (auto* check = dynamic_cast<Gtk::CheckMenuItem*>(item)) {
        add("toggle-type",
            g_variant_new_string(check->get_draw_as_radio() ? "radio" : "checkmark"));
        add("toggle-state", g_variant_new_int32(check->get_active() ? 1 : 0));
    }
    if (children_.count(id) != 0) add("children-display", g_variant_new_string("submenu"));
    return g_variant_builder_end(&b);
}

GVariant* DBusMenu::Node(int id, int depth, const std::vector<std::string>& names) {
    GVariantBuilder kids;
    g_variant_builder_init(&kids, G_VARIANT_TYPE("av"));
    if (depth != 0) {
        const auto it = children_.find(id);
        if (it != children_.end()) {
            for (int child : it->second) {
                g_variant_builder_add(&kids, "v", Node(child, depth < 0 ? -1 : depth - 1, names));
            }
        }
    }
    return g_variant_new("(i@a{sv}av)", id, Properties(id, names), &kids);
}

void DBusMenu::Click(int id) {
    // The host has its answer before the entry's handler runs.
    Glib::signal_idle().connect_once(sigc::track_obj([this, id] { Clicked(id); }, *this));
}

void DBusMenu::Clicked(int id) {
    if (Gtk::MenuItem* item = Item(id)) {
        if (item->get_sensitive() && item->get_visible()) item->activate();
    }
}

void DBusMenu::MethodCall(const char* method, GVariant* args, GDBusMethodInvocation* invocation) {
    const std::string m = method;
    auto unknown = [&](int id) { return id != 0 && items_.count(id) == 0; };
    if (m == "GetLayout") {
        gint32 parent = 0;
        gint32 depth = 0;
        GVariant* names = nullptr;
        g_variant_get(args, "(ii@as)", &parent, &depth, &names);
        const auto wanted = Strings(names);
        g_variant_unref(names);
        if (unknown(parent)) {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR,
                                                  G_DBUS_ERROR_INVALID_ARGS, "no entry %d", parent);
            return;
        }
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@(ia{sv}av))", revision_, Node(parent, depth, wanted)));
    } else if (m == "GetGroupProperties") {
        GVariant* ids = nullptr;
        GVariant* names = nullptr;
        g_variant_get(args, "(@ai@as)", &ids, &names);
        const auto wanted = Strings(names);
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a(ia{sv})"));
        for (int id : Ints(ids)) {
            if (!unknown(id)) g_variant_builder_add(&b, "(i@a{sv})", id, Properties(id, wanted));
        }
        g_variant_unref(ids);
        g_variant_unref(names);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&b)));
    } else if (m == "GetProperty") {
        gint32 id = 0;
        const char* name = nullptr;
        g_variant_get(args, "(i&s)", &id, &name);
        GVariant* props = unknown(id) ? nullptr : Properties(id, {name});
        GVariant* value = props == nullptr ? nullptr : g_variant_lookup_value(props, name, nullptr);
        if (props != nullptr) g_variant_unref(g_variant_ref_sink(props));
        if (value == nullptr) {
            g_dbus_method_invocation_return_error(
                invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "no property %s", name);
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
        g_variant_unref(value);
    } else if (m == "Event") {
        gint32 id = 0;
        const char* event = nullptr;
        g_variant_get(args, "(i&svu)", &id, &event, nullptr, nullptr);
        if (unknown(id)) {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR,
                                                  G_DBUS_ERROR_INVALID_ARGS, "no entry %d", id);
            return;
        }
        const bool clicked = std::string(event) == "clicked";
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (clicked) Click(id);
    } else if (m == "EventGroup") {
        std::vector<int> clicked;
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        GVariantIter* it = nullptr;
        g_variant_get(args, "(a(isvu))", &it);
        gint32 id = 0;
        const char* event = nullptr;
        while (g_variant_iter_loop(it, "(i&svu)", &id, &event, nullptr, nullptr)) {
            if (unknown(id)) {
                g_variant_builder_add(&errors, "i", id);
            } else if (std::string(event) == "clicked") {
                clicked.push_back(id);
            }
        }
        g_variant_iter_free(it);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@ai)", g_variant_builder_end(&errors)));
        for (int c : clicked) Click(c);
    } else if (m == "AboutToShow") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    } else if (m == "AboutToShowGroup") {
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                          g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
    } else {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                              "%s", method);
    }
}

GVariant* DBusMenu::Property(const char* name) {
    const std::string n = name;
    if (n == "Version") return g_variant_new_uint32(3);
    if (n == "TextDirection") return g_variant_new_string("ltr");
    if (n == "Status") return g_variant_new_string("normal");
    return g_variant_new_strv(nullptr, 0);
}

}  // namespace pelko
