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


class Installed(pt.GuiTest):
    def setUp(self):
        super().setUp()
        records = inst.build_records_kept()
        records.__enter__()
        self.addCleanup(records.__exit__, None, None, None)
        self.prefix = os.path.join(self.tmp, "my prefix")
        inst.install(self.prefix)
        self.folder = os.path.join(self.prefix, "lib", "pelko")
        entry = inst.desktop_entry(
            os.path.join(self.prefix, "share/applications", inst.DESKTOP_ID + ".desktop"))
        self.argv = inst.exec_argv(entry["Exec"])
        self.wm_class = entry["StartupWMClass"]

        www = os.path.join(self.tmp, "www")
        program = pt.read(os.path.join(self.folder, "Pelko"), "rb") + MARKER
        for name, data in (("tv/app.html", pt.solid_page("#204060")),
                           ("up.ini", "[ver]\r\nversion=9.0\r\n"), ("Pelko", program),
                           ("Pelko.minisig", pt.sign(program, "version:9.0 file:Pelko"))):
            pt.write(os.path.join(www, name), data)
        self.service = pt.DemoService(www)
        self.addCleanup(self.service.close)
        self.env = {"XDG_DATA_HOME": os.path.join(self.tmp, "data"),
                    "XDG_CACHE_HOME": os.path.join(self.tmp, "cache")}

    def launch(self):
        self.assertEqual(len(self.argv), 1, self.argv)
        return self.start(host=self.service.host, program=self.argv[0], env=self.env)

    def exe(self, pid):
        return os.path.realpath(f"/proc/{pid}/exe")

    def test_version_check_and_update_work_in_the_installed_folder(self):
        first = self.launch()
        wid = pt.window(first.proc.pid)
        # The desktop ties the window to its entry through the window's class.
        wm_class = pt.run("xprop", "-id", str(wid), "WM_CLASS")
        self.assertTrue(wm_class.rstrip().endswith(f'"{self.wm_class}"'), wm_class)
        self.assertEqual(self.exe(first.proc.pid), os.path.join(self.folder, "Pelko"))
        # This start fetches the service's version file for the next one.
        pt.wait_until(lambda: os.path.exists(os.path.join(self.folder, "up.ini")),
                      what="up.ini in the installed folder")
        first.proc.send_signal(signal.SIGTERM)
        self.assertEqual(first.proc.wait(15), 0)

        second = self.launch()
        app = pt.application(second.proc.pid)
        pt.press(pt.message_box(app, second.proc.pid, "提示"), "是", click=True)
        self.assertEqual(second.proc.wait(15), 0)
        pid = self.update_through_updater(lambda upid: self.assertEqual(
            self.exe(upid), os.path.join(self.folder, "PelkoUpdate")))
        self.assertEqual(self.exe(pid), os.path.join(self.folder, "Pelko"))
        self.assertTrue(pt.read(os.path.join(self.folder, "Pelko"), "rb").endswith(MARKER))
        self.assertTrue(os.access(os.path.join(self.folder, "Pelko"), os.X_OK))
        self.assertIn("version=9.0", pt.read(os.path.join(self.folder, "update.ini")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
