"""Drives the real programs in a desktop session the way a user and an
assistive tool would: windows through the window manager (xdotool, xprop,
xwininfo), menus, labels and buttons through the accessibility tree."""

import contextlib
import http.server
import os
import re
import shutil
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import gi
import pyatspi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402

APP_DIR = os.environ.get("PELKO_APP_DIR", "")
SERVICE = os.environ.get("PELKO_SERVICE_BIN", "")
CAPTION = "Pelko网络电视"
ABOUT = "关于Pelko网络电视"
# What the browser asks when a page fails.
TIMEOUT_TEXT = "网络超时，请稍后重试，点击是返回主页"
# The build's own key, which the built updater trusts, and the tool that signs.
SIGNING_KEY = os.environ.get("PELKO_SIGNING_KEY", "")
MINISIGN = os.environ.get("PELKO_MINISIGN") or "minisign"
# The demo service's files: its TV page, its player and its clips.
WWW = os.path.join(os.path.dirname(SERVICE), "www")


def wait_until(predicate, timeout=15.0, interval=0.1, what="condition"):
    """Polls a condition of another process; there is no event to wait on.
    what names the condition in the failure, or tells it when called."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        last = predicate()
        if last:
            return last
        time.sleep(interval)
    raise AssertionError(f"timed out waiting for {what() if callable(what) else what}")


def holds(predicate, seconds, what="condition"):
    """Fails if a condition stops holding within the time: for what must not happen."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not predicate():
            raise AssertionError(f"no longer {what}")
        time.sleep(0.1)


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True, check=False).stdout


# ---------------------------------------------------------------- files

def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w",
              **({} if isinstance(data, bytes) else {"encoding": "utf-8"})) as f:
        f.write(data)
    os.chmod(path, mode)


def read(path, mode="r"):
    with open(path, mode, **({} if "b" in mode else {"encoding": "utf-8", "newline": ""})) as f:
        return f.read()


def write_program(path, log="/dev/null", interpreter="/bin/sh"):
    # A fake program that adds a line per start to the log: its name as
    # started, its working directory and each argument in brackets.
    write(path, f"#!{interpreter}\n{{ printf '%s|%s|' \"$0\" \"$(pwd)\"; for a; do printf '[%s]'"
                f" \"$a\"; done; echo; }} >> '{log}'\n", 0o755)


def desktop_handlers(env, log, handlers):
    """Makes fakes the desktop's defaults for {name: (type, field code)},
    in env's XDG_DATA_HOME and XDG_CONFIG_HOME; each start adds a line to
    the log (see write_program)."""
    program = os.path.join(env["XDG_DATA_HOME"], "pelko-handler")
    write_program(program, log)
    defaults = "[Default Applications]\n"
    for name, (mime, code) in handlers.items():
        defaults += f"{mime}=pelko-{name}.desktop\n"
        write(os.path.join(env["XDG_DATA_HOME"], "applications", f"pelko-{name}.desktop"),
              f"[Desktop Entry]\nType=Application\nName={name}\n"
              f"Exec={program} {name} {code}\nMimeType={mime};\n")
    write(os.path.join(env["XDG_CONFIG_HOME"], "mimeapps.list"), defaults)


# ---------------------------------------------------------------- signatures

def sign(data, comment):
    """The signature file minisign writes for these bytes and trusted comment."""
    with tempfile.TemporaryDirectory(prefix="pelko-sign-") as folder:
        path = os.path.join(folder, "Pelko")
        write(path, data)
        subprocess.run([MINISIGN, "-S", "-s", SIGNING_KEY, "-m", path, "-t", comment],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return read(path + ".minisig", "rb")


# ---------------------------------------------------------------- web server

class FaultServer:
    """An HTTP server on 127.0.0.1 whose answers the test chooses per path:
    a page, an HTTP status, a stall or bytes that are no HTTP at all."""

    def __init__(self):
        self.routes = {}
        self.queries = {}
        self._lock = threading.Lock()
        self._stop = threading.Event()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path, _, query = self.path.partition("?")
                with outer._lock:
                    outer.queries.setdefault(path, []).append(query)
                    status, ctype, body, headers = outer.routes.get(
                        path, (404, "text/html", "<h1>not here</h1>", {}))
                if status == "stall":
                    outer._stop.wait(120)
                    return
                if status == "garbage":
                    self.wfile.write(b"\x00\xffthis is not http\r\n\r\n")
                    return
                data = body.encode("utf-8") if isinstance(body, str) else body
                self.send_response(200 if status == "truncated" else status)
                for name, value in {"Content-Type": ctype, "Content-Length": str(len(data)),
                                    **headers}.items():
                    self.send_header(name, value)
                self.end_headers()
                # Truncated: the length of the whole, then half of it and the end.
                self.wfile.write(data[: len(data) // 2] if status == "truncated" else data)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True

            def handle_error(self, request, client_address):
                # A client that hangs up early (a refused download) is no fault.
                if not isinstance(sys.exc_info()[1], ConnectionError):
                    super().handle_error(request, client_address)

        self.httpd = Server(("127.0.0.1", 0), Handler)
        self.host = f"http://127.0.0.1:{self.httpd.server_address[1]}"
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def page(self, path, body="", status=200, ctype="text/html; charset=utf-8", headers=None):
        """What the path answers: the body with the status, or a status of
        "stall", "truncated" (half the body) or "garbage"."""
        self.routes[path] = (status, ctype, body, headers or {})

    def file(self, path, name, ctype):
        """A file of the demo service's, by its name under WWW."""
        self.page(path, read(os.path.join(WWW, name), "rb"), ctype=ctype)

    def hits(self, path):
        return len(self.reports(path))

    def reports(self, path):
        """The query texts of every request for the path, in order."""
        with self._lock:
            return list(self.queries.get(path, []))

    def close(self):
        self._stop.set()
        self.httpd.shutdown()
        self.httpd.server_close()


def solid_page(colour, extra=""):
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><style>html,body{{margin:0;"
            f"height:100%;background:{colour};overflow:hidden}}</style></head>"
            f"<body>{extra}</body></html>")


class DemoService:
    """The demo service host on a free port, logging every request."""

    def __init__(self, root=None):
        self.proc = subprocess.Popen([SERVICE, "--port", "0", *(["--root", root] if root else [])],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"listening on (http://\S+)", line)
        if not m:
            self.proc.kill()
            raise AssertionError(f"service did not start: {line!r}")
        self.host = m.group(1)
        self.lines = []  # filled a line at a time, as the service writes them
        threading.Thread(target=lambda: self.lines.extend(l.rstrip("\n") for l in self.proc.stderr),
                         daemon=True).start()

    def heartbeats(self, since=0):
        """The fields of each heartbeat the TV page sent, from line since on."""
        return [dict(kv.split("=", 1) for kv in m.group(1).split("&") if "=" in kv)
                for m in (re.search(r"/tv/heartbeat\?(\S+)", l) for l in self.lines[since:]) if m]

    def close(self):
        end(self.proc)


# ---------------------------------------------------------------- programs

def end(proc):
    """Terminates a process, killed if it does not end within 5 s."""
    proc.terminate()
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def program_folder(tmp):
    """A private copy of the built program folder, so tests never share files."""
    dest = os.path.join(tmp, "app")
    # As installed: without the version file a run of the built program
    # may have fetched into the build's folder.
    shutil.copytree(APP_DIR, dest, symlinks=True, ignore=shutil.ignore_patterns("up.ini"))
    return dest


class Program:
    """One started program, ended with the test whatever happens."""

    def __init__(self, path, host, extra_env=None, args=()):
        env = dict(os.environ, PELKO_SERVICE_HOST=host, **(extra_env or {}))
        # Output goes to a file outside the program folder: a pipe nobody
        # reads would stall the program.
        self._log = tempfile.NamedTemporaryFile("w", prefix="pelko-", suffix=".log")
        self.proc = subprocess.Popen([path, *args], env=env, stdout=self._log,
                                     stderr=subprocess.STDOUT)

    def output(self):
        with open(self._log.name, errors="replace") as f:
            return f.read()

    def alive(self):
        return self.proc.poll() is None

    def close(self):
        if self.alive():
            end(self.proc)
        self._log.close()


# ---------------------------------------------------------------- windows

def users_of(folder):
    """Processes other than this one whose program, working folder or an
    open file lies in the folder."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            links = [os.readlink(f"/proc/{entry}/{name}") for name in ("exe", "cwd")]
            links += [os.readlink(f"/proc/{entry}/fd/{fd}")
                      for fd in os.listdir(f"/proc/{entry}/fd")]
        except OSError:
            continue  # gone, or a zombie with nothing left open
        if any(link == folder or link.startswith(folder + os.sep) for link in links):
            found.append(int(entry))
    return found


def remove_folder(folder):
    """Removes a test's folder once nothing works in it any more: a program
    that another started (the updater's new Pelko), or the engine's processes
    that outlive the program by a moment, are given time to end, then ended."""
    for sig in (None, signal.SIGTERM, signal.SIGKILL):
        for pid in users_of(folder) if sig else []:
            with contextlib.suppress(OSError):
                os.kill(pid, sig)
        with contextlib.suppress(AssertionError):
            wait_until(lambda: not users_of(folder), 10, what="folder unused")
            break
    shutil.rmtree(folder)


def web_processes(pid):
    """The browser's page processes in the process tree below a program."""
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        with contextlib.suppress(OSError):
            todo += map(int, read(f"/proc/{p}/task/{p}/children").split())
            if p != pid and read(f"/proc/{p}/comm").startswith("WebKitWebProces"):
                out.append(p)
    return out


def wayland_socket():
    name = os.environ.get("WAYLAND_DISPLAY", "")
    return name if name.startswith("/") else os.path.join(os.environ.get("XDG_RUNTIME_DIR", ""), name)


def x11_socket():
    return "/tmp/.X11-unix/X" + os.environ.get("DISPLAY", ":").split(":")[1].split(".")[0]


def displays(pid):
    """The display servers a process is connected to, each by the path of
    its socket: X11's (x11_socket) or the compositor's (wayland_socket)."""
    own, servers = set(), {}
    for line in run("ss", "-x", "-p", "-n").splitlines():
        f = line.split()
        if len(f) < 8:
            continue
        local, inode, peer = f[4].lstrip("@"), f[5], f[7]
        if f"pid={pid}," in line:
            own.add(inode)
        elif local.startswith("/tmp/.X11-unix/X") or local == wayland_socket():
            # The server's end names the socket; its peer is the client's end.
            servers[peer] = local
    return {servers[i] for i in own if i in servers}


def windows_named(name, pid=None):
    """Visible windows whose title is exactly the name (compared here:
    xdotool's own patterns do not take non-ASCII text reliably)."""
    mine = ["--pid", str(pid)] if pid is not None else []
    wids = run("xdotool", "search", "--onlyvisible", *mine, "--name", ".").split()
    # The tray icon carries the caption as its title too.
    return [int(wid) for wid in wids
            if run("xdotool", "getwindowname", wid).rstrip("\n") == name
            and "pelko-tray" not in run("xprop", "-id", wid, "WM_CLASS")]


def window(pid, name=CAPTION, timeout=20):
    """The window of that title, of the process if one is given, once it shows."""
    return wait_until(lambda: windows_named(name, pid), timeout, what=f"window {name}")[0]


def wm_state(wid):
    return run("xprop", "-id", str(wid), "_NET_WM_STATE")


def is_viewable(wid):
    return "IsViewable" in run("xwininfo", "-id", str(wid))


def geometry(wid):
    out = run("xwininfo", "-id", str(wid))
    def num(key):
        return int(re.search(key + r":\s+(-?\d+)", out).group(1))
    return {"x": num("Absolute upper-left X"), "y": num("Absolute upper-left Y"),
            "width": num("Width"), "height": num("Height")}


def tray_icon(name="pelko-tray"):
    """The absolute centre of our icon in the tray, or None while it is not there."""
    for line in run("xwininfo", "-root", "-tree").splitlines():
        if f'("{name}"' in line:
            m = re.search(r"(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)", line)
            if m:
                w, h, x, y = map(int, m.groups())
                return x + w // 2, y + h // 2
    return None


def click_at(x, y, button=1, repeat=1):
    # A move to where the pointer already is never completes with --sync.
    here = run("xdotool", "getmouselocation", "--shell")
    if f"X={x}\n" not in here or f"Y={y}\n" not in here:
        run("xdotool", "mousemove", "--sync", str(x), str(y))
    time.sleep(0.1)
    run("xdotool", "click", "--repeat", str(repeat), "--delay", "60", str(button))


def popup_shown(pid):
    """Whether a pop-up menu of the program is on screen (menus are windows
    the window manager does not manage, so they carry no caption)."""
    return any("_NET_WM_WINDOW_TYPE_POPUP_MENU" in run("xprop", "-id", wid, "_NET_WM_WINDOW_TYPE")
               for wid in run("xdotool", "search", "--onlyvisible", "--pid", str(pid),
                              "--class", "").split())


def tray_popup(pid, keys, icon=None):
    """Opens a tray icon's pop-up menu, of the program pid, and picks an entry
    with the keyboard: our icon in the classic tray, unless told where one is."""
    click_at(*(icon or wait_until(tray_icon, what="tray icon")), button=3)
    wait_until(lambda: popup_shown(pid), what="tray pop-up menu")
    for key in keys:
        run("xdotool", "key", key)
        time.sleep(0.1)


def pixels(*points):
    """The colours on screen at the points, as (r, g, b)."""
    root = Gdk.get_default_root_window()
    return [tuple(Gdk.pixbuf_get_from_window(root, x, y, 1, 1).get_pixels()[:3])
            for x, y in points]


def differing(x, y, width, height, fuzz=38):
    """The box (x, y, width, height) on screen around whatever in the area
    differs by more than fuzz from the colour of its top left corner."""
    shot = Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x, y, width, height)
    data, stride, n = shot.get_pixels(), shot.get_rowstride(), shot.get_n_channels()
    corner = data[:3]
    def at(i, j):
        k = j * stride + i * n
        return data[k:k + 3]
    found = [(i, j) for j in range(height) for i in range(width)
             if max(abs(a - b) for a, b in zip(at(i, j), corner)) > fuzz]
    if not found:
        return None
    xs, ys = [i for i, _ in found], [j for _, j in found]
    return x + min(xs), y + min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


# ---------------------------------------------------------------- accessibility

def application(pid, timeout=20):
    def find():
        for app in children(pyatspi.Registry.getDesktop(0)):
            with contextlib.suppress(Exception):  # an application that just ended
                if app is not None and app.get_process_id() == pid:
                    return app
    return wait_until(find, timeout, what="accessible application")


def descendants(node, role=None, name=None, depth=12):
    found = []
    def walk(n, d):
        if n is None or d > depth:
            return
        try:
            if (role is None or n.getRoleName() == role) and (name is None or n.name == name):
                found.append(n)
            if n.getRoleName() == "document web":
                return
            for child in children(n):
                walk(child, d + 1)
        except Exception:
            pass
    walk(node, 0)
    return found


def state(node, st):
    return node.getState().contains(st)


def children(node):
    return [node.getChildAtIndex(i) for i in range(node.childCount)]


def menu_bar(app):
    return wait_until(lambda: descendants(app, "menu bar"), what="menu bar")[0]


def menu_entry(app, caption):
    found = [e for e in descendants(app, name=caption)
             if e.getRoleName() in ("menu item", "check menu item")]
    if not found:
        raise AssertionError(f"no menu entry {caption}")
    return found[0]


def centre(node):
    ext = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return ext.x + ext.width // 2, ext.y + ext.height // 2


def choose(app, menu, entry):
    """Picks a menu entry with the mouse, as a user would: a click on the
    menu's title, then on the entry, both found by caption."""
    title = [m for m in children(menu_bar(app)) if m.name == menu][0]
    target = menu_entry(app, entry)
    pid = app.get_process_id()
    for _ in range(3):
        click_at(*centre(title))
        try:
            wait_until(lambda: popup_shown(pid) and state(target, pyatspi.STATE_SHOWING), 3,
                       what=f"{menu} opened")
            break
        except AssertionError:
            run("xdotool", "key", "Escape")
    else:
        raise AssertionError(f"the menu {menu} does not open")
    # Menus take a click that comes too soon after they opened for the end of
    # the click that opened them. The pointer rests on the entry until the
    # menu shows it selected, which also proves the menu stands where it said.
    time.sleep(0.6)
    def hovered():
        run("xdotool", "mousemove", "--sync", *map(str, centre(target)))
        time.sleep(0.2)
        return state(target, pyatspi.STATE_SELECTED)
    wait_until(hovered, 5, what=f"{entry} under the pointer")
    run("xdotool", "click", "1")
    wait_until(lambda: not popup_shown(pid), 5, what="menu closed")


def activate(node):
    """A button's or a menu entry's first action: its "click"."""
    node.queryAction().doAction(0)


def dialogs(app):
    """The message boxes and dialogs on screen."""
    def showing(d):
        with contextlib.suppress(Exception):  # one that just went
            return state(d, pyatspi.STATE_SHOWING)
    return [d for role in ("alert", "dialog") for d in descendants(app, role, depth=2)
            if showing(d)]


def message_box(app, pid, title, text=None, timeout=20):
    """A message box by its title (read from the window manager: the toolkit
    names an alert after its kind) and, if given, a text it shows."""
    def find():
        boxes = dialogs(app) if windows_named(title, pid) else []
        return [b for b in boxes if text is None or any(text in t for t in texts(b))]
    return wait_until(find, timeout, what=f"message box {title} {text or ''}")[0]


def button(node, caption, timeout=15):
    """A push button by its caption, less any mnemonic mark, once it is there."""
    return wait_until(lambda: [b for b in descendants(node, "push button")
                               if b.name.replace("_", "").startswith(caption)],
                      timeout, what=f"button {caption}")[0]


def press(node, caption, click=False):
    """Presses a button by its accessible action, or with the mouse."""
    b = button(node, caption, 5)
    if not click:
        return activate(b)
    time.sleep(0.3)
    click_at(*centre(b))


def texts(node):
    return [l.name for l in descendants(node, "label")]


class GuiTest(unittest.TestCase):
    """Temporary program folder, a fault server, and clean-up of all started."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="pelko-gui-")
        self.addCleanup(remove_folder, self.tmp)
        self.app_dir = program_folder(self.tmp)
        self.server = FaultServer()
        self.addCleanup(self.server.close)

    def start(self, host=None, program="Pelko", env=None, folder=None, args=()):
        p = Program(os.path.join(folder or self.app_dir, program), host or self.server.host, env,
                    args)
        self.addCleanup(p.close)
        return p

    def fake_service(self, kind):
        """One of fake_service.py's stand-ins, ended with the test: returns the
        calls made to it, each as its words, filled in as they come."""
        proc = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__),
                                                              "fake_service.py"), kind],
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(end, proc)
        self.assertEqual(proc.stdout.readline().strip(), "ready", f"the fake {kind}")
        calls = []
        threading.Thread(target=lambda: calls.extend(l.split() for l in proc.stdout),
                         daemon=True).start()
        return calls

    def adopt(self, wid):
        """The pid of a window's program that another started, ended with the test."""
        pid = int(run("xdotool", "getwindowpid", str(wid)))
        self.addCleanup(run, "kill", str(pid))
        return pid
