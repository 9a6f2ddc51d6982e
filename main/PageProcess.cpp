// Loaded by the engine into every page's process before any page runs.
//
// The engine would offer each page's media to the desktop on the session bus
// as a player of its own, one that cannot raise the window, knows no desktop
// entry and calls a muted autoplaying video "Stopped". Pelko speaks for the
// page's media itself (see MediaPlayer.h), so the page's process is given no
// session bus: it needs none for anything else, since the engine hands it
// the accessibility bus's address directly.

#include <glib.h>
#include <webkit2/webkit-web-extension.h>

namespace {

constexpr const char* kNoBus = "Unable to connect to D-Bus session bus";

// The engine says so for every media element; it is what we asked for.
void FilterLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (message != nullptr && g_str_has_prefix(message, kNoBus)) return;
    g_log_default_handler(domain, level, message, nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension*) {
    // A path that never holds a bus: connecting fails at once, and with the
    // address set no other way of finding the bus is tried.
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null", TRUE);
    g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, FilterLog, nullptr);
}
