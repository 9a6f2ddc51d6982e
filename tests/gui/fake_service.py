"""Stand-ins for the desktop's services on the test's session bus, one per
run, named by the first argument:
  screensaver  org.freedesktop.ScreenSaver, answering Inhibit with a cookie
  watcher      a notifier watcher with a host, as a Wayland panel offers one
It prints "ready" once it owns its name, then one line per call: the
method's name and its arguments ("Inhibit COOKIE APP REASON", "UnInhibit
COOKIE", "RegisterStatusNotifierItem SERVICE")."""

import sys

from gi.repository import Gio, GLib

SERVICES = {
    "screensaver": ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", """
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="u" direction="out"/></method>
  <method name="UnInhibit"><arg type="u" direction="in"/></method>"""),
    # Only what Pelko asks of a watcher; its one property: a host is there.
    "watcher": ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", """
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>"""),
}
NAME, PATH, METHODS = SERVICES[sys.argv[1]]
cookies = iter(range(1, 1 << 31))


def call(conn, sender, path, iface, method, params, invocation):
    args = list(params.unpack())
    if method == "Inhibit":
        args.insert(0, next(cookies))
        invocation.return_value(GLib.Variant("(u)", (args[0],)))
    else:
        invocation.return_value(None)
    print(method, *args, flush=True)


def connected(conn, name):
    # The object is there before the name: a client never finds the name alone.
    xml = f'<node><interface name="{NAME}">{METHODS}</interface></node>'
    conn.register_object(PATH, Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], call,
                         lambda *a: GLib.Variant("b", True), None)


Gio.bus_own_name(Gio.BusType.SESSION, NAME, Gio.BusNameOwnerFlags.NONE, connected,
                 lambda *a: print("ready", flush=True), lambda *a: sys.exit(1))
GLib.MainLoop().run()
