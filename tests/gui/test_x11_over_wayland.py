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
    def setUp(self):
        super().setUp()
        self.assertTrue(os.path.exists(pt.wayland_socket()))
        self.x11 = pt.x11_socket()
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))

    def test_pelko_its_page_and_the_updater_take_x11(self):
        p = self.start()
        wid = pt.window(p.proc.pid)
        self.assertTrue(pt.is_viewable(wid))
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page request")
        page = pt.wait_until(lambda: pt.web_processes(p.proc.pid), what="page process")[0]
        # The page's process opens a display of its own; on Wayland it would
        # stand apart from the window it draws into.
        self.assertEqual(pt.wait_until(lambda: pt.displays(page), what="page's display"),
                         {self.x11})
        self.assertEqual(pt.displays(p.proc.pid), {self.x11})
        app = pt.application(p.proc.pid)
        self.assertTrue(pt.state(pt.menu_entry(app, "置顶"), pyatspi.STATE_SENSITIVE))

        updater = self.start(program="PelkoUpdate")
        pt.window(updater.proc.pid, "PelkoUpdate")
        self.assertEqual(pt.displays(updater.proc.pid), {self.x11})

    def test_the_users_choice_of_wayland_stands(self):
        p = self.start(env={"GDK_BACKEND": "wayland"})
        app = pt.application(p.proc.pid)
        pt.wait_until(lambda: pt.descendants(app, "frame", pt.CAPTION, depth=1), what="window")
        self.assertEqual(pt.displays(p.proc.pid), {pt.wayland_socket()})
        self.assertEqual(pt.windows_named(pt.CAPTION, p.proc.pid), [])
        self.assertFalse(pt.state(pt.menu_entry(app, "置顶"), pyatspi.STATE_SENSITIVE))


if __name__ == "__main__":
    unittest.main(verbosity=2)
