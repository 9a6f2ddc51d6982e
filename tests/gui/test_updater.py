"""PelkoUpdate as a user meets it: its window, Start, the result box, and the
new main program started after a successful update."""

import os
import re
import stat
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


class Updater(pt.GuiTest):
    def setUp(self):
        super().setUp()
        self.program = os.path.join(self.app_dir, "Pelko")
        with open(self.program, "rb") as f:
            self.new_program = f.read()
        with open(self.program, "wb") as f:
            f.write(OLD_PROGRAM)
        os.chmod(self.program, 0o755)
        self.files_before = sorted(os.listdir(self.app_dir))

    def open_updater(self):
        self.p = self.start(program="PelkoUpdate")
        self.wid = pt.wait_until(
            lambda: (pt.windows_named("PelkoUpdate", self.p.proc.pid) or [None])[0],
            what="updater window")
        self.app = pt.application(self.p.proc.pid)
        self.start_button = self.button("开始")
        self.cancel_button = self.button("取消")

    def button(self, caption):
        return pt.wait_until(lambda: (pt.descendants(self.app, "push button", caption) or [None])[0],
                             what=f"button {caption}")

    def wait_box(self, title):
        """A message box of the updater by its title. The toolkit names an alert
        after its kind, so the title is read from the window manager."""
        def find():
            boxes = pt.dialogs(self.app)
            return boxes[0] if boxes and pt.windows_named(title, self.p.proc.pid) else None
        return pt.wait_until(find, what=f"message box {title}")

    def wait_box_closed(self):
        pt.wait_until(lambda: not pt.dialogs(self.app), what="box closed")

    def progress_text(self):
        texts = [t for t in pt.texts(self.app) if re.fullmatch(r"-?\d+% of .*", t)]
        return texts[0] if texts else None

    def assert_idle_after_failure(self):
        self.assertTrue(self.p.alive())
        self.assertTrue(pt.is_viewable(self.wid))
        self.assertTrue(pt.state(self.start_button, pyatspi.STATE_SENSITIVE))
        self.assertFalse(pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE))
        with open(self.program, "rb") as f:
            self.assertEqual(f.read(), OLD_PROGRAM)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)

    def test_window_as_designed(self):
        self.server.routes["/Pelko"] = (200, "application/octet-stream", self.new_program)
        self.open_updater()
        g = pt.geometry(self.wid)
        self.assertEqual((g["width"], g["height"]), (501, 249))
        root = pt.run("xwininfo", "-root")
        screen_w, screen_h = (int(re.search(k + r":\s+(\d+)", root).group(1))
                              for k in ("Width", "Height"))
        # Centred: the window manager's title bar moves the client a little down.
        self.assertLessEqual(abs(g["x"] + 250 - screen_w // 2), 10)
        self.assertLessEqual(abs(g["y"] + 124 - screen_h // 2), 30)
        actions = pt.run("xprop", "-id", str(self.wid), "_NET_WM_ALLOWED_ACTIONS")
        self.assertIn("_NET_WM_ACTION_MINIMIZE", actions)
        self.assertNotIn("_NET_WM_ACTION_MAXIMIZE_HORZ", actions)
        self.assertNotIn("_NET_WM_ACTION_RESIZE", actions)
        labels = pt.texts(self.app)
        self.assertIn("升级服务器地址:", labels)
        self.assertIn(self.server.host + "/Pelko", labels)
        self.assertTrue(pt.state(self.start_button, pyatspi.STATE_SENSITIVE))
        self.assertFalse(pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE))
        # The progress text waits hidden until Start.
        self.assertFalse([t for t in pt.descendants(self.app, "label", "Label3")
                          if pt.state(t, pyatspi.STATE_SHOWING)])

    def test_update_replaces_and_starts_the_main_program(self):
        self.server.routes["/Pelko"] = (200, "application/octet-stream", self.new_program)
        self.open_updater()
        pt.activate(self.start_button)
        box = self.wait_box("完成")
        self.assertIn(f"完成{size_text(len(self.new_program))}下载并保存到{self.program}",
                      pt.texts(box))
        self.assertEqual(self.progress_text(), f"100% of {size_text(len(self.new_program))}")
        self.assertFalse(pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE))
        # Only after the box is closed does the new program start.
        self.assertEqual(pt.windows_named(pt.CAPTION), [])
        pt.press(box, "确定")

        main = pt.wait_until(lambda: (pt.windows_named(pt.CAPTION) or [None])[0], 30,
                             what="the new main program's window")
        pid = int(pt.run("xdotool", "getwindowpid", str(main)).strip())
        self.addCleanup(lambda: pt.run("kill", str(pid)))
        self.assertEqual(self.p.proc.wait(10), 0)
        with open(self.program, "rb") as f:
            self.assertEqual(f.read(), self.new_program)
        self.assertEqual(stat.S_IMODE(os.stat(self.program).st_mode), 0o755)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)

    def test_failing_server_keeps_the_old_program(self):
        self.server.page("/Pelko", "<h1>server error</h1>", status=500)
        self.open_updater()
        for _ in range(2):  # a second Start after a failure works the same way
            pt.activate(self.start_button)
            box = self.wait_box("错误")
            self.assertIn("下载失败", pt.texts(box))
            pt.press(box, "确定")
            self.wait_box_closed()
            self.assert_idle_after_failure()
        self.assertEqual(self.server.hits("/Pelko"), 2)

    def test_cancel_and_close_leave_no_trace(self):
        self.server.fault("/Pelko", "stall")
        self.open_updater()
        pt.activate(self.start_button)
        pt.wait_until(lambda: pt.state(self.cancel_button, pyatspi.STATE_SENSITIVE),
                      what="Cancel enabled")
        pt.wait_until(lambda: len(os.listdir(self.app_dir)) > len(self.files_before),
                      what="the temporary file")
        pt.activate(self.cancel_button)
        box = self.wait_box("错误")
        pt.press(box, "确定")
        self.wait_box_closed()
        self.assert_idle_after_failure()
        # Closing the window in the middle of a transfer ends the updater at once.
        pt.activate(self.start_button)
        pt.wait_until(lambda: len(os.listdir(self.app_dir)) > len(self.files_before),
                      what="the temporary file")
        pt.run("xdotool", "windowactivate", "--sync", str(self.wid))
        pt.run("xdotool", "key", "--clearmodifiers", "alt+F4")
        self.assertEqual(self.p.proc.wait(10), 0)
        with open(self.program, "rb") as f:
            self.assertEqual(f.read(), OLD_PROGRAM)
        self.assertEqual(sorted(os.listdir(self.app_dir)), self.files_before)


if __name__ == "__main__":
    unittest.main()
