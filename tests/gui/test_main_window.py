"""The main window as a user meets it: start, menus, tray, always on top."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

MENUS = [
    ("选项", ["显示主界面", "垃圾清理", "TCP连接数修改", "更新程序", "退出"]),
    ("换肤", ["wina", "MediaPlayer", "Green", "Mac", "Studio", "Blue", "随机换色"]),
    ("窗口", ["置顶", "最大化", "最小化"]),
    ("帮助", ["使用说明", "反馈问题", "关于程序"]),
]


class MainWindow(pt.GuiTest):
    def setUp(self):
        super().setUp()
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.p = self.start()
        self.wid = pt.main_window(self.p.proc.pid)
        self.app = pt.application(self.p.proc.pid)

    def choose(self, menu, entry):
        pt.choose(self.wid, self.app, menu, entry)

    def shown(self):
        self.assertTrue(self.p.alive(), "Pelko has ended")
        return self.wid in pt.windows_named(pt.CAPTION, self.p.proc.pid)

    def minimise_by_menu(self):
        self.choose("窗口", "最小化")
        pt.wait_until(lambda: not self.shown(), what="window hidden to the tray")

    def test_start_caption_size_menus_and_tray(self):
        self.assertTrue(pt.is_viewable(self.wid))
        tree = pt.menu_tree(self.app)
        self.assertEqual([m for m, _ in tree], [m for m, _ in MENUS])
        for (menu, entries), (_, want) in zip(tree, MENUS):
            self.assertEqual([e[0] for e in entries], want, menu)
            for caption, _, visible, checked in entries:
                self.assertEqual(visible, caption != "显示主界面", caption)
                self.assertFalse(checked, caption)
                self.assertNotIn("&", caption)
        # The client area below the menu bar is 1016 x 650 and the page fills it.
        panel = [p for p in pt.descendants(self.app, "panel")][0]
        ext = panel.queryComponent().getExtents(pyatspi_screen())
        self.assertEqual((ext.width, ext.height), (1016, 650))
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page request")
        shot = os.path.join(self.tmp, "start.png")
        # 1017 x 649 pixels: one column past the right edge, one row short.
        def page_painted():
            pt.screenshot(shot)
            return pt.pixel(shot, ext.x + 1015, ext.y + 648) == (0, 255, 0)
        pt.wait_until(page_painted, what="page covering the client area")
        self.assertEqual(pt.pixel(shot, ext.x, ext.y), (0, 255, 0))
        self.assertNotEqual(pt.pixel(shot, ext.x + 500, ext.y + 649), (0, 255, 0))
        self.assertIsNotNone(pt.wait_until(pt.tray_icon, what="tray icon"))

    def test_minimise_and_restore_both_ways(self):
        sh = pt.menu_entry(self.app, "显示主界面")
        # From the menu, then back by a double click on the tray icon.
        self.minimise_by_menu()
        self.assertTrue(pt.state(sh, pt.pyatspi.STATE_VISIBLE))
        pt.click_at(*pt.tray_icon(), repeat=2)
        pt.wait_until(self.shown, what="window back from the tray")
        self.assertFalse(pt.state(sh, pt.pyatspi.STATE_VISIBLE))
        # From the window manager (the title-bar button), back through the
        # tray's pop-up menu.
        pt.run("xdotool", "windowminimize", str(self.wid))
        pt.wait_until(lambda: not self.shown(), what="window hidden by the window manager")
        # While hidden, the pop-up's first entry is "显示主界面".
        pt.tray_popup(self.p.proc.pid, ["Down", "Return"])
        pt.wait_until(self.shown, what="window back from the pop-up")
        pt.wait_until(lambda: not pt.state(sh, pt.pyatspi.STATE_VISIBLE), what="entry hidden")
        time.sleep(1)
        self.assertTrue(self.shown())

    def test_maximised_then_minimised_comes_back_normal(self):
        self.choose("窗口", "最大化")
        pt.wait_until(lambda: "MAXIMIZED_VERT" in pt.wm_state(self.wid), what="maximised")
        self.minimise_by_menu()
        pt.click_at(*pt.tray_icon(), repeat=2)
        pt.wait_until(self.shown, what="window back")
        time.sleep(0.5)
        self.assertTrue(self.shown())
        self.assertNotIn("MAXIMIZED", pt.wm_state(self.wid))
        self.assertNotIn("HIDDEN", pt.wm_state(self.wid))

    def test_double_click_while_shown_keeps_it_shown(self):
        sh = pt.menu_entry(self.app, "显示主界面")
        pt.click_at(*pt.tray_icon(), repeat=2)
        time.sleep(0.5)
        self.assertTrue(self.shown())
        self.assertFalse(pt.state(sh, pt.pyatspi.STATE_VISIBLE))

    def test_always_on_top_switches_twice(self):
        tp = pt.menu_entry(self.app, "置顶")
        self.choose("窗口", "置顶")
        pt.wait_until(lambda: "_NET_WM_STATE_ABOVE" in pt.wm_state(self.wid), what="kept above")
        pt.wait_until(lambda: pt.state(tp, pt.pyatspi.STATE_CHECKED), what="check mark")
        self.choose("窗口", "置顶")
        pt.wait_until(lambda: "_NET_WM_STATE_ABOVE" not in pt.wm_state(self.wid), what="released")
        pt.wait_until(lambda: not pt.state(tp, pt.pyatspi.STATE_CHECKED), what="no check mark")

    def test_quit_from_tray_popup_while_hidden_removes_icon(self):
        self.minimise_by_menu()
        # "退出" is the last of the pop-up's five entries.
        pt.tray_popup(self.p.proc.pid, ["Down"] * 5 + ["Return"])
        self.assertEqual(self.p.proc.wait(10), 0)
        self.assertIsNone(pt.tray_icon())

    def test_resize_keeps_page_over_client_area(self):
        panel = [p for p in pt.descendants(self.app, "panel")][0]
        pt.run("xdotool", "windowsize", "--sync", str(self.wid), "600", "400")
        shot = os.path.join(self.tmp, "small.png")
        def covered():
            ext = panel.queryComponent().getExtents(pyatspi_screen())
            pt.screenshot(shot)
            # The window is 600 wide with its frame; the client area a little less.
            return (ext.width <= 600 and
                    pt.pixel(shot, ext.x + ext.width - 1, ext.y + ext.height - 2) == (0, 255, 0))
        pt.wait_until(covered, what="page covering the smaller window")


def pyatspi_screen():
    return pt.pyatspi.DESKTOP_COORDS


if __name__ == "__main__":
    unittest.main(verbosity=2)
