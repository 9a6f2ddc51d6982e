"""The main window as a user meets it: start, menus, tray, always on top,
and the About box that outlives it."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
from pyatspi import DESKTOP_COORDS, STATE_CHECKED, STATE_VISIBLE  # noqa: E402

GREEN = (0, 255, 0)


class MainWindow(pt.GuiTest):
    def shown(self):
        self.assertTrue(self.p.alive(), "Pelko has ended")
        return self.wid in pt.windows_named(pt.CAPTION, self.p.proc.pid)

    def minimise_by_menu(self):
        pt.choose(self.app, "窗口", "最小化")
        pt.wait_until(lambda: not self.shown(), what="window hidden to the tray")

    def test_menus_always_on_top_resize_the_tray_every_way_and_quit_from_it(self):
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.p = self.start()
        self.wid = pt.window(self.p.proc.pid)
        self.app = pt.application(self.p.proc.pid)
        self.assertTrue(pt.is_viewable(self.wid))
        # The client area below the menu bar is 1016 x 650 and the page fills it.
        panel = pt.descendants(self.app, "panel")[0]
        ext = panel.queryComponent().getExtents(DESKTOP_COORDS)
        self.assertEqual((ext.width, ext.height), (1016, 650))
        # 1017 x 649 pixels: one column past the right edge, one row short.
        corner, top, below = (ext.x + 1015, ext.y + 648), (ext.x, ext.y), (ext.x + 500, ext.y + 649)
        pt.wait_until(lambda: pt.pixels(corner)[0] == GREEN, what="page covering the client area")
        at_top, at_below = pt.pixels(top, below)
        self.assertEqual(at_top, GREEN)
        self.assertNotEqual(at_below, GREEN)

        # Always on top, on and off again, with its check mark.
        tp = pt.menu_entry(self.app, "置顶")
        for on in (True, False):
            pt.choose(self.app, "窗口", "置顶")
            pt.wait_until(lambda: ("_NET_WM_STATE_ABOVE" in pt.wm_state(self.wid)) == on,
                          what=f"kept above: {on}")
            pt.wait_until(lambda: pt.state(tp, STATE_CHECKED) == on, what=f"check mark: {on}")

        # Smaller, the page still covers the client area.
        pt.run("xdotool", "windowsize", "--sync", str(self.wid), "600", "400")
        def covered():
            ext = panel.queryComponent().getExtents(DESKTOP_COORDS)
            # The window is 600 wide with its frame; the client area a little less.
            return (ext.width <= 600 and
                    pt.pixels((ext.x + ext.width - 1, ext.y + ext.height - 2))[0] == GREEN)
        pt.wait_until(covered, what="page covering the smaller window")

        sh = pt.menu_entry(self.app, "显示主界面")
        # A double click while shown keeps it shown.
        pt.click_at(*pt.wait_until(pt.tray_icon, what="tray icon"), repeat=2)
        pt.holds(self.shown, 0.5, "shown")
        self.assertFalse(pt.state(sh, STATE_VISIBLE))
        # From the menu, then back by a double click on the tray icon.
        self.minimise_by_menu()
        self.assertTrue(pt.state(sh, STATE_VISIBLE))
        pt.click_at(*pt.tray_icon(), repeat=2)
        pt.wait_until(self.shown, what="window back from the tray")
        self.assertFalse(pt.state(sh, STATE_VISIBLE))
        # From the window manager (the title-bar button), back through the
        # tray's pop-up menu, whose first entry is "显示主界面" while hidden.
        pt.run("xdotool", "windowminimize", str(self.wid))
        pt.wait_until(lambda: not self.shown(), what="window hidden by the window manager")
        pt.tray_popup(self.p.proc.pid, ["Down", "Return"])
        pt.wait_until(self.shown, what="window back from the pop-up")
        pt.wait_until(lambda: not pt.state(sh, STATE_VISIBLE), what="entry hidden")
        pt.holds(self.shown, 1, "shown")
        # Maximised, then minimised: it comes back normal.
        pt.choose(self.app, "窗口", "最大化")
        pt.wait_until(lambda: "MAXIMIZED_VERT" in pt.wm_state(self.wid), what="maximised")
        self.minimise_by_menu()
        pt.click_at(*pt.tray_icon(), repeat=2)
        pt.wait_until(self.shown, what="window back")
        pt.holds(self.shown, 0.5, "shown")
        self.assertNotIn("MAXIMIZED", pt.wm_state(self.wid))
        self.assertNotIn("HIDDEN", pt.wm_state(self.wid))
        # The About box outlives the main window and its icon, closed by
        # "退出", the last of the pop-up's five entries while hidden, and the
        # program ends with the box. (One box however often asked for:
        # gui_about_box.)
        pt.run("xdotool", "mousemove", "0", "0")
        pt.choose(self.app, "帮助", "关于程序")
        about = pt.window(self.p.proc.pid, pt.ABOUT)
        self.minimise_by_menu()
        pt.tray_popup(self.p.proc.pid, ["Down"] * 5 + ["Return"])
        pt.wait_until(lambda: pt.tray_icon() is None, what="tray icon removed")
        self.assertTrue(self.p.alive() and pt.is_viewable(about))
        pt.run("xdotool", "mousemove", "0", "0")
        pt.press(pt.descendants(self.app, "frame", pt.ABOUT, depth=1)[0], "确定", click=True)
        self.assertEqual(self.p.proc.wait(10), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
