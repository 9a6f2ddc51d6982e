"""The installed Pelko, started the way the desktop starts it: from its
desktop entry, through the launcher in a prefix with a blank in its path.
The version check and the update work on the installed program folder."""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "install"))
import installed as inst  # noqa: E402
import pelkotest as pt  # noqa: E402

# The program the service offers: the installed one with bytes of its own at
# the end, so that the updated file can be told from the installed one.
MARKER = b"\0pelko test update\0"


def exe(pid):
    return os.path.realpath(f"/proc/{pid}/exe")


class Installed(pt.GuiTest):
    def test_version_check_and_update_work_in_the_installed_folder(self):
        inst.keep_build_records(self)
        prefix = os.path.join(self.tmp, "my prefix")
        inst.install(prefix)
        folder = os.path.join(prefix, "lib", "pelko")
        entry = inst.desktop_entry(
            os.path.join(prefix, "share/applications", inst.DESKTOP_ID + ".desktop"))
        # The entry names the launcher alone (checked by the install test).
        launcher = inst.exec_argv(entry["Exec"])[0]

        www = os.path.join(self.tmp, "www")
        program = pt.read(os.path.join(folder, "Pelko"), "rb") + MARKER
        for name, data in (("tv/app.html", pt.solid_page("#204060")),
                           ("up.ini", "[ver]\r\nversion=9.0\r\n"), ("Pelko", program),
                           ("Pelko.minisig", pt.sign(program, "version:9.0 file:Pelko"))):
            pt.write(os.path.join(www, name), data)
        service = pt.DemoService(www)
        self.addCleanup(service.close)
        env = {"XDG_DATA_HOME": os.path.join(self.tmp, "data"),
               "XDG_CACHE_HOME": os.path.join(self.tmp, "cache")}

        first = self.start(host=service.host, program=launcher, env=env)
        wid = pt.window(first.proc.pid)
        # The desktop ties the window to its entry through the window's class.
        wm_class = pt.run("xprop", "-id", str(wid), "WM_CLASS")
        self.assertTrue(wm_class.rstrip().endswith(f'"{entry["StartupWMClass"]}"'), wm_class)
        self.assertEqual(exe(first.proc.pid), os.path.join(folder, "Pelko"))
        # This start fetches the service's version file for the next one.
        pt.wait_until(lambda: os.path.exists(os.path.join(folder, "up.ini")),
                      what="up.ini in the installed folder")
        first.proc.send_signal(signal.SIGTERM)
        self.assertEqual(first.proc.wait(15), 0)

        second = self.start(host=service.host, program=launcher, env=env)
        app = pt.application(second.proc.pid)
        pt.press(pt.message_box(app, second.proc.pid, "提示"), "是", click=True)
        self.assertEqual(second.proc.wait(15), 0)
        # Start in PelkoUpdate, OK in its box, and the new Pelko comes up.
        upid = self.adopt(pt.window(None, "PelkoUpdate"))
        self.assertEqual(exe(upid), os.path.join(folder, "PelkoUpdate"))
        uapp = pt.application(upid)
        pt.press(uapp, "开始")
        pt.press(pt.message_box(uapp, upid, "完成", timeout=30), "确定")
        pid = self.adopt(pt.window(None, timeout=30))
        self.assertEqual(exe(pid), os.path.join(folder, "Pelko"))
        self.assertTrue(pt.read(os.path.join(folder, "Pelko"), "rb").endswith(MARKER))
        self.assertIn("version=9.0", pt.read(os.path.join(folder, "update.ini")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
