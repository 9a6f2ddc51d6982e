"""PelkoUpdate as a user meets it: its window, Start, the result box, the
new main program started after a successful update, and every program file
whose signature does not hold refused."""

import os
import signal
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
import pyatspi  # noqa: E402

OLD_PROGRAM = b"#!/bin/sh\n# the old program, which an update must replace or keep whole\n"


def size_text(n):
    """The size as the updater writes it, for files of 1 MiB up to 512 MiB."""
    tenths = (n // 1024 * 10 + 512) // 1024  # halves away from zero
    return f"{tenths // 10}.{tenths % 10}".replace(".0", "") + "M"


class UpdaterCase(pt.GuiTest):
    """A program folder whose Pelko is an old one, and PelkoUpdate driven
    through its window."""

    def setUp(self):
        super().setUp()
        self.program = os.path.join(self.app_dir, "Pelko")
        self.new_program = pt.read(self.program, "rb")
        pt.write(self.program, OLD_PROGRAM, 0o755)
        self.files_before = sorted(os.listdir(self.app_dir))
        self.installed = os.path.join(self.app_dir, "update.ini")

    def serve(self, data, signature=None, comment="version:1.3.0 file:Pelko"):
        """The program, with its signature, by default one made for it."""
        self.server.page("/Pelko", data, ctype="application/octet-stream")
        self.server.routes.pop("/Pelko.minisig", None)
        if signature is not False:
            self.server.page("/Pelko.minisig", signature or pt.sign(data, comment),
                             ctype="text/plain")

    def write_installed(self, version):
        pt.write(self.installed, f"[ver]\nversion={version}\n")

    def open_updater(self, args=(), env=None):
        self.p = self.start(program="PelkoUpdate", args=args, env=env)
        self.wid = pt.window(self.p.proc.pid, "PelkoUpdate")
        self.app = pt.application(self.p.proc.pid)
        self.start_button = pt.button(self.app, "开始")
        self.cancel_button = pt.button(self.app, "取消")

    def wait_box(self, title):
        return pt.message_box(self.app, self.p.proc.pid, title)

    def answer_box(self, title, *text):
        """OK in the box of that title once it is there, showing the texts."""
        box = self.wait_box(title)
        for t in text:
            self.assertTrue(any(t in shown for shown in pt.texts(box)), (t, pt.texts(box)))
        pt.press(box, "确定")
        pt.wait_until(lambda: not pt.dialogs(self.app), what="box closed")

    def assert_idle_after_failure(self):
        self.assertTrue(self.p.alive())
        self.assertTrue(pt.is_viewable(self.wid))
        self.assertTrue(pt.state(self.start_button, pyatspi.STATE_SENSITIVE))
        self.assertFalse(pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE))
        self.assertEqual(pt.read(self.program, "rb"), OLD_PROGRAM)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)


class Updater(UpdaterCase):
    def test_window_failure_cancel_and_close_keep_the_old_program(self):
        self.serve(self.new_program)
        self.server.page("/Pelko", "<h1>server error</h1>", status=500)
        self.open_updater()
        # A fixed size that can be minimised only.
        actions = pt.run("xprop", "-id", str(self.wid), "_NET_WM_ALLOWED_ACTIONS")
        self.assertIn("_NET_WM_ACTION_MINIMIZE", actions)
        self.assertNotIn("_NET_WM_ACTION_MAXIMIZE_HORZ", actions)
        self.assertNotIn("_NET_WM_ACTION_RESIZE", actions)
        labels = pt.texts(self.app)
        self.assertIn("升级服务器地址:", labels)
        self.assertIn(self.server.host + "/Pelko", labels)

        for _ in range(2):  # a second Start after a failure works the same way
            pt.activate(self.start_button)
            self.answer_box("错误", "下载失败")
            self.assert_idle_after_failure()
        self.assertEqual(self.server.hits("/Pelko"), 2)
        # Cancelled in the middle of a transfer, then closed in the middle of
        # the next: the temporary file goes, and alt+F4 ends the updater at once.
        self.server.page("/Pelko", status="stall")
        for close in (False, True):
            pt.activate(self.start_button)
            pt.wait_until(lambda: pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE)
                          and len(os.listdir(self.app_dir)) > len(self.files_before),
                          what="Cancel enabled and the temporary file")
            if not close:
                pt.activate(self.cancel_button)
                self.answer_box("错误")
                self.assert_idle_after_failure()
        pt.run("xdotool", "windowactivate", "--sync", str(self.wid))
        pt.run("xdotool", "key", "--clearmodifiers", "alt+F4")
        try:
            self.assertEqual(self.p.proc.wait(10), 0)
        except subprocess.TimeoutExpired:
            self.fail("still running after alt+F4; window shown: %s" % pt.is_viewable(self.wid))
        self.assertEqual(pt.read(self.program, "rb"), OLD_PROGRAM)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)

    def test_update_replaces_and_starts_the_main_program(self):
        self.serve(self.new_program)
        self.write_installed("1.3.0")  # as Pelko leaves it when it hands over
        self.open_updater(["--installed", "1.2.0", "--offered", "1.3.0"])
        pt.activate(self.start_button)
        box = self.wait_box("完成")
        size = size_text(len(self.new_program))
        self.assertIn(f"完成{size}下载并保存到{self.program}", pt.texts(box))
        self.assertIn(f"100% of {size}", pt.texts(self.app))  # the progress text
        self.assertFalse(pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE))
        # Only after the box is closed does the new program start.
        self.assertEqual(pt.windows_named(pt.CAPTION), [])
        pt.press(box, "确定")

        self.adopt(pt.window(None, timeout=30))
        self.assertEqual(self.p.proc.wait(10), 0)
        self.assertEqual(pt.read(self.program, "rb"), self.new_program)
        self.assertEqual(stat.S_IMODE(os.stat(self.program).st_mode), 0o755)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.3.0\n")

    def test_unsigned_or_badly_signed_files_are_refused(self):
        # Each way the updater itself meets a bad file; the verdicts on the
        # signature's key, kind and signed name are the unit tests'
        # (Minisign.SignatureFileTable, ReleaseCheck.SignedNameAndVersionTable).
        def signed(comment="version:1.3.0 file:Pelko"):
            return pt.sign(self.new_program, comment)
        good = signed()
        cases = [
            ("no signature", False, "服务器没有提供更新文件的签名"),
            ("longer than any signature", good + b"\n" * 5000, "签名已损坏或不完整"),
            ("file changed after signing", (self.new_program + b"\0", good), "签名后被改动过"),
            ("downgrade", signed("version:1.1.0 file:Pelko"),
             "签名的版本 1.1.0 低于已安装的版本 1.2.0"),
            ("not the offered version", signed("version:1.4.0 file:Pelko"),
             "签名的版本 1.4.0 与服务器提供的版本 1.3.0 不符"),
        ]
        self.write_installed("1.3.0")
        self.files_before = sorted(os.listdir(self.app_dir))
        self.open_updater(["--installed", "1.2.0", "--offered", "1.3.0"])
        for name, served, message in cases:
            with self.subTest(name):
                self.serve(*served if isinstance(served, tuple) else (self.new_program, served))
                self.write_installed("1.3.0")  # what Pelko wrote when it handed over
                pt.activate(self.start_button)
                self.answer_box("错误", message)
                self.assert_idle_after_failure()
                # The next start of Pelko offers the update again.
                self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.2.0\n")
        # Told to stop while a box is open, it ends, box and all.
        pt.activate(self.start_button)
        self.wait_box("错误")
        self.p.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.p.proc.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
