"""A desktop whose panel shows tray icons only as notifier items on the
session bus (Xfce's panel with its notification-area plugin, no XEmbed tray
of trayer): before the panel is there a minimise stays an ordinary one; then
the icon appears there, and the window goes to it and comes back by a click,
by the host's own menu and when the panel restarts."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
"""


def watcher_property(name):
    out = pt.run("gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher",
                 "--object-path", "/StatusNotifierWatcher", "--method",
                 "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher", name)
    return out.strip().removeprefix("(<").removesuffix(">,)")


def registered(pid):
    return f"org.kde.StatusNotifierItem-{pid}-" in watcher_property("RegisteredStatusNotifierItems")


def panel_icon():
    """The centre of the one icon the panel draws: whatever differs from the
    panel's own colour."""
    line = [l for l in pt.run("xwininfo", "-root", "-tree").splitlines()
            if '("xfce4-panel"' in l and "1600x" in l]
    if not line:
        return None
    g = pt.geometry(int(line[0].split()[0], 16))
    # The panel's edges are shaded: only its inner band is searched.
    box = pt.differing(g["x"], g["y"] + 6, g["width"], g["height"] - 12)
    if box is None or box[2] >= g["width"] // 2 or box[2] <= 1:
        return None
    return box[0] + box[2] // 2, box[1] + box[3] // 2


class NotifierTray(pt.GuiTest):
    def start_panel(self):
        """Xfce's panel, with nothing on it but the notification area
        (PANEL_CONFIG), once its notifier host is there."""
        self.panel = subprocess.Popen(["xfce4-panel", "--disable-wm-check"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(pt.end, self.panel)
        pt.wait_until(lambda: watcher_property("IsStatusNotifierHostRegistered") == "true",
                      what="notifier host")

    def to_tray(self):
        pt.choose(self.app, "窗口", "最小化")
        pt.wait_until(lambda: not pt.is_viewable(self.wid), what="window in the tray")

    def test_no_tray_then_the_panel_its_menu_and_its_restart(self):
        # No tray at all: a minimise is iconic, as the window manager keeps
        # it, never withdrawn.
        self.assertIsNone(pt.tray_icon())
        self.server.page("/tv/app.html", pt.solid_page("#000080"))
        p = self.start()
        self.wid = pt.window(p.proc.pid)
        self.app = pt.application(p.proc.pid)
        pt.choose(self.app, "窗口", "最小化")
        pt.wait_until(lambda: "Iconic" in pt.run("xprop", "-id", str(self.wid), "WM_STATE"),
                      what="window minimised")
        pt.run("xdotool", "windowactivate", "--sync", str(self.wid))
        pt.wait_until(lambda: pt.is_viewable(self.wid), what="window back")

        pt.write(os.path.join(os.environ["HOME"], ".config/xfce4/xfconf/xfce-perchannel-xml",
                              "xfce4-panel.xml"), PANEL_CONFIG)
        self.start_panel()
        pt.wait_until(lambda: registered(p.proc.pid), what="item registered")
        # Only the notifier item: no classic icon beside it.
        self.assertIsNone(pt.tray_icon())
        self.to_tray()
        # The panel draws the exported menu itself; its first entry shows
        # while the window is away.
        pt.tray_popup(self.panel.pid, ["Down", "Return"],
                      pt.wait_until(panel_icon, what="icon on the panel"))
        pt.wait_until(lambda: pt.is_viewable(self.wid), what="window back by 显示主界面")

        # The panel goes: the window comes back; a new panel gets the item
        # again, and a click on its icon brings the window back.
        self.to_tray()
        self.panel.terminate()
        self.panel.wait(10)
        pt.wait_until(lambda: pt.is_viewable(self.wid), what="window back without a tray")
        self.start_panel()
        pt.wait_until(lambda: registered(p.proc.pid), what="item registered again")
        self.to_tray()
        pt.click_at(*pt.wait_until(panel_icon, what="icon on the new panel"))
        pt.wait_until(lambda: pt.is_viewable(self.wid), what="window back from the new panel")
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
