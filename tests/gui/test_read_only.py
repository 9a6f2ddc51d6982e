"""A system-wide install: the program folder cannot be written. Nothing is
offered that would have to write there; each such entry says why in one
message, nothing in the folder changes, and the programs go on."""

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
    out = {}
    for root, _, files in os.walk(folder):
        for f in files:
            st = os.stat(os.path.join(root, f))
            out[os.path.relpath(os.path.join(root, f), folder)] = (st.st_size, st.st_mtime_ns)
    return out


class ReadOnlyFolder(pt.GuiTest):
    def setUp(self):
        super().setUp()
        pt.write(os.path.join(self.app_dir, "update.ini"), "[ver]\nversion=1.2.0\n")
        self.server.page("/up.ini", "[ver]\r\nversion=1.10.0\r\n", ctype="text/plain")
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        self.make_read_only(self.app_dir)
        self.before = snapshot(self.app_dir)

    def make_read_only(self, folder):
        # The superuser writes through any permission bits: only a read-only
        # mount keeps it out.
        if os.geteuid() == 0:
            ok = subprocess.run(["mount", "--bind", folder, folder]).returncode == 0 and \
                subprocess.run(["mount", "-o", "remount,bind,ro", folder]).returncode == 0
            self.addCleanup(subprocess.run, ["umount", "-l", folder])
            if not ok:
                self.skipTest("no read-only mount here")
        else:
            subprocess.run(["chmod", "-R", "a-w", folder], check=True)
            self.addCleanup(subprocess.run, ["chmod", "-R", "u+w", folder])
        self.assertFalse(os.access(folder, os.W_OK))

    def box(self, app, pid, text):
        box = pt.message_box(app, pid, "提示", text)
        # Nothing to choose: OK alone.
        self.assertEqual([b.name for b in pt.descendants(box, "push button")], ["确定"])
        pt.press(box, "确定")
        pt.wait_until(lambda: not pt.dialogs(app), what="message box closed")

    def test_pelko_says_so_once_and_goes_on(self):
        # The last start fetched the service's version into the user's cache.
        cache = os.path.join(os.environ["HOME"], ".cache", "pelko")
        pt.write(os.path.join(cache, "up.ini"), "[ver]\nversion=1.10.0\n")
        p = self.start()
        app = pt.application(p.proc.pid)
        self.box(app, p.proc.pid, NEW_VERSION)
        wid = pt.window(p.proc.pid)
        # This start's transfer went to the cache as well.
        pt.wait_until(lambda: os.path.exists(os.path.join(cache, "up.ini")), what="version file")

        pt.choose(wid, app, "选项", "更新程序")
        self.box(app, p.proc.pid, NO_UPDATE)
        pt.choose(wid, app, "选项", "垃圾清理")
        self.box(app, p.proc.pid, NO_CLEAR)
        self.assertTrue(p.alive())
        self.assertEqual(pt.windows_named("PelkoUpdate"), [])
        self.assertEqual(snapshot(self.app_dir), self.before)

    def test_updater_refuses_to_start_a_download_it_cannot_save(self):
        self.server.page("/Pelko", b"\x7fELF new", ctype="application/octet-stream")
        p = self.start(program="PelkoUpdate")
        pt.window(p.proc.pid, "PelkoUpdate")
        app = pt.application(p.proc.pid)
        # A click, not an accessible action: the box's loop runs inside the handler.
        pt.press(app, "开始", click=True)
        self.box(app, p.proc.pid, NO_UPDATE)
        self.assertTrue(p.alive())
        self.assertEqual(self.server.hits("/Pelko"), 0)
        self.assertEqual(snapshot(self.app_dir), self.before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
