"""A desktop with both X11 and Wayland, as a Wayland one with XWayland:
Pelko, its page's process and PelkoUpdate all take X11, where keeping on top
and the tray work, unless the user chose otherwise."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
import pyatspi  # noqa: E402


class X11BesideWayland(pt.GuiTest):
    def test_pelko_its_page_and_the_updater_take_x11_unless_told_wayland(self):
        wayland, x11 = pt.wayland_socket(), pt.x11_socket()
        self.assertTrue(os.path.exists(wayland))
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        p = self.start()
        self.assertTrue(pt.is_viewable(pt.window(p.proc.pid)))
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page request")
        page = pt.wait_until(lambda: pt.web_processes(p.proc.pid), what="page process")[0]
        # The page's process opens a display of its own; on Wayland it would
        # stand apart from the window it draws into.
        self.assertEqual(pt.wait_until(lambda: pt.displays(page), what="page's display"), {x11})
        self.assertEqual(pt.displays(p.proc.pid), {x11})
        app = pt.application(p.proc.pid)
        self.assertTrue(pt.state(pt.menu_entry(app, "置顶"), pyatspi.STATE_SENSITIVE))
        p.close()

        updater = self.start(program="PelkoUpdate")
        pt.window(updater.proc.pid, "PelkoUpdate")
        self.assertEqual(pt.displays(updater.proc.pid), {x11})

        # The user's choice of Wayland stands (what Wayland allows: gui_wayland).
        p = self.start(env={"GDK_BACKEND": "wayland"})
        app = pt.application(p.proc.pid)
        pt.wait_until(lambda: pt.descendants(app, "frame", pt.CAPTION, depth=1), what="window")
        self.assertEqual(pt.displays(p.proc.pid), {wayland})


if __name__ == "__main__":
    unittest.main(verbosity=2)
