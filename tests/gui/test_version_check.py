"""The version check at every start and the hand-over to PelkoUpdate."""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

ASK = "程序有新的更新,请确定退出程序进行更新？"
CONFIRM = "您确定退出程序进行更新？"


def ini(version):
    return f"; the service's version\r\n[ver]\r\nversion={version}\r\n"


class VersionCheck(pt.GuiTest):
    def setUp(self):
        super().setUp()
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.installed = os.path.join(self.app_dir, "update.ini")
        self.service = os.path.join(self.app_dir, "up.ini")
        self.install("1.2.0")

    def install(self, version):
        pt.write(self.installed, f"[ver]\nversion={version}\n")

    def offer(self, version, fetched=True):
        """The service's version, and the file the last start left of it."""
        self.server.page("/up.ini", ini(version), ctype="text/plain")
        if fetched:
            pt.write(self.service, ini(version))

    def open(self):
        self.p = self.start()
        self.pid = self.p.proc.pid
        self.app = pt.application(self.pid)

    def question(self, text=ASK, title="提示"):
        return pt.message_box(self.app, self.pid, title, text)

    def updater_arguments(self):
        """Those of the updater Pelko started, which the test then closes."""
        wid = pt.window(None, "PelkoUpdate")
        args = pt.read(f"/proc/{self.adopt(wid)}/cmdline", "rb").split(b"\0")[1:-1]
        pt.run("xdotool", "windowclose", str(wid))
        return args

    def test_newer_version_and_yes_hands_over_before_the_window_shows(self):
        self.offer("1.10.0")
        self.open()
        box = self.question()
        self.assertEqual(pt.windows_named(pt.CAPTION, self.pid), [])
        pt.press(box, "是", click=True)
        self.assertEqual(self.p.proc.wait(15), 0)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.10.0\n")
        # The updater accepts only a file signed for the version offered here.
        self.assertEqual(self.updater_arguments(),
                         [b"--installed", b"1.2.0", b"--offered", b"1.10.0"])

    def test_no_keeps_the_version_and_the_update_entry_hands_over_without_touching_it(self):
        self.install("1.0")
        self.offer("1.0a")
        self.open()
        pt.press(self.question(), "否", click=True)
        pt.window(self.pid)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.0\n")
        # The check removed the old file; this start's transfer leaves a new one.
        pt.wait_until(lambda: os.path.exists(self.service), what="up.ini for the next start")
        self.assertEqual(pt.read(self.service), ini("1.0a"))

        pt.choose(self.app, "选项", "更新程序")
        pt.press(self.question(CONFIRM), "否", click=True)
        pt.wait_until(lambda: not pt.dialogs(self.app), what="question answered")
        pt.holds(self.p.alive, 1, "running")
        pt.choose(self.app, "选项", "更新程序")
        pt.press(self.question(CONFIRM), "是", click=True)
        self.assertEqual(self.p.proc.wait(15), 0)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.0\n")
        self.assertEqual(self.updater_arguments(), [b"--installed", b"1.0"])

    def test_told_to_stop_during_the_question_takes_it_as_no(self):
        # A session that ends while the question waits must not wait for it.
        self.offer("1.3.0")
        self.open()
        self.question()
        self.p.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.p.proc.wait(10), 0)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.2.0\n")
        self.assertEqual(pt.windows_named("PelkoUpdate"), [])

    def test_equal_older_broken_or_no_service_version_asks_nothing(self):
        # The service's version as the last start left it, against the
        # installed 1.2.0 (None: no file, a first start, whose transfer then
        # fetches it). Versions part by part: VersionText.
        for service in ("1.2.0", "1.1.10", "", b"\x00\xff\xfe binary", b"[ver]\nversion",
                        b"[ver]\nversion=9.\xff\n", None):
            with self.subTest(service=service):
                self.offer(service if isinstance(service, str) else "9.9", isinstance(service, str))
                if isinstance(service, bytes):
                    pt.write(self.service, service)
                elif service is None and os.path.exists(self.service):
                    os.remove(self.service)
                self.open()
                pt.window(self.pid)
                self.assertEqual(pt.dialogs(self.app), [])
                # Bytes that are no text never reach a text field.
                self.assertNotIn("utf8", self.p.output())
                if service is None:
                    pt.wait_until(lambda: os.path.exists(self.service), what="up.ini fetched")
                    self.assertEqual(pt.read(self.service), ini("9.9"))
                self.p.close()

    def test_updater_that_cannot_start_keeps_everything(self):
        self.offer("2.0")
        os.remove(os.path.join(self.app_dir, "PelkoUpdate"))
        self.open()
        pt.press(self.question(), "是", click=True)
        pt.press(self.question("PelkoUpdate", "Pelko"), "确定", click=True)
        pt.window(self.pid)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.2.0\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
