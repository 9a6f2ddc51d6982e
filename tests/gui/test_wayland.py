"""Pelko and PelkoUpdate on a Wayland desktop with no X server
(waylandsession.sh): the TV page plays, what Wayland cannot do is not
offered or falls back, and both end cleanly."""

import os
import re
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
import pyatspi  # noqa: E402

# What GTK says on this desktop whatever the program does.
EXPECTED = (
    # The headless compositor has no seat, so no keyboard and no pointer.
    "assertion 'GDK_IS_SEAT (seat)' failed",
    "assertion 'GDK_IS_DEVICE (device)' failed",
    # GTK's accessible action on an entry of a closed menu (under X11 too).
    "gdk_window_get_window_type: assertion 'GDK_IS_WINDOW (window)' failed",
    "gtk_accessible_get_widget: assertion 'GTK_IS_ACCESSIBLE (accessible)' failed",
)


def complaints(output):
    return [line for line in output.splitlines()
            if re.search(r"critical|crash|segmentation fault|abort", line, re.I)
            and not any(known in line for known in EXPECTED)]


def gone(pid):
    try:
        return pt.read(f"/proc/{pid}/stat").split(") ")[1].startswith("Z")
    except OSError:
        return True


def frame(app, name):
    return pt.wait_until(lambda: pt.descendants(app, "frame", name, depth=1),
                         what=f"window {name}")[0]


class WaylandOnly(pt.GuiTest):
    def test_pelko_and_the_updater_offer_what_wayland_allows_and_end(self):
        self.assertNotIn("DISPLAY", os.environ)
        wayland = pt.wayland_socket()
        service = pt.DemoService()
        self.addCleanup(service.close)
        p = self.start(service.host)
        app = pt.application(p.proc.pid)
        main = frame(app, pt.CAPTION)
        self.assertEqual(pt.displays(p.proc.pid), {wayland})

        # The TV page plays: its position moves on and frames are drawn.
        beats = pt.wait_until(lambda: len(service.heartbeats()) >= 3 and service.heartbeats(), 60,
                              what="the TV page playing")
        self.assertGreater(float(beats[-1]["t"]), float(beats[0]["t"]), beats)
        self.assertGreater(int(beats[-1]["f"]), 0, beats)
        pages = pt.web_processes(p.proc.pid)
        self.assertTrue(pages)

        top = pt.menu_entry(app, "置顶")
        self.assertFalse(pt.state(top, pyatspi.STATE_SENSITIVE))
        self.assertFalse(pt.state(top, pyatspi.STATE_CHECKED))

        # No tray holds an icon yet: a minimise must not hide the window
        # where nothing could bring it back.
        pt.activate(pt.menu_entry(app, "最小化"))
        pt.activate(pt.menu_entry(app, "关于程序"))
        about = frame(app, pt.ABOUT)
        self.assertTrue(p.alive())
        self.assertTrue(pt.state(main, pyatspi.STATE_VISIBLE))
        self.assertFalse(pt.state(pt.menu_entry(app, "显示主界面"), pyatspi.STATE_VISIBLE))
        pt.press(about, "确定")
        pt.wait_until(lambda: not pt.descendants(app, "frame", pt.ABOUT, depth=1),
                      what="box closed")

        # A panel with a tray comes. Wayland cannot tell the program it was
        # minimised: the entry hides the window in the tray at once, and the
        # tray brings it back.
        items = self.fake_service("watcher")
        pt.wait_until(lambda: items, what="item registered")
        pt.activate(pt.menu_entry(app, "最小化"))
        pt.wait_until(lambda: not pt.state(main, pyatspi.STATE_VISIBLE), what="window in the tray")
        pt.run("gdbus", "call", "--session", "--dest", items[-1][1].split("/")[0], "--object-path",
               "/StatusNotifierItem", "--method", "org.kde.StatusNotifierItem.Activate", "0", "0")
        pt.wait_until(lambda: pt.state(main, pyatspi.STATE_VISIBLE), what="window back")

        pt.activate(pt.menu_entry(app, "退出"))
        self.assertEqual(p.proc.wait(20), 0)
        pt.wait_until(lambda: all(gone(w) for w in pages), what="page processes ended")
        self.assertEqual(complaints(p.output()), [])

        # The updater too opens here, and ends when told to.
        u = self.start(program="PelkoUpdate")
        pt.button(frame(pt.application(u.proc.pid), "PelkoUpdate"), "开始")
        self.assertEqual(pt.displays(u.proc.pid), {wayland})
        u.proc.send_signal(signal.SIGTERM)
        self.assertEqual(u.proc.wait(15), 0)
        self.assertEqual(complaints(u.output()), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
