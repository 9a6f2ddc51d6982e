# The About box and the menu's outside programs, driven through a stand-in for
# the main window (about_driver) whose buttons call what the menu entries call.
# Outside programs are fakes that write down how they were started. Buttons are
# clicked with the mouse: one that opens a message box runs its nested loop
# inside the click, and an accessibility action would hold the program's
# accessibility answers until the box closed.

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "gui"))
import pelkotest as pt  # noqa: E402

DRIVER = os.environ.get("PELKO_ABOUT_DRIVER", "")
SYSINFO = "系统信息(S)..."


class AboutTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="pelko-about-")
        self.addCleanup(tmp.cleanup)
        self.tmp, self.log = tmp.name, os.path.join(tmp.name, "started.log")
        # Only the test's own programs and desktop handlers can be found; the
        # type database stays, which files are recognised by.
        self.bin = os.path.join(self.tmp, "bin")
        self.env = {"PATH": self.bin, **{k: os.path.join(self.tmp, k) for k in (
            "XDG_DATA_DIRS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS")}}
        os.makedirs(self.env["XDG_DATA_DIRS"])
        os.symlink("/usr/share/mime", os.path.join(self.env["XDG_DATA_DIRS"], "mime"))

    def front(self, wid):
        pt.run("xdotool", "windowactivate", "--sync", str(wid))
        pt.wait_until(lambda: pt.run("xdotool", "getactivewindow").strip() == str(wid),
                      what=f"window {wid} in front (is there a window manager?)")

    def frame(self, title):
        return pt.wait_until(lambda: [f for f in pt.descendants(self.app, "frame", title, 1)
                                      if pt.state(f, pt.pyatspi.STATE_SHOWING)], what=title)[0]

    def press(self, caption, title="about-driver"):
        pt.click_at(*pt.centre(pt.descendants(self.frame(title), "push button", caption)[0]))

    def about(self):
        self.press("关于程序")
        return pt.window(self.pid, pt.ABOUT), pt.texts(self.frame(pt.ABOUT))

    def message(self):
        """Answers the message box now open; returns its text, buttons and icons."""
        box = pt.message_box(self.app, self.pid, "Pelko")
        found = pt.texts(box)[0], [n.getRoleName() + " " + n.name for n in pt.descendants(box)
                                   if n.getRoleName() in ("push button", "icon")]
        pt.press(box, "确定", click=True)
        pt.wait_until(lambda: not pt.windows_named("Pelko", self.pid), what="message box closed")
        return found

    def loads(self):
        return [t for t in pt.texts(self.app) if t.startswith("载入 ")][0]

    def started(self, count):
        """Waits for the count-th start of a fake program and returns the log."""
        def lines():
            return pt.read(self.log).splitlines() if os.path.exists(self.log) else []
        return pt.wait_until(lambda: len(lines()) == count and lines(), what=f"start {count}")

    def test_about_box_its_tool_and_the_menu_programs_from_a_folder_with_blanks(self):
        # The desktop's handlers for text and for mail are fakes as well.
        pt.desktop_handlers(self.env, self.log, {"editor": ("text/plain", "%f"),
                                                 "mail": ("x-scheme-handler/mailto", "%u")})
        # A copy of the stand-in, started from a program folder with blanks.
        folder = os.path.join(self.tmp, "Pelko 网络 电视 Ünï")
        os.makedirs(folder)
        program = pt.Program(shutil.copy(DRIVER, folder), "", self.env)
        self.addCleanup(program.close)
        self.pid, self.app = program.proc.pid, pt.application(program.proc.pid)
        self.wid = pt.window(self.pid, "about-driver")
        # Out of the way of the centred About box, so that clicks on either land.
        pt.run("xdotool", "windowmove", "--sync", str(self.wid), "40", "40")
        wid, _ = self.about()
        # Used again from the driver window in front: the same box comes forward.
        self.front(self.wid)
        self.press("关于程序")
        pt.wait_until(lambda: pt.run("xdotool", "getactivewindow").strip() == str(wid),
                      what="About box in front")
        self.assertEqual((pt.windows_named(pt.ABOUT, self.pid), self.loads()), ([wid], "载入 1"))
        # Closed by 确定 or by the frame's close button after a move, used again:
        # the load step runs again and the box opens centred.
        for n, close in enumerate(("确定", "alt+F4"), 2):
            pt.run("xdotool", "windowmove", "--sync", str(wid), "20", "20")
            if close == "确定":
                self.press("确定", pt.ABOUT)
            else:
                self.front(wid)
                pt.run("xdotool", "key", close)
            pt.wait_until(lambda: not pt.windows_named(pt.ABOUT, self.pid), what="About box closed")
            wid, texts = self.about()
            pt.wait_until(lambda: self.loads() == f"载入 {n}", what="load step again")
            self.assertLess(abs(pt.geometry(wid)["x"] + 191 - 800), 20)
            self.assertIn("版本 1.2.0", texts)

        # The system information tool: none on PATH, then one that cannot
        # start (its interpreter is missing).
        for setup in ("none", "broken"):
            if setup == "broken":
                pt.write_program(os.path.join(self.bin, "kinfocenter"), interpreter="/nonexistent")
            self.press(SYSINFO, pt.ABOUT)
            self.assertEqual(self.message(), ("此时系统信息不可用", ["push button 确定"]), setup)
        os.remove(os.path.join(self.bin, "kinfocenter"))
        # A tool on PATH starts each time, without waiting for the one before.
        pt.write_program(os.path.join(self.bin, "hardinfo"), self.log)
        self.press(SYSINFO, pt.ABOUT)
        self.started(1)
        self.press(SYSINFO, pt.ABOUT)
        self.assertEqual(self.started(2), [f"{self.bin}/hardinfo|{os.getcwd()}|"] * 2)
        self.assertEqual(pt.windows_named("Pelko", self.pid), [])

        # A missing menu tool: a message with the failure's description, and
        # the program goes on.
        for entry, tool in (("垃圾清理", "clear"), ("TCP连接数修改", "TCP")):
            self.press(entry)
            text, _ = self.message()
            self.assertIn(f"{folder}/tools/{tool}", text)
            self.assertRegex(text, "No such file|没有那个文件")
            pt.write_program(os.path.join(folder, "tools", tool), self.log)
        # Each use starts the tool again; nothing checks whether one is running.
        # The read-me goes to the text handler whether or not it is there.
        for n, entry in enumerate(["垃圾清理", "垃圾清理", "TCP连接数修改", "使用说明", "反馈问题"], 3):
            self.press(entry)
            lines = self.started(n)
        self.assertEqual(lines[2:5], [f"{folder}/tools/{tool}|{os.getcwd()}|"
                                      for tool in ("clear", "clear", "TCP")])
        self.assertEqual([line.split("|")[2] for line in lines[5:]],
                         [f"[editor][{folder}/readme.txt]",
                          "[mail][mailto:feedback@pelko.example]"])


if __name__ == "__main__":
    if not DRIVER or not os.access(DRIVER, os.X_OK):
        sys.exit("PELKO_ABOUT_DRIVER must name the built about_driver")
    unittest.main(verbosity=2)
