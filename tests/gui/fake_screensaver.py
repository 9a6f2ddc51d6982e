"""A stand-in for the desktop's screensaver on the test's session bus: it
owns org.freedesktop.ScreenSaver, answers Inhibit and UnInhibit, and prints
one line per call ("inhibit COOKIE APP REASON", "uninhibit COOKIE"), then
"ready" once it owns its name."""

import sys

from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="u" direction="out"/></method>
  <method name="UnInhibit"><arg type="u" direction="in"/></method>
</interface></node>"""

cookies = iter(range(1, 1 << 31))


def call(conn, sender, path, iface, method, params, invocation):
    if method == "Inhibit":
        cookie = next(cookies)
        app, reason = params.unpack()
        print(f"inhibit {cookie} {app} {reason}", flush=True)
        invocation.return_value(GLib.Variant("(u)", (cookie,)))
    else:
        print(f"uninhibit {params.unpack()[0]}", flush=True)
        invocation.return_value(None)


def acquired(conn, name):
    node = Gio.DBusNodeInfo.new_for_xml(XML)
    conn.register_object("/org/freedesktop/ScreenSaver", node.interfaces[0], call, None, None)
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.ScreenSaver",
                 Gio.BusNameOwnerFlags.NONE, None, acquired, lambda *a: sys.exit(1))
GLib.MainLoop().run()
