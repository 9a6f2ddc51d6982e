"""An update that cannot leave the user without a program: PelkoUpdate
killed at every step of replacing Pelko, and a new Pelko that fails to come
up put back by the previous one. The programs here are small scripts that
answer the updater the way Pelko does."""

import os
import signal
import stat
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
from test_updater import UpdaterCase  # noqa: E402

# Both answer an updater that waits for them, and note that they ran.
ANSWER = b'[ -n "$PELKO_HANDSHAKE_FD" ] && echo up >&3\n'
OLD = b"#!/bin/sh\n# version 1.2.0\n" + ANSWER + b'echo old >> "$STARTS"\n'
NEW = b"#!/bin/sh\n# version 1.3.0\n" + ANSWER + b'echo new >> "$STARTS"\n'
CRASHING = b"#!/bin/sh\n# version 1.3.0, broken\nkill -SEGV $$\n"


def stopped(pid):
    return pt.read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()[0] == "T"


class Swap(UpdaterCase):
    def setUp(self):
        super().setUp()
        self.starts = os.path.join(self.tmp, "starts")
        self.env = {"STARTS": self.starts}
        self.reset()

    def reset(self):
        """The folder as Pelko 1.2.0 leaves it when it hands over to 1.3.0."""
        if getattr(self, "p", None):
            self.p.close()  # a failed case's updater would hold the folder
        for name in set(os.listdir(self.app_dir)) - set(self.files_before):
            os.remove(os.path.join(self.app_dir, name))
        pt.write(self.program, OLD, 0o755)
        self.write_installed("1.3.0")
        pt.write(self.starts, "")

    def read(self, name="Pelko"):
        return pt.read(os.path.join(self.app_dir, name), "rb")

    def left(self):
        return sorted(set(os.listdir(self.app_dir)) - set(self.files_before))

    def update(self, env, done=True):
        """Start, and OK in the 完成 box unless the updater stops before it."""
        self.open_updater(["--installed", "1.2.0", "--offered", "1.3.0"], dict(self.env, **env))
        pt.activate(self.start_button)
        if done:
            pt.press(self.wait_box("完成"), "确定")

    def test_killed_at_every_step_leaves_a_whole_program(self):
        # The step, the program served, what Pelko then is, what is left
        # beside it, and whether the next run is started by a Pelko that ran.
        steps = [
            ("downloaded", NEW, OLD, 1, False),  # the checked download, not yet in place
            ("kept", NEW, OLD, 2, False),        # and the program's second name
            ("swapped", NEW, NEW, 1, False),
            ("started", NEW, NEW, 1, True),
            ("confirmed", NEW, NEW, 1, True),
            ("restoring", CRASHING, CRASHING, 1, False),
            ("restored", CRASHING, OLD, 0, False),
        ]
        for step, served, program, extra, by_pelko in steps:
            with self.subTest(step):
                self.reset()
                self.serve(served)
                self.update({"PELKO_PAUSE_AT": step},
                            done=step not in ("downloaded", "kept", "swapped"))
                pid = self.p.proc.pid
                pt.wait_until(lambda: stopped(pid), 30, what=f"the updater paused at {step}")
                os.kill(pid, signal.SIGKILL)
                self.p.proc.wait(10)

                # A whole program under its name, and one that runs: every
                # byte of one version, executable.
                self.assertEqual(self.read(), program)
                self.assertTrue(os.stat(self.program).st_mode & stat.S_IXUSR)
                self.assertEqual(len(self.left()), extra, self.left())
                if "Pelko.old" in self.left():
                    self.assertEqual(self.read("Pelko.old"), OLD)

                # The next run clears what the killed one left, as far as
                # it is safe, and updates as if nothing had happened.
                self.serve(NEW)
                self.write_installed("1.3.0")
                args = ["--installed", "1.2.0", "--offered", "1.3.0"] if by_pelko else []
                self.open_updater(args, self.env)
                # Started by hand, it cannot tell whether the program in place
                # ever ran: a previous one that may be the only good one stays.
                kept = ["Pelko.old"] if step in ("swapped", "restoring") else []
                self.assertEqual(self.left(), kept)
                if kept:
                    self.assertEqual(self.read("Pelko.old"), OLD)
                pt.activate(self.start_button)
                pt.press(self.wait_box("完成"), "确定")
                self.assertEqual(self.p.proc.wait(15), 0)
                self.assertEqual(self.read(), NEW)
                self.assertEqual(self.left(), [])
                self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.3.0\n")

    def test_new_program_that_fails_is_undone(self):
        pid_file = os.path.join(self.tmp, "silent.pid")
        cases = [
            ("crashes", CRASHING, {}, f"启动后崩溃了，信号 {int(signal.SIGSEGV)}"),
            ("ends without a word", b"#!/bin/sh\nexit 0\n", {}, "启动后就退出了，退出码 0"),
            ("stays silent",
             b"#!/bin/sh\necho $$ > '" + pid_file.encode() + b"'\nexec sleep 600\n",
             {"PELKO_TEST_HANDSHAKE_SECONDS": "2"}, "在 2 秒内没有报告启动成功"),
        ]
        for name, served, env, reason in cases:
            with self.subTest(name):
                self.reset()
                self.serve(served)
                self.update(env)
                box = self.wait_box("更新已撤销")
                self.assertIn(f"更新后的程序没有正常启动（{reason}），更新已撤销：原来的程序已恢复并重新启动。",
                              pt.texts(box))
                # Put back before the box: the program, its version, and it runs.
                self.assertEqual(self.read(), OLD)
                self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.2.0\n")
                pt.wait_until(lambda: pt.read(self.starts).split() == ["old"],
                              what="the old program started")
                if os.path.exists(pid_file):
                    self.assertFalse(os.path.exists(f"/proc/{pt.read(pid_file).strip()}"))
                    os.remove(pid_file)
                pt.press(box, "确定")
                self.assertEqual(self.p.proc.wait(10), 0)
                self.assertEqual(self.left(), [])

    def test_real_program_asking_its_question_has_come_up(self):
        # The new Pelko finds a still newer version at once: its question
        # stands for the window, and the updater must not take it for a hang.
        self.serve(self.new_program)
        self.update({"PELKO_TEST_HANDSHAKE_SECONDS": "3"}, done=False)
        box = self.wait_box("完成")
        pt.write(os.path.join(self.app_dir, "up.ini"), "[ver]\nversion=9.0.0\n")
        pt.press(box, "确定")
        self.assertEqual(self.p.proc.wait(15), 0)
        self.adopt(pt.window(None, "提示"))
        self.assertEqual(self.read(), self.new_program)
        self.assertEqual(self.left(), [])
        self.assertEqual(pt.read(self.installed), "[ver]\nversion=1.3.0\n")


if __name__ == "__main__":
    unittest.main()
