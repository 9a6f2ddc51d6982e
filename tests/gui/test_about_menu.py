"""The About box in the real program: it outlives the main window, whether
that closes from "退出" in the menu or in the tray's pop-up while hidden,
and the program ends when the box is closed as well."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

ABOUT = "关于Pelko网络电视"


class AboutMenu(pt.GuiTest):
    def setUp(self):
        super().setUp()
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.p = self.start()
        self.wid = pt.window(self.p.proc.pid)
        self.app = pt.application(self.p.proc.pid)

    def choose(self, menu, entry):
        # The pointer has to move for each click to be waited for.
        pt.run("xdotool", "mousemove", "0", "0")
        pt.choose(self.wid, self.app, menu, entry)

    def about_box(self):
        self.choose("帮助", "关于程序")
        return pt.window(self.p.proc.pid, ABOUT)

    def close_about(self, wid):
        """Closes the box, which outlived the main window, and the program with it."""
        self.assertTrue(self.p.alive())
        self.assertTrue(pt.is_viewable(wid))
        pt.run("xdotool", "mousemove", "0", "0")
        pt.press(pt.descendants(self.app, "frame", ABOUT, depth=1)[0], "确定", click=True)
        pt.wait_until(lambda: not pt.windows_named(ABOUT, self.p.proc.pid), what="box closed")
        self.assertEqual(self.p.proc.wait(10), 0)

    def test_about_box_outlives_the_main_window(self):
        wid = self.about_box()
        self.choose("帮助", "关于程序")
        self.assertEqual(pt.windows_named(ABOUT, self.p.proc.pid), [wid])
        # "退出": the main window and the tray icon go, the box and the program stay.
        self.choose("选项", "退出")
        pt.wait_until(lambda: not pt.windows_named(pt.CAPTION, self.p.proc.pid),
                      what="main window closed")
        pt.wait_until(lambda: pt.tray_icon() is None, what="tray icon removed")
        self.close_about(wid)

    def test_quit_from_tray_popup_while_hidden_removes_icon(self):
        wid = self.about_box()
        self.choose("窗口", "最小化")
        pt.wait_until(lambda: not pt.windows_named(pt.CAPTION, self.p.proc.pid),
                      what="window hidden to the tray")
        # "退出" is the pop-up's last entry.
        pt.tray_popup(self.p.proc.pid, ["End", "Return"])
        pt.wait_until(lambda: pt.tray_icon() is None, what="tray icon removed")
        self.close_about(wid)


if __name__ == "__main__":
    unittest.main(verbosity=2)
