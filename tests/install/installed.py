"""Installs the build into a prefix of the test's own and reads the result
the way a desktop does. Shared by the install test and the GUI test of the
installed program."""

import contextlib
import os
import re
import subprocess

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


@contextlib.contextmanager
def build_records_kept():
    """The build folder's install records as they were before the test: a
    developer's next uninstall must still find their own install."""
    paths = [os.path.join(BUILD, n) for n in ("install_manifest.txt", "install_destdir.txt")]
    saved = {}
    for path in filter(os.path.exists, paths):
        with open(path, "rb") as f:
            saved[path] = f.read()
    try:
        yield
    finally:
        for path in paths:
            if path in saved:
                with open(path, "wb") as f:
                    f.write(saved[path])
            elif os.path.exists(path):
                os.remove(path)


def desktop_entry(path):
    """The [Desktop Entry] group as a dict of key to raw value."""
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, _, value = line.partition("=")
                entry[key] = value
    return entry


def exec_argv(value):
    """An Exec value as the argument vector a desktop starts: the string
    escapes first, then the quoting ("%%" is a literal percent sign)."""
    text = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}
                  .get(m.group(1), m.group(1)), value)
    argv, word, quoted, started = [], "", False, False
    chars = iter(text)
    for c in chars:
        if quoted and c == "\\":
            word += next(chars, "")
        elif c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started:
                argv.append(word)
            word, started = "", False
        else:
            word, started = word + c, True
    if quoted:
        raise AssertionError(f"unterminated quote in Exec={value}")
    if started:
        argv.append(word)
    return [arg.replace("%%", "%") for arg in argv]
