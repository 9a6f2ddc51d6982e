"""An install as a user makes it, into a prefix with a blank in its path:
what lands where, what the desktop's validators say of it, the .deb built
from the same rules, and an uninstall that takes only what it put down."""

import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

sys.path.insert(0, os.path.dirname(__file__))
import installed as inst  # noqa: E402

APP_DIR = os.environ.get("PELKO_APP_DIR", "")
VERSION = os.environ.get("PELKO_VERSION", "")
CPACK = os.environ.get("CPACK", "cpack")


class Install(unittest.TestCase):
    def test_installs_validate_package_and_uninstall_only_their_files(self):
        tmp = tempfile.TemporaryDirectory(prefix="pelko install ")
        self.addCleanup(tmp.cleanup)
        inst.keep_build_records(self)
        self.check_staged(os.path.join(tmp.name, "stage"))
        # A blank and a dollar sign: both need quoting in the desktop entry.
        home = os.path.join(tmp.name, "my $home")
        prefix = os.path.join(home, ".local")
        inst.install(prefix)
        self.assertEqual(inst.files_below(prefix), inst.expected_files(APP_DIR))
        folder = os.path.join(prefix, "lib/pelko")
        # The launcher starts Pelko, and both programs run from here: gui_installed.
        launcher = os.path.join(prefix, "bin/pelko")

        desktop = os.path.join(prefix, f"share/applications/{inst.DESKTOP_ID}.desktop")
        out = inst.run(["desktop-file-validate", desktop]).stdout
        # Hints are suggestions; an error or a warning is a fault of ours.
        self.assertNotRegex(out, r"(error|warning):", out)
        metainfo = os.path.join(prefix, f"share/metainfo/{inst.DESKTOP_ID}.metainfo.xml")
        # --strict fails on anything above a pedantic note (the one note is
        # the upper-case letters of the reverse-DNS id, which is the id).
        inst.run(["appstreamcli", "validate", "--no-net", "--strict", metainfo])

        # The files name each other: the desktop starts the launcher even
        # when the prefix's bin is not on PATH, finds the icon, and the
        # software centre finds the desktop entry.
        entry = inst.desktop_entry(desktop)
        self.assertEqual(inst.exec_argv(entry["Exec"]), [launcher])
        self.assertEqual(entry["Icon"], inst.DESKTOP_ID)
        component = ET.parse(metainfo).getroot()
        self.assertEqual(component.findtext("id"), inst.DESKTOP_ID)
        self.assertEqual(component.findtext("launchable"), os.path.basename(desktop))
        self.assertEqual(component.find("releases/release").get("version"), VERSION)
        for n in (48, 128, 256):
            icon = os.path.join(prefix, f"share/icons/hicolor/{n}x{n}/apps/{inst.DESKTOP_ID}.png")
            kind, width, height = GdkPixbuf.Pixbuf.get_file_info(icon)
            self.assertEqual((kind.get_name(), width, height), ("png", n, n), icon)

        # A package built meanwhile stages an install of its own; the
        # uninstall afterwards must still be the one of this prefix.
        self.check_package(os.path.join(tmp.name, "deb"))

        planted = [os.path.join(home, ".local/share/pelko/cookies.sqlite"),
                   os.path.join(home, ".cache/pelko/WebKitCache/entry"),
                   os.path.join(prefix, "share/applications/other.desktop"),
                   # The version file a start of the program fetched.
                   os.path.join(folder, "up.ini")]
        for path in planted:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write("not the install's\n")
        inst.uninstall()
        left = inst.files_below(home)
        self.assertEqual(left, sorted(os.path.relpath(p, home) for p in planted))
        self.assertFalse(os.path.exists(os.path.join(folder, "Skins")))

    def check_package(self, out):
        subprocess.run([CPACK, "-G", "DEB", "-B", out], cwd=inst.BUILD, check=True,
                       capture_output=True)
        [deb] = glob.glob(os.path.join(out, "*.deb"))
        depends = inst.run(["dpkg-deb", "-f", deb, "Depends"]).stdout
        for package in ("libgtk-3-0", "libwebkit2gtk-4.1-0", "gstreamer1.0-libav",
                        "gstreamer1.0-plugins-good", "gstreamer1.0-plugins-bad",
                        "fonts-wqy-microhei"):
            self.assertRegex(depends, rf"(^|[ ,|]){re.escape(package)}([ ,(]|$)", depends)
        # The package holds what an install into /usr puts down.
        root = os.path.join(out, "root")
        inst.run(["dpkg-deb", "-x", deb, root])
        self.assertEqual(inst.files_below(os.path.join(root, "usr")), inst.expected_files(APP_DIR))
        self.assertEqual(os.readlink(os.path.join(root, "usr/bin/pelko")), "../lib/pelko/Pelko")
        entry = inst.desktop_entry(
            os.path.join(root, f"usr/share/applications/{inst.DESKTOP_ID}.desktop"))
        self.assertEqual(entry["Exec"], "/usr/bin/pelko")

    def check_staged(self, stage):
        # Staged for a package: uninstalled only with its DESTDIR.
        inst.install("/usr", destdir=stage)
        staged = inst.files_below(stage)
        self.assertEqual(staged, ["usr/" + f for f in inst.expected_files(APP_DIR)])
        # Without the DESTDIR the list would name the live /usr.
        self.assertNotEqual(inst.uninstall(check=False).returncode, 0)
        self.assertEqual(inst.files_below(stage), staged)
        inst.uninstall(destdir=stage)
        self.assertEqual(inst.files_below(stage), [])
        self.assertFalse(os.path.exists(os.path.join(stage, "usr/lib/pelko")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
