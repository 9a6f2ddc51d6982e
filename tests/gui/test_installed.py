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
        os.makedirs(os.path.join(www, "tv"))
        with open(os.path.join(www, "tv", "app.html"), "w") as f:
            f.write(pt.solid_page("#204060"))
        with open(os.path.join(www, "up.ini"), "w") as f:
            f.write("[ver]\r\nversion=9.0\r\n")
        with open(os.path.join(self.folder, "Pelko"), "rb") as f:
            program = f.read()
        with open(os.path.join(www, "Pelko"), "wb") as f:
            f.write(program + MARKER)
        with open(os.path.join(www, "Pelko.minisig"), "wb") as f:
            f.write(pt.sign(program + MARKER, "version:9.0 file:Pelko"))
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
        wid = pt.main_window(first.proc.pid)
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
        pt.answer(pt.message_box(app, second.proc.pid, "提示"), "是")
        self.assertEqual(second.proc.wait(15), 0)
        pid = self.update_through_updater(lambda upid: self.assertEqual(
            self.exe(upid), os.path.join(self.folder, "PelkoUpdate")))
        self.assertEqual(self.exe(pid), os.path.join(self.folder, "Pelko"))
        with open(os.path.join(self.folder, "Pelko"), "rb") as f:
            self.assertTrue(f.read().endswith(MARKER))
        self.assertTrue(os.access(os.path.join(self.folder, "Pelko"), os.X_OK))
        with open(os.path.join(self.folder, "update.ini")) as f:
            self.assertIn("version=9.0", f.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
