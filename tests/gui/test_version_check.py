"""The version check at every start and the hand-over to PelkoUpdate."""

import os
import signal
import sys
import time
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
        self.write(self.installed, "[ver]\nversion=1.2.0\n")

    def write(self, path, text):
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def read(self, path):
        with open(path, encoding="utf-8", newline="") as f:
            return f.read()

    def serve(self, version):
        self.server.routes["/up.ini"] = (200, "text/plain", ini(version))

    def open(self):
        self.p = self.start()
        self.pid = self.p.proc.pid
        self.app = pt.application(self.pid)

    def updater_windows(self):
        return pt.windows_named("PelkoUpdate")

    def updater_arguments(self):
        pid = pt.run("xdotool", "getwindowpid", str(self.updater_windows()[0])).strip()
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().split(b"\0")[1:-1]

    def test_newer_version_and_yes_hands_over_before_the_window_shows(self):
        self.serve("1.10.0")
        self.write(self.service, ini("1.10.0"))  # left by the last start's transfer
        self.open()
        box = pt.message_box(self.app, self.pid, "提示", ASK)
        self.assertEqual(pt.windows_named(pt.CAPTION, self.pid), [])
        pt.answer(box, "是")
        self.assertEqual(self.p.proc.wait(15), 0)
        pt.wait_until(self.updater_windows, what="PelkoUpdate's window")
        self.assertEqual(self.read(self.installed), "[ver]\nversion=1.10.0\n")
        # The updater accepts only a file signed for the version offered here.
        self.assertEqual(self.updater_arguments(),
                         [b"--installed", b"1.2.0", b"--offered", b"1.10.0"])
        self.assertIsNone(pt.tray_icon())
        # The updater is ours to close.
        pt.run("xdotool", "windowclose", str(self.updater_windows()[0]))

    def test_no_keeps_the_version_and_shows_the_window(self):
        self.serve("1.0a")
        self.write(self.installed, "[ver]\nversion=1.0\n")
        self.write(self.service, ini("1.0a"))
        self.open()
        pt.answer(pt.message_box(self.app, self.pid, "提示", ASK), "否")
        pt.main_window(self.pid)
        self.assertEqual(self.read(self.installed), "[ver]\nversion=1.0\n")
        # The check removed the old file; this start's transfer leaves a new one.
        pt.wait_until(lambda: os.path.exists(self.service), what="up.ini for the next start")
        self.assertEqual(self.read(self.service), ini("1.0a"))

    def test_told_to_stop_during_the_question_takes_it_as_no(self):
        # A session that ends while the question waits must not wait for it.
        self.serve("1.3.0")
        self.write(self.service, ini("1.3.0"))
        self.open()
        pt.message_box(self.app, self.pid, "提示", ASK)
        self.p.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.p.proc.wait(10), 0)
        self.assertEqual(self.read(self.installed), "[ver]\nversion=1.2.0\n")
        self.assertEqual(self.updater_windows(), [])

    def test_equal_older_or_broken_service_versions_ask_nothing(self):
        cases = [("1.2.0", "1.2.0"), ("1.9", "1.10"), ("9", "10"), ("", "1.2.0")]
        for service, installed in cases:
            with self.subTest(service=service, installed=installed):
                self.write(self.installed, f"[ver]\nversion={installed}\n")
                self.write(self.service, ini(service))
                self.serve(service)
                self.open()
                pt.main_window(self.pid)
                self.assertEqual(pt.dialogs(self.app), [])
                self.p.close()
        for garbage in (b"\x00\xff\xfe binary", b"[ver]\nversion", b"[ver]\nversion=9.\xff\n"):
            with self.subTest(garbage=garbage):
                with open(self.service, "wb") as f:
                    f.write(garbage)
                self.open()
                pt.main_window(self.pid)
                self.assertEqual(pt.dialogs(self.app), [])
                # Bytes that are no text never reach a text field.
                self.assertNotIn("utf8", self.p.output())
                self.p.close()

    def test_first_start_without_up_ini_asks_nothing_and_fetches_it(self):
        self.serve("9.9")
        self.open()
        pt.main_window(self.pid)
        self.assertEqual(pt.dialogs(self.app), [])
        pt.wait_until(lambda: os.path.exists(self.service), what="up.ini fetched")
        self.assertEqual(self.read(self.service), ini("9.9"))

    def test_updater_that_cannot_start_keeps_everything(self):
        self.serve("2.0")
        self.write(self.service, ini("2.0"))
        os.remove(os.path.join(self.app_dir, "PelkoUpdate"))
        self.open()
        pt.answer(pt.message_box(self.app, self.pid, "提示", ASK), "是")
        box = pt.message_box(self.app, self.pid, "Pelko")
        self.assertTrue(any("PelkoUpdate" in t for t in pt.texts(box)), pt.texts(box))
        pt.answer(box, "确定")
        pt.main_window(self.pid)
        self.assertEqual(self.read(self.installed), "[ver]\nversion=1.2.0\n")

    def test_update_entry_hands_over_without_touching_versions(self):
        self.open()
        wid = pt.main_window(self.pid)
        pt.choose(wid, self.app, "选项", "更新程序")
        pt.answer(pt.message_box(self.app, self.pid, "提示", CONFIRM), "否")
        time.sleep(1)
        self.assertTrue(self.p.alive())
        pt.choose(wid, self.app, "选项", "更新程序")
        pt.answer(pt.message_box(self.app, self.pid, "提示", CONFIRM), "是")
        self.assertEqual(self.p.proc.wait(15), 0)
        pt.wait_until(self.updater_windows, what="PelkoUpdate's window")
        self.assertEqual(self.read(self.installed), "[ver]\nversion=1.2.0\n")
        self.assertEqual(self.updater_arguments(), [b"--installed", b"1.2.0"])
        pt.run("xdotool", "windowclose", str(self.updater_windows()[0]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
