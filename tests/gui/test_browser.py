"""The TV page in the embedded browser: quiet, no context menu once loaded,
and one question for every failed navigation."""

import os
import signal
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

TIMEOUT_TEXT = "网络超时，请稍后重试，点击是返回主页"


def closed_port_host():
    # A port that was free a moment ago and that nobody listens on.
    return f"http://127.0.0.1:{pt.free_port()}"


class Browser(pt.GuiTest):
    def open(self, host=None, env=None):
        self.p = self.start(host, env=env)
        self.pid = self.p.proc.pid
        self.wid = pt.main_window(self.pid)
        self.app = pt.application(self.pid)

    def box(self, timeout=30):
        return pt.message_box(self.app, self.pid, "提示", TIMEOUT_TEXT, timeout)

    def no_box(self, seconds=2.0):
        time.sleep(seconds)
        return not pt.windows_named("提示", self.pid)

    def right_click_page(self):
        panel = pt.descendants(self.app, "panel")[0]
        x, y = pt.centre(panel)
        pt.click_at(x, y, button=3)

    def test_context_menu_before_the_first_document_only(self):
        self.server.fault("/tv/app.html", "stall")
        self.open()
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page asked for")
        # The page's process may still be starting: a click it did not get
        # is a click the user would repeat.
        def menu_after_click():
            self.right_click_page()
            try:
                return pt.wait_until(lambda: pt.popup_shown(self.pid), 2)
            except AssertionError:
                return False
        pt.wait_until(menu_after_click, 15, 0, what="browser's context menu")
        pt.run("xdotool", "key", "Escape")

    def test_no_context_menu_on_a_loaded_page_and_no_script_dialogs(self):
        self.server.page("/tv/app.html", pt.solid_page(
            "#123456", "<script>alert('x'); confirm('y'); prompt('z');</script>"))
        self.open()
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 1, what="TV page asked for")
        time.sleep(2)
        self.right_click_page()
        time.sleep(1.5)
        self.assertFalse(pt.popup_shown(self.pid))
        self.assertEqual(pt.dialogs(self.app), [])
        self.assertTrue(self.p.alive())

    def test_refused_connection_asks_again_after_each_answer(self):
        self.open(closed_port_host())
        # Yes tries the TV page again, No the error page: both fail again.
        for reply in ("否", "是", "否"):
            box = self.box()
            pt.answer(box, reply)
            pt.wait_until(lambda: box not in pt.dialogs(self.app), what="box answered")
        self.box()
        self.assertTrue(self.p.alive())

    def test_http_error_status_and_where_each_answer_leads(self):
        self.server.page("/tv/app.html", "<h1>gone</h1>", status=404)
        self.server.page("/data/404.html", pt.solid_page("#ffffff", "error page"))
        self.open()
        pt.answer(self.box(), "是")
        pt.wait_until(lambda: self.server.hits("/tv/app.html") >= 2, what="TV page again")
        pt.answer(self.box(), "否")
        pt.wait_until(lambda: self.server.hits("/data/404.html") == 1, what="error page")
        self.assertTrue(self.no_box())

    def test_failed_frames_give_the_box_and_the_answer_replaces_the_page(self):
        for frame in ("/broken-frame.html", closed_port_host() + "/frame.html"):
            with self.subTest(frame=frame):
                self.server.page("/tv/app.html", pt.solid_page(
                    "#00ff00", f"<iframe src='{frame}'></iframe>"))
                self.server.page("/broken-frame.html", "<p>oops</p>", status=500)
                self.server.page("/data/404.html", pt.solid_page("#ffffff"))
                before = self.server.hits("/data/404.html")
                self.open()
                pt.answer(self.box(), "否")
                pt.wait_until(lambda: self.server.hits("/data/404.html") == before + 1,
                              what="error page")
                self.assertTrue(self.no_box())
                self.p.close()

    def test_a_page_process_that_stops_answering_is_ended_and_the_page_comes_back(self):
        # The engine finds out when the page leaves a key unanswered, which
        # needs the page focused while it still answered; a click on a page
        # that never had the focus asks a question of Pelko's own.
        for nudge in ("click", "key"):
            with self.subTest(nudge=nudge):
                self.server.page("/tv/app.html", pt.solid_page("#123456"))
                self.open(env={"PELKO_TEST_HANG_SECONDS": "2"})
                try:
                    self.hang_and_recover(nudge)
                finally:
                    self.p.close()

    def hang_and_recover(self, nudge):
        pt.wait_until(lambda: pt.web_processes(self.pid), what="page process")
        page = pt.centre(pt.descendants(self.app, "panel")[0])
        if nudge == "key":
            pt.click_at(*page)
        time.sleep(1)
        loads = self.server.hits("/tv/app.html")
        self.assertGreaterEqual(loads, 1)
        hung = pt.web_processes(self.pid)[0]
        os.kill(hung, signal.SIGSTOP)
        self.addCleanup(pt.run, "kill", "-CONT", str(hung))

        def back():
            if nudge == "key":
                pt.run("xdotool", "key", "Down")
            else:
                pt.click_at(*page)
            return self.server.hits("/tv/app.html") > loads
        pt.wait_until(back, 30, what="the page loaded again")
        pt.wait_until(lambda: hung not in pt.web_processes(self.pid), 10,
                      what="the hung process ended")
        self.assertTrue(self.no_box())
        self.assertTrue(self.p.alive())

    def test_garbage_and_stalls_give_the_box(self):
        self.server.fault("/tv/app.html", "garbage")
        self.open()
        self.box()
        self.p.close()
        self.server.fault("/tv/app.html", "stall")
        self.open()
        self.assertTrue(self.no_box(5))
        self.box(timeout=40)


class DemoPage(pt.GuiTest):
    def test_the_tv_page_video_plays(self):
        service = pt.DemoService()
        self.addCleanup(service.close)
        p = self.start(service.host)
        pt.main_window(p.proc.pid)

        def times():
            out = []
            for line in list(service.lines):
                if "/tv/heartbeat?" in line and " 204 " in line:
                    query = line.split("?", 1)[1].split(" ", 1)[0]
                    fields = dict(kv.split("=", 1) for kv in query.split("&") if "=" in kv)
                    out.append(float(fields.get("t", "0")))
            return out
        # The page reports the video's position while it plays: it must move on.
        pt.wait_until(lambda: len(set(times())) >= 3, 40, what="video time advancing")
        self.assertGreater(max(times()), min(times()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
