"""What outlives one run: a sign-in kept across starts, updates and crashes
of the page's process, a damaged store that never stops Pelko, and one Pelko
per user."""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

# A page that signs in: it leaves a cookie and a local-storage value for the
# next time, and once loaded reports what it found of an earlier sign-in.
SIGN_IN_PAGE = pt.solid_page("#203050", """<script>
var cookie = document.cookie.indexOf("signin=alice") >= 0;
var stored = localStorage.getItem("user") || "none";
document.cookie = "signin=alice; max-age=86400; path=/";
localStorage.setItem("user", "alice");
addEventListener("load", function () {
  fetch("/report?cookie=" + cookie + "&stored=" + stored, {cache: "no-store"});
});
</script>""")


class Sessions(pt.GuiTest):
    def setUp(self):
        super().setUp()
        self.server.page("/tv/app.html", SIGN_IN_PAGE)
        self.server.page("/report", "ok")
        self.data = os.path.join(self.tmp, "data")
        self.env = {"XDG_DATA_HOME": self.data, "XDG_CACHE_HOME": os.path.join(self.tmp, "cache")}

    def open(self, folder=None, env=None):
        p = self.start(env=dict(self.env, **(env or {})), folder=folder)
        pt.window(p.proc.pid)
        return p

    def next_report(self, seen):
        reports = pt.wait_until(lambda: len(self.server.reports("/report")) > seen
                                and self.server.reports("/report"), 30, what="page's report")
        return reports[seen]

    def close(self, p):
        # The desktop's way of ending a program: it must close like its window.
        p.proc.send_signal(signal.SIGTERM)
        self.assertEqual(p.proc.wait(15), 0)

    def test_sign_in_survives_a_damaged_store_a_restart_an_update_and_crashes_of_the_page(self):
        # A data folder that cannot be made: the page still loads, in memory.
        blocker = os.path.join(self.tmp, "not-a-folder")
        pt.write(blocker, "x")
        p = self.open(env={"XDG_DATA_HOME": os.path.join(blocker, "data")})
        self.assertEqual(self.next_report(0), "cookie=false&stored=none")
        self.assertIn("in memory", p.output())
        self.close(p)

        # A damaged store is set aside and never stops Pelko.
        store = os.path.join(self.data, "pelko")
        pt.write(os.path.join(store, "cookies.sqlite"), b"SQLite format 3\x00" + os.urandom(3000))
        p = self.open()
        self.assertEqual(self.next_report(1), "cookie=false&stored=none")
        self.assertIn("damaged", p.output())
        self.assertTrue(os.path.exists(os.path.join(store, "cookies.sqlite.damaged")))
        self.close(p)

        # The fresh store keeps the sign-in. An update replaces the program
        # folder; the sign-in lives elsewhere.
        updated = pt.program_folder(os.path.join(self.tmp, "updated"))
        p = self.open(folder=updated)
        self.assertEqual(self.next_report(2), "cookie=true&stored=alice")
        self.assertFalse(os.path.exists(os.path.join(updated, "cookies.sqlite")))

        # The page's process dies: the page comes back by itself, signed in.
        for pid in pt.wait_until(lambda: pt.web_processes(p.proc.pid), what="page process"):
            os.kill(pid, signal.SIGKILL)
        self.assertEqual(self.next_report(3), "cookie=true&stored=alice")
        app = pt.application(p.proc.pid)
        self.assertEqual(pt.dialogs(app), [])

        # A page that dies again at once is not reloaded round and round.
        for pid in pt.wait_until(lambda: pt.web_processes(p.proc.pid), what="new page process"):
            os.kill(pid, signal.SIGKILL)
        pt.message_box(app, p.proc.pid, "提示", pt.TIMEOUT_TEXT)
        self.assertTrue(p.alive())

    def test_second_start_raises_the_running_window_and_never_shares_the_store(self):
        first = self.open()
        wid = pt.window(first.proc.pid)
        # The window shows before the page is asked for.
        pt.wait_until(lambda: self.server.hits("/tv/app.html") == 1, what="the page asked for")
        pt.wait_until(pt.tray_icon, what="tray icon")
        pt.run("xdotool", "windowminimize", str(wid))
        pt.wait_until(lambda: not pt.is_viewable(wid), what="window hidden in the tray")

        second = self.start(env=self.env)
        self.assertEqual(second.proc.wait(15), 0)
        pt.wait_until(lambda: pt.is_viewable(wid), what="window back from the tray")
        self.assertEqual(self.server.hits("/tv/app.html"), 1)

        # Without the session bus the hand-over cannot happen: the second
        # Pelko runs, but on a store of its own in memory.
        third = self.open(env={"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent"})
        pt.wait_until(lambda: "another Pelko" in third.output(), what="the second store refused")
        self.assertTrue(first.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
