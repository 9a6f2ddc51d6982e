#include "main/BusObject.h"

#include <cstdio>

namespace pelko {

namespace {

void OnMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                  GVariant* args, GDBusMethodInvocation* invocation, gpointer owner) {
    static_cast<BusObject::Owner*>(owner)->MethodCall(method, args, invocation);
}

GVariant* OnGetProperty(GDBusConnection*, const char*, const char*, const char*, const char* name,
                        GError**, gpointer owner) {
    return static_cast<BusObject::Owner*>(owner)->Property(name);
}

constexpr GDBusInterfaceVTable kVTable = {OnMethodCall, OnGetProperty, nullptr, {}};

}  // namespace

BusObject::BusObject(const char* xml, std::string path, Owner& owner)
    : node_(g_dbus_node_info_new_for_xml(xml, nullptr)), path_(std::move(path)), owner_(owner) {}

BusObject::~BusObject() {
    Unexport();
    if (node_ != nullptr) g_dbus_node_info_unref(node_);
}

bool BusObject::Export(GDBusConnection* bus) {
    if (id_ != 0) return true;
    if (bus == nullptr || node_ == nullptr) return false;
    GError* error = nullptr;
    id_ = g_dbus_connection_register_object(bus, path_.c_str(), node_->interfaces[0], &kVTable,
                                            &owner_, nullptr, &error);
    if (id_ == 0) {
        std::fprintf(stderr, "Pelko: cannot offer %s on the session bus: %s\n", path_.c_str(),
                     error->message);
        g_clear_error(&error);
        return false;
    }
    bus_ = bus;
    return true;
}

void BusObject::Unexport() {
    if (id_ == 0) return;
    g_dbus_connection_unregister_object(bus_, id_);
    id_ = 0;
}

void BusObject::Emit(const char* signal, GVariant* args) {
    if (id_ == 0) {
        if (args != nullptr) g_variant_unref(g_variant_ref_sink(args));
        return;
    }
    g_dbus_connection_emit_signal(bus_, nullptr, path_.c_str(), node_->interfaces[0]->name, signal,
                                  args, nullptr);
}

void BusObject::EmitPropertiesChanged(GVariant* changed) {
    if (id_ == 0) {
        g_variant_unref(g_variant_ref_sink(changed));
        return;
    }
    g_dbus_connection_emit_signal(
        bus_, nullptr, path_.c_str(), "org.freedesktop.DBus.Properties", "PropertiesChanged",
        g_variant_new("(s@a{sv}@as)", node_->interfaces[0]->name, changed,
                      g_variant_new_strv(nullptr, 0)),
        nullptr);
}

}  // namespace pelko
