"""Without a notification area the window must stay reachable: a minimise
is then an ordinary minimise, not a hide."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402


class NoTray(pt.GuiTest):
    def test_minimise_without_a_tray_keeps_the_window_in_reach(self):
        self.assertIsNone(pt.tray_icon())
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        p = self.start()
        wid = pt.main_window(p.proc.pid)
        app = pt.application(p.proc.pid)
        pt.choose(wid, app, "窗口", "最小化")
        # Iconic, as the window manager keeps it, never withdrawn.
        pt.wait_until(lambda: "Iconic" in pt.run("xprop", "-id", str(wid), "WM_STATE"),
                      what="window minimised")
        pt.run("xdotool", "windowactivate", "--sync", str(wid))
        pt.wait_until(lambda: pt.is_viewable(wid), what="window back")
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
