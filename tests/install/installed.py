"""Installs the build into a prefix of the test's own and reads the result
the way a desktop does. Shared by the install test and the GUI test of the
installed program."""

import os
import pathlib
import subprocess

from gi.repository import GLib

BUILD = os.environ.get("PELKO_BUILD_DIR", "")
CMAKE = os.environ.get("CMAKE", "cmake")
DESKTOP_ID = "net.pelko.Pelko"
# What one install of the build puts down, below the prefix.
PROGRAM_FOLDER = ["Pelko", "PelkoUpdate", "update.ini", "readme.txt", "pelko.png",
                  "web-process/libpelko-page.so"] + [
    "Skins/" + s for s in ("Blue.skn", "MediaPlayer9.Skn", "Studio.skn", "green.skn",
                           "mac.Skn", "wina.skn")]
SHARED = ["bin/pelko", f"share/applications/{DESKTOP_ID}.desktop",
          f"share/metainfo/{DESKTOP_ID}.metainfo.xml",
          f"share/icons/hicolor/scalable/apps/{DESKTOP_ID}.svg"] + [
    f"share/icons/hicolor/{n}x{n}/apps/{DESKTOP_ID}.png" for n in (48, 128, 256)]


def expected_files(app_dir):
    """Every file of an install, relative to the prefix; the outside tools
    come along only when the built program folder has them."""
    folder = list(PROGRAM_FOLDER)
    folder += ["tools/" + f for f in files_below(os.path.join(app_dir, "tools"))]
    return sorted(["lib/pelko/" + f for f in folder] + SHARED)


def files_below(top):
    found = []
    for root, _, names in os.walk(top):
        found += [os.path.relpath(os.path.join(root, n), top) for n in names]
    return sorted(found)


def run(cmd, env=None, check=True):
    done = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if check and done.returncode != 0:
        raise AssertionError(f"{cmd} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done


def _env(destdir):
    env = {k: v for k, v in os.environ.items() if k != "DESTDIR"}
    return {**env, "DESTDIR": destdir} if destdir else env


def install(prefix, destdir=None):
    return run([CMAKE, "--install", BUILD, "--prefix", prefix], _env(destdir))


def uninstall(destdir=None, check=True):
    return run([CMAKE, "--build", BUILD, "--target", "uninstall"], _env(destdir), check)


def keep_build_records(test):
    """Puts the build folder's install records back as they were once the
    test is over: a developer's next uninstall must still find their own
    install."""
    for name in ("install_manifest.txt", "install_destdir.txt"):
        path = pathlib.Path(BUILD, name)
        if path.exists():
            test.addCleanup(path.write_bytes, path.read_bytes())
        else:
            test.addCleanup(path.unlink, missing_ok=True)


def desktop_entry(path):
    """The [Desktop Entry] group as the desktop reads it: key to value."""
    keys = GLib.KeyFile()
    keys.load_from_file(path, GLib.KeyFileFlags.NONE)
    return {k: keys.get_string("Desktop Entry", k) for k in keys.get_keys("Desktop Entry")[0]}


def exec_argv(value):
    """An Exec value as the argument vector the desktop's library starts
    ("%%" is a literal percent sign)."""
    return [arg.replace("%%", "%") for arg in GLib.shell_parse_argv(value)[1]]
