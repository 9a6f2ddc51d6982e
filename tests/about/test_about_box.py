"""The About box and the menu's outside programs, driven through a stand-in
for the main window (about_driver) whose buttons call what the menu entries
call. Outside programs are fakes that write down how they were started.

Buttons are clicked with the mouse at their accessible place: a button that
opens a message box runs its nested loop inside the click, and an
accessibility action would hold the program's accessibility answers until
the box closed."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "gui"))
import pelkotest as pt  # noqa: E402

pyatspi = pt.pyatspi
DRIVER = os.environ.get("PELKO_ABOUT_DRIVER", "")
ABOUT = "关于Pelko网络电视"
DEFAULT_CAPTION = "Pelko"  # the program's name, the caption of its plain message boxes
UNAVAILABLE = "此时系统信息不可用"

DESCRIPTION = ("Pelko网络电视、电影让您足不出户享受视觉与听觉完美体验，高清电视直播，采用P2P、FLV等"
               "多种节目源。使用Pelko网视可以观看全国不同电视节目高清直播，和热门电影及电视剧。")
WARNING = ("警告: ...软件所有节目源均来自于网络仅作为程序交流使用不得用于其它商业行为,若有侵犯到节目源"
           "版权,请与及时告知。")

# Every control of the box: (how to find it, left, top, width, height) in pixels.
CONTROLS = [
    (("push button", "确定"), 275, 175, 100, 23),
    (("push button", "系统信息(S)..."), 276, 205, 99, 23),
    (("label", DESCRIPTION), 22, 75, 259, 78),
    (("label", None, WARNING + "\nE-Mail："), 17, 175, 242, 55),
    (("label", "Pelko网络电视 (tv@pelko.example)"), 22, 16, 259, 32),
    (("label", "版本 1.2.0"), 22, 52, 259, 15),
]


def write_recorder(path, log):
    """A fake program: one line per start, its name as started, its working
    directory and each argument in brackets."""
    with open(path, "w", encoding="utf-8") as f:
        f.write("#!/bin/sh\n"
                f"{{ printf '%s|%s|' \"$0\" \"$(pwd)\"; for a; do printf '[%s]' \"$a\"; done; echo; }}"
                f" >> '{log}'\n")
    os.chmod(path, 0o755)


def log_lines(log):
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as f:
        return f.read().splitlines()


class Driver:
    """The stand-in started from a program folder of the test's choosing."""

    def __init__(self, folder, env, cwd, output):
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "about_driver")
        shutil.copy(DRIVER, exe)
        with open(output, "a") as out:
            self.proc = subprocess.Popen([exe], env=env, cwd=cwd, stdout=out,
                                         stderr=subprocess.STDOUT)
        self.pid = self.proc.pid
        self.app = pt.application(self.pid)
        self.wid = pt.wait_until(lambda: (pt.windows_named("about-driver", self.pid) or [None])[0],
                                 what="driver window")
        # Out of the way of the centred About box, so that clicks on either land.
        pt.run("xdotool", "windowmove", "--sync", str(self.wid), "40", "40")

    def frame(self, title):
        found = [f for f in pt.descendants(self.app, "frame", title, depth=1)
                 if pt.state(f, pyatspi.STATE_SHOWING)]
        return found[0] if found else None

    def click(self, node):
        # click_at waits for the pointer to move, which it never does when it
        # is already there (a second click on the same button).
        pt.run("xdotool", "mousemove", "0", "0")
        pt.click_at(*pt.centre(node))

    def press(self, caption):
        """Clicks one of the stand-in's buttons, that is, uses a menu entry."""
        driver = pt.wait_until(lambda: self.frame("about-driver"), what="driver window")
        self.click(pt.descendants(driver, "push button", caption)[0])

    def about(self):
        """Opens the About box and returns its window and accessible frame."""
        self.press("关于程序")
        wid = pt.wait_until(lambda: (pt.windows_named(ABOUT, self.pid) or [None])[0],
                            what="About box")
        return wid, pt.wait_until(lambda: self.frame(ABOUT), what="About box frame")

    def message(self, timeout=15):
        """The message box now open: its window, its texts and its buttons."""
        wid = pt.wait_until(lambda: (pt.windows_named(DEFAULT_CAPTION, self.pid) or [None])[0],
                            timeout, what="message box")
        box = pt.wait_until(lambda: ([a for a in pt.descendants(self.app, "alert", depth=1)
                                      if pt.state(a, pyatspi.STATE_SHOWING)] or [None])[0],
                            what="message box contents")
        return wid, box

    def answer(self, box, wid):
        self.click(pt.descendants(box, "push button", "确定")[0])
        pt.wait_until(lambda: wid not in pt.windows_named(DEFAULT_CAPTION, self.pid),
                      what="message box closed")

    def key(self, wid, key):
        """Types a key into a window brought to the front, as the window manager's
        own key bindings need real key events."""
        pt.run("xdotool", "windowactivate", "--sync", str(wid))
        pt.run("xdotool", "key", key)

    def loads(self):
        return [l.name for l in pt.descendants(self.app, "label") if l.name.startswith("载入 ")][0]

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class AboutTest(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="pelko-about-")
        self.addCleanup(self._tmp.cleanup)
        self.tmp = self._tmp.name
        self.bin = os.path.join(self.tmp, "bin")
        self.cwd = os.path.join(self.tmp, "cwd")
        self.log = os.path.join(self.tmp, "started.log")
        os.makedirs(self.bin)
        os.makedirs(self.cwd)
        # The system's data without its programs: the type database stays,
        # which pictures and files are recognised by.
        system_data = os.path.join(self.tmp, "system-data")
        os.makedirs(system_data)
        os.symlink("/usr/share/mime", os.path.join(system_data, "mime"))
        # Only the test's own programs can be found, and the desktop's
        # handlers are the test's own as well.
        self.env = dict(os.environ, PATH=self.bin,
                        XDG_DATA_HOME=os.path.join(self.tmp, "data"),
                        XDG_DATA_DIRS=system_data,
                        XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_CONFIG_DIRS=os.path.join(self.tmp, "system-config"))

    def start(self, folder=None):
        d = Driver(folder or os.path.join(self.tmp, "app"), self.env, self.cwd,
                   os.path.join(self.tmp, "driver.out"))
        self.addCleanup(d.close)
        return d

    # ------------------------------------------------------------ the box

    def test_box_layout_texts_and_frame(self):
        d = self.start()
        wid, frame = d.about()
        g = pt.geometry(wid)
        self.assertEqual((g["width"], g["height"]), (382, 237))
        # Centred on the 1600 x 1000 screen, give or take the frame.
        self.assertLess(abs(g["x"] + 191 - 800), 20)
        self.assertLess(abs(g["y"] + 118 - 500), 30)
        self.assertEqual(d.loads(), "载入 1")

        for find, left, top, width, height in CONTROLS:
            role, name = find[0], find[1]
            nodes = [n for n in pt.descendants(frame, role, name)
                     if len(find) < 3 or n.name.startswith(find[2])]
            self.assertEqual(len(nodes), 1, find)
            ext = nodes[0].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            self.assertEqual((ext.x - g["x"], ext.y - g["y"], ext.width, ext.height),
                             (left, top, width, height), find)
        labels = pt.texts(frame)
        self.assertIn("Pelko网络电视 (tv@pelko.example)", labels)
        self.assertIn(WARNING + "\nE-Mail：tv@pelko.example 83700012", labels)

        # The focus starts on 确定 and Tab moves it to 系统信息, then back.
        ok = pt.descendants(frame, "push button", "确定")[0]
        info = pt.descendants(frame, "push button", "系统信息(S)...")[0]
        pt.wait_until(lambda: pt.state(ok, pyatspi.STATE_FOCUSED), what="focus on 确定")
        d.key(wid, "Tab")
        pt.wait_until(lambda: pt.state(info, pyatspi.STATE_FOCUSED), what="focus on 系统信息")
        d.key(wid, "Tab")
        pt.wait_until(lambda: pt.state(ok, pyatspi.STATE_FOCUSED), what="focus back on 确定")

        # A fixed dialog frame, without an owner, with the program's icon.
        props = pt.run("xprop", "-id", str(wid))
        self.assertIn("_NET_WM_WINDOW_TYPE_DIALOG", props)
        self.assertNotIn("WM_TRANSIENT_FOR(WINDOW)", props)
        allowed = pt.run("xprop", "-id", str(wid), "_NET_WM_ALLOWED_ACTIONS")
        self.assertNotIn("RESIZE", allowed)
        self.assertNotIn("MAXIMIZE", allowed)
        # Move and close only (minimising is the window manager's to refuse).
        self.assertIn("_MOTIF_WM_HINTS) = 0x3, 0x24,", pt.run("xprop", "-id", str(wid),
                                                               "_MOTIF_WM_HINTS"))
        icons = pt.run("xprop", "-id", str(wid), "_NET_WM_ICON")
        for size in (16, 32, 48):
            self.assertIn(f"Icon ({size} x {size})", icons)

        # The etched rule: a grey line on row 163 over white rows 164 and 165.
        shot = os.path.join(self.tmp, "about.png")
        pt.screenshot(shot)
        at = lambda x, y: pt.pixel(shot, g["x"] + x, g["y"] + y)  # noqa: E731
        self.assertEqual([at(x, 163) for x in (6, 200, 376)], [(128, 128, 128)] * 3)
        self.assertEqual([at(x, y) for x in (7, 200, 376) for y in (164, 165)],
                         [(255, 255, 255)] * 6)
        self.assertNotEqual(at(200, 162), (128, 128, 128))

    def test_one_box_brought_to_front_and_reloaded_after_closing(self):
        d = self.start()
        wid, _ = d.about()
        # Used again while open, from a driver window in front: the same box comes forward.
        pt.run("xdotool", "windowactivate", "--sync", str(d.wid))
        pt.wait_until(lambda: pt.run("xdotool", "getactivewindow").strip() == str(d.wid),
                      what="driver in front")
        d.press("关于程序")
        pt.wait_until(lambda: pt.run("xdotool", "getactivewindow").strip() == str(wid),
                      what="About box in front")
        self.assertEqual(pt.windows_named(ABOUT, d.pid), [wid])
        self.assertEqual(d.loads(), "载入 1")

        # Closed by 确定 and by the title bar's close button, then used again:
        # the load step runs each time, and the box opens centred.
        for close in ("确定", "close box"):
            pt.run("xdotool", "windowmove", "--sync", str(wid), "20", "20")
            if close == "确定":
                d.click(pt.descendants(d.frame(ABOUT), "push button", "确定")[0])
            else:
                d.key(wid, "alt+F4")
            pt.wait_until(lambda: not pt.windows_named(ABOUT, d.pid), what="About box closed")
            before = d.loads()
            wid, frame = d.about()
            pt.wait_until(lambda: d.loads() == f"载入 {int(before.split()[1]) + 1}",
                          what="load step again")
            self.assertLess(abs(pt.geometry(wid)["x"] + 191 - 800), 20)
            self.assertIn("版本 1.2.0", pt.texts(frame))
        self.assertEqual(d.loads(), "载入 3")

    def test_open_box_keeps_the_program_running(self):
        # Without the box, closing the last window ends the program ...
        d = self.start()
        d.about()
        d.click(pt.descendants(d.frame(ABOUT), "push button", "确定")[0])
        pt.wait_until(lambda: not pt.windows_named(ABOUT, d.pid), what="About box closed")
        d.press("关闭")
        self.assertEqual(d.proc.wait(10), 0)

        # ... while an open box keeps it running until the box is closed.
        d = self.start()
        wid, frame = d.about()
        d.press("关闭")
        pt.wait_until(lambda: not pt.windows_named("about-driver", d.pid), what="driver closed")
        self.assertIsNone(d.proc.poll())
        self.assertTrue(pt.is_viewable(wid))
        d.click(pt.descendants(frame, "push button", "确定")[0])
        self.assertEqual(d.proc.wait(10), 0)

    # ------------------------------------------------------------ system information

    def test_system_information_tool(self):
        d = self.start()
        _, frame = d.about()
        info = pt.descendants(frame, "push button", "系统信息(S)...")[0]
        broken = os.path.join(self.bin, "kinfocenter")
        # No tool on PATH, then a tool whose interpreter is missing: the one message.
        for setup in ("none", "broken"):
            if setup == "broken":
                with open(broken, "w") as f:
                    f.write("#!/nonexistent/interpreter\n")
                os.chmod(broken, 0o755)
            d.click(info)
            wid, box = d.message()
            self.assertEqual(pt.texts(box)[0], UNAVAILABLE, setup)
            self.assertEqual([b.name for b in pt.descendants(box, "push button")], ["确定"])
            self.assertEqual(pt.descendants(box, "icon"), [])
            d.answer(box, wid)
            self.assertTrue(pt.windows_named(ABOUT, d.pid), setup)
        os.remove(broken)
        # A tool on PATH starts, each time the button is pressed, without waiting.
        write_recorder(os.path.join(self.bin, "hardinfo"), self.log)
        for n in (1, 2):
            d.click(info)
            pt.wait_until(lambda: len(log_lines(self.log)) == n, what=f"tool start {n}")
        self.assertEqual(log_lines(self.log), [f"{self.bin}/hardinfo|{self.cwd}|"] * 2)
        self.assertEqual(pt.windows_named(DEFAULT_CAPTION, d.pid), [])
        self.assertIsNone(d.proc.poll())

    # ------------------------------------------------------------ the menu's programs

    def test_tools_start_from_a_folder_with_blanks_and_other_letters(self):
        folder = os.path.join(self.tmp, "Pelko 网络 电视 Ünï")
        os.makedirs(os.path.join(folder, "tools"))
        for tool in ("clear", "TCP"):
            write_recorder(os.path.join(folder, "tools", tool), self.log)
        d = self.start(folder)
        # Each use starts the tool again; nothing checks whether one is running.
        for n, entry in enumerate(["垃圾清理", "垃圾清理", "TCP连接数修改"], 1):
            d.press(entry)
            pt.wait_until(lambda: len(log_lines(self.log)) == n, what=f"start {n} ({entry})")
        self.assertEqual(log_lines(self.log), [f"{folder}/tools/clear|{self.cwd}|",
                                              f"{folder}/tools/clear|{self.cwd}|",
                                              f"{folder}/tools/TCP|{self.cwd}|"])

    def test_missing_tool_gives_its_failure_and_the_program_goes_on(self):
        folder = os.path.join(self.tmp, "Pelko 网络 电视")
        d = self.start(folder)
        for entry, tool in (("垃圾清理", "clear"), ("TCP连接数修改", "TCP")):
            d.press(entry)
            wid, box = d.message()
            text = pt.texts(box)[0]
            self.assertIn(f"{folder}/tools/{tool}", text)
            self.assertRegex(text, "No such file|没有那个文件")
            d.answer(box, wid)
        # Still running, and a tool that is there now starts.
        os.makedirs(os.path.join(folder, "tools"))
        write_recorder(os.path.join(folder, "tools", "clear"), self.log)
        d.press("垃圾清理")
        pt.wait_until(lambda: log_lines(self.log), what="tool start")

    def test_readme_and_mail_go_to_the_desktops_handlers(self):
        folder = os.path.join(self.tmp, "Pelko 网络 电视")
        d = self.start(folder)
        # No program for text yet: a message with the desktop's reason.
        d.press("使用说明")
        wid, box = d.message()
        self.assertTrue(pt.texts(box)[0])
        d.answer(box, wid)
        d.close()

        handler = os.path.join(self.tmp, "handler")
        write_recorder(handler, self.log)
        apps = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        os.makedirs(apps)
        for name, mime, code in (("pelko-test-editor", "text/plain", "%f"),
                                 ("pelko-test-mail", "x-scheme-handler/mailto", "%u")):
            with open(os.path.join(apps, name + ".desktop"), "w") as f:
                f.write(f"[Desktop Entry]\nType=Application\nName={name}\n"
                        f"Exec={handler} {name} {code}\nMimeType={mime};\n")
        os.makedirs(self.env["XDG_CONFIG_HOME"])
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\ntext/plain=pelko-test-editor.desktop\n"
                    "x-scheme-handler/mailto=pelko-test-mail.desktop\n")

        d = self.start(folder)
        # The read-me is handed over whether or not it is there.
        d.press("使用说明")
        pt.wait_until(lambda: len(log_lines(self.log)) == 1, what="editor start")
        d.press("反馈问题")
        pt.wait_until(lambda: len(log_lines(self.log)) == 2, what="mail program start")
        lines = [line.split("|")[2] for line in log_lines(self.log)]
        self.assertEqual(lines, [f"[pelko-test-editor][{folder}/readme.txt]",
                                 "[pelko-test-mail][mailto:feedback@pelko.example]"])


if __name__ == "__main__":
    if not DRIVER or not os.access(DRIVER, os.X_OK):
        sys.exit("PELKO_ABOUT_DRIVER must name the built about_driver")
    unittest.main(verbosity=2)
