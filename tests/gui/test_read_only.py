"""A system-wide install: the program folder cannot be written. Nothing is
offered that would have to write there; each such entry says why in one
message, nothing in the folder changes, and the programs go on."""

import glob
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

NEW_VERSION = "程序有新的版本，但程序所在的文件夹不能写入，无法在这里更新。请通过软件包管理器更新，或请管理员更新。"
NO_UPDATE = "程序所在的文件夹不能写入，无法在这里更新。请通过软件包管理器更新，或请管理员更新。"
NO_CLEAR = "程序所在的文件夹不能写入，垃圾清理无法运行。请联系管理员。"


def snapshot(folder):
    # A folder's time changes with any file made or removed in it.
    return {path: (os.path.getsize(path), os.stat(path).st_mtime_ns)
            for path in glob.glob(os.path.join(folder, "**"), recursive=True)}


class ReadOnlyFolder(pt.GuiTest):
    def box(self, app, pid, text):
        box = pt.message_box(app, pid, "提示", text)
        # Nothing to choose: OK alone.
        self.assertEqual([b.name for b in pt.descendants(box, "push button")], ["确定"])
        pt.press(box, "确定")
        pt.wait_until(lambda: not pt.dialogs(app), what="message box closed")

    def test_pelko_and_the_updater_say_so_once_and_go_on(self):
        pt.write(os.path.join(self.app_dir, "update.ini"), "[ver]\nversion=1.2.0\n")
        self.server.page("/up.ini", "[ver]\r\nversion=1.10.0\r\n", ctype="text/plain")
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.server.page("/Pelko", b"\x7fELF new", ctype="application/octet-stream")
        # The superuser writes through any permission bits: only a read-only
        # mount keeps it out.
        if os.geteuid() == 0:
            ok = all(subprocess.run(["mount", *args, self.app_dir]).returncode == 0
                     for args in (["--bind", self.app_dir], ["-o", "remount,bind,ro"]))
            self.addCleanup(subprocess.run, ["umount", "-l", self.app_dir])
            if not ok:
                self.skipTest("no read-only mount here")
        else:
            subprocess.run(["chmod", "-R", "a-w", self.app_dir], check=True)
            self.addCleanup(subprocess.run, ["chmod", "-R", "u+w", self.app_dir])
        self.assertFalse(os.access(self.app_dir, os.W_OK))
        before = snapshot(self.app_dir)
        # The last start fetched the service's version into the user's cache.
        cache = os.path.join(os.environ["HOME"], ".cache", "pelko")
        pt.write(os.path.join(cache, "up.ini"), "[ver]\nversion=1.10.0\n")
        p = self.start()
        app = pt.application(p.proc.pid)
        self.box(app, p.proc.pid, NEW_VERSION)
        pt.window(p.proc.pid)
        # This start's transfer went to the cache as well.
        pt.wait_until(lambda: os.path.exists(os.path.join(cache, "up.ini")), what="version file")

        pt.choose(app, "选项", "更新程序")
        self.box(app, p.proc.pid, NO_UPDATE)
        pt.choose(app, "选项", "垃圾清理")
        self.box(app, p.proc.pid, NO_CLEAR)
        self.assertTrue(p.alive())
        self.assertEqual(pt.windows_named("PelkoUpdate"), [])
        self.assertEqual(snapshot(self.app_dir), before)

        # The updater refuses to start a download it cannot save.
        p = self.start(program="PelkoUpdate")
        pt.window(p.proc.pid, "PelkoUpdate")
        app = pt.application(p.proc.pid)
        # A click, not an accessible action: the box's loop runs inside the handler.
        pt.press(app, "开始", click=True)
        self.box(app, p.proc.pid, NO_UPDATE)
        self.assertTrue(p.alive())
        self.assertEqual(self.server.hits("/Pelko"), 0)
        self.assertEqual(snapshot(self.app_dir), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
