"""An install as a user makes it, into a prefix with a blank in its path:
what lands where, what the desktop's validators say of it, the .deb built
from the same rules, and an uninstall that takes only what it put down."""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(__file__))
import installed as inst  # noqa: E402

APP_DIR = os.environ.get("PELKO_APP_DIR", "")
VERSION = os.environ.get("PELKO_VERSION", "")
CPACK = os.environ.get("CPACK", "cpack")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class Install(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="pelko install ")
        self.addCleanup(self._tmp.cleanup)
        # A blank and a dollar sign: both need quoting in the desktop entry.
        self.home = os.path.join(self._tmp.name, "my $home")
        self.prefix = os.path.join(self.home, ".local")
        records = inst.build_records_kept()
        records.__enter__()
        self.addCleanup(records.__exit__, None, None, None)

    def test_per_user_install_validates_packages_and_uninstalls_only_its_files(self):
        inst.install(self.prefix)
        self.assertEqual(inst.files_below(self.prefix), inst.expected_files(APP_DIR))
        folder = os.path.join(self.prefix, "lib/pelko")
        launcher = os.path.join(self.prefix, "bin/pelko")
        self.assertEqual(os.path.realpath(launcher), os.path.join(folder, "Pelko"))
        for program in ("Pelko", "PelkoUpdate"):
            self.assertTrue(os.access(os.path.join(folder, program), os.X_OK), program)

        desktop = os.path.join(self.prefix, f"share/applications/{inst.DESKTOP_ID}.desktop")
        out = inst.run(["desktop-file-validate", desktop]).stdout
        # Hints are suggestions; an error or a warning is a fault of ours.
        self.assertNotRegex(out, r"(error|warning):", out)
        metainfo = os.path.join(self.prefix, f"share/metainfo/{inst.DESKTOP_ID}.metainfo.xml")
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
            icon = os.path.join(self.prefix, f"share/icons/hicolor/{n}x{n}/apps/{inst.DESKTOP_ID}.png")
            self.assertEqual(png_size(icon), (n, n))

        # A package built meanwhile stages an install of its own; the
        # uninstall afterwards must still be the one of this prefix.
        self.check_package()

        planted = [os.path.join(self.home, ".local/share/pelko/cookies.sqlite"),
                   os.path.join(self.home, ".cache/pelko/WebKitCache/entry"),
                   os.path.join(self.prefix, "share/applications/other.desktop"),
                   # The version file a start of the program fetched.
                   os.path.join(folder, "up.ini")]
        for path in planted:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write("not the install's\n")
        inst.uninstall()
        left = inst.files_below(self.home)
        self.assertEqual(left, sorted(os.path.relpath(p, self.home) for p in planted))
        self.assertFalse(os.path.exists(os.path.join(folder, "Skins")))

    def check_package(self):
        out = os.path.join(self._tmp.name, "deb")
        subprocess.run([CPACK, "-G", "DEB", "-B", out], cwd=inst.BUILD, check=True,
                       capture_output=True)
        deb = [os.path.join(out, f) for f in os.listdir(out) if f.endswith(".deb")]
        self.assertEqual(len(deb), 1)
        depends = inst.run(["dpkg-deb", "-f", deb[0], "Depends"]).stdout
        for package in ("libgtk-3-0", "libwebkit2gtk-4.1-0", "gstreamer1.0-libav",
                        "gstreamer1.0-plugins-good", "gstreamer1.0-plugins-bad",
                        "fonts-wqy-microhei"):
            self.assertRegex(depends, rf"(^|[ ,|]){re.escape(package)}([ ,(]|$)", depends)
        contents = inst.run(["dpkg-deb", "-c", deb[0]]).stdout
        self.assertRegex(contents, r" \./usr/lib/pelko/Pelko\n")
        self.assertRegex(contents, r" \./usr/bin/pelko -> \.\./lib/pelko/Pelko\n")
        tar = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb[0]], capture_output=True,
                             check=True).stdout
        entry = subprocess.run(
            ["tar", "-xOf", "-", f"./usr/share/applications/{inst.DESKTOP_ID}.desktop"],
            input=tar, capture_output=True, check=True).stdout.decode()
        self.assertIn("\nExec=/usr/bin/pelko\n", entry)

    def test_staged_install_is_uninstalled_only_with_its_destdir(self):
        stage = os.path.join(self._tmp.name, "stage")
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
