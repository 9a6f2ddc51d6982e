"""The TV page in the embedded browser: quiet, no context menu once loaded,
and one question for every failed navigation."""

import contextlib
import os
import signal
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

# Tells the test once loaded, and when it got a click.
TELLING = """<script>
addEventListener("load", function () { fetch("/report?loaded"); });
addEventListener("click", function () { fetch("/report?clicked"); });
</script>"""


def closed_port_host():
    # A port that was free a moment ago and that nobody listens on.
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{s.getsockname()[1]}"


class Browser(pt.GuiTest):
    def open(self, host=None, env=None):
        self.p = self.start(host, env=env)
        self.pid = self.p.proc.pid
        self.wid = pt.window(self.pid)
        self.app = pt.application(self.pid)
        self.page = pt.centre(pt.descendants(self.app, "panel")[0])

    def box(self, timeout=30):
        return pt.message_box(self.app, self.pid, "提示", pt.TIMEOUT_TEXT, timeout)

    def no_box(self, seconds=2.0):
        pt.holds(lambda: not pt.windows_named("提示", self.pid), seconds, "without a question")

    def told(self, what):
        pt.wait_until(lambda: what in self.server.reports("/report"), 30, what=f"page told {what}")

    def test_stalled_first_page_has_the_context_menu_and_the_question_in_time(self):
        self.server.page("/tv/app.html", status="stall")
        self.open(env={"PELKO_TEST_STALL_SECONDS": "8"})
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page asked for")
        asked = time.monotonic()
        # The page's process may still be starting: a click it did not get
        # is a click the user would repeat.
        def menu_after_click():
            pt.click_at(*self.page, button=3)
            with contextlib.suppress(AssertionError):
                return pt.wait_until(lambda: pt.popup_shown(self.pid), 2)
        pt.wait_until(menu_after_click, 15, 0, what="browser's context menu")
        pt.run("xdotool", "key", "Escape")
        # A stall is no failure at once, but is one in the end.
        self.no_box(asked + 6 - time.monotonic())
        self.box()

    def test_refused_connection_asks_again_after_each_answer(self):
        self.open(closed_port_host())
        # Yes tries the TV page again, No the error page: both fail again.
        for reply in ("否", "是", "否"):
            box = self.box()
            pt.press(box, reply, click=True)
            pt.wait_until(lambda: box not in pt.dialogs(self.app), what="box answered")
        self.box()
        self.assertTrue(self.p.alive())

    def test_each_failure_asks_once_and_each_answer_leads_where_it_says(self):
        # Yes loads the TV page again, which fails another way each time:
        # an HTTP error, bytes that are no HTTP, a frame with an HTTP error,
        # a frame whose server refuses; No then leads to the error page.
        self.server.page("/broken-frame.html", "<p>oops</p>", status=500)
        self.server.page("/data/404.html", pt.solid_page("#ffffff", "error page"))
        frame = "<iframe src='{}'></iframe>".format
        self.server.page("/tv/app.html", "<h1>gone</h1>", status=404)
        self.open()
        for n, (body, status) in enumerate([
                ("", "garbage"), (pt.solid_page("#00ff00", frame("/broken-frame.html")), 200),
                (pt.solid_page("#00ff00", frame(closed_port_host() + "/frame.html")), 200)], 1):
            box = self.box()
            self.server.page("/tv/app.html", body, status=status)
            pt.press(box, "是", click=True)
            pt.wait_until(lambda: self.server.hits("/tv/app.html") > n, what="TV page again")
        pt.press(self.box(), "否", click=True)
        pt.wait_until(lambda: self.server.hits("/data/404.html") == 1, what="error page")
        self.no_box()
        self.assertTrue(self.p.alive())

    def test_a_page_process_that_stops_answering_is_ended_and_the_page_comes_back(self):
        # The engine finds out when the page leaves a key unanswered, which
        # needs the page focused while it still answered; a click on a page
        # that never had the focus asks a question of Pelko's own.
        self.server.page("/report", "ok")
        for nudge in ("click", "key"):
            with self.subTest(nudge=nudge):
                self.server.queries.clear()
                self.server.page("/tv/app.html", pt.solid_page("#123456", TELLING + (
                    "<script>alert('x'); confirm('y'); prompt('z');</script>" * (nudge == "key"))))
                self.open(env={"PELKO_TEST_HANG_SECONDS": "2"})
                try:
                    self.hang_and_recover(nudge)
                finally:
                    self.p.close()

    def hang_and_recover(self, nudge):
        self.told("loaded")
        if nudge == "key":
            # A loaded page has no context menu, and its script no dialogs.
            pt.click_at(*self.page, button=3)
            pt.holds(lambda: not pt.popup_shown(self.pid) and not pt.dialogs(self.app), 1.5,
                     "without a menu or a dialog")
            pt.click_at(*self.page)
            self.told("clicked")
        loads = self.server.hits("/tv/app.html")
        hung = pt.wait_until(lambda: pt.web_processes(self.pid), what="page process")[0]
        os.kill(hung, signal.SIGSTOP)
        self.addCleanup(pt.run, "kill", "-CONT", str(hung))

        def back():
            if nudge == "key":
                pt.run("xdotool", "key", "Down")
            else:
                pt.click_at(*self.page)
            return self.server.hits("/tv/app.html") > loads
        pt.wait_until(back, 30, what="the page loaded again")
        pt.wait_until(lambda: hung not in pt.web_processes(self.pid), 10,
                      what="the hung process ended")
        self.no_box()
        self.assertTrue(self.p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
