"""Where the CPU time of a start and of a channel switch goes, Pelko against
surf on the same pages as bench/compare.py. perf samples every process on the
machine (cpu-clock, on the monotonic clock) while each peer starts and shows
the first video frame of the HLS channel, and while it switches channels.
Each sample inside those intervals goes to the peer's own process, the
engine's web or network process, or the rest of the machine (the X server,
the service); within the peer's own process and its web process, to the
library it ran in. "own code" is the program itself and its page extension:
everything else in the two programs' processes is the same engine.

  bench/cpu_split.sh [BUILD_DIR]   (RUNS=5 starts of each, SWITCHES=20 per run)

Needs perf allowed to sample the whole machine (root, or
kernel.perf_event_paranoid at 0 or below)."""

import collections
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "gui"))
import pelkotest as pt  # noqa: E402
from compare import showing, switch_times, web_root  # noqa: E402
from startup import RUNS, again, tree  # noqa: E402

HZ = 997
PEERS = ["Pelko", "surf"]
PROCESSES = ["own process", "web process", "network process", "X server", "rest"]
# Libraries by what they do; the first group whose name a path contains.
LIBRARIES = [
    ("WebKit", ("libwebkit2gtk", "libjavascriptcore")),
    ("GTK", ("libgtk-3", "libgdk-3", "libatk", "libgtkmm", "libgdkmm")),
    ("drawing", ("libcairo", "libpixman", "libpango", "libharfbuzz", "libfreetype",
                 "libfontconfig", "libgdk_pixbuf")),
    ("GL", ("libgallium", "libLLVM", "libEGL", "libGL", "libgbm", "libepoxy", "dri")),
    ("media", ("libgst", "gstreamer", "libav", "libsw", "libx264", "libdav1d", "libvpx")),
    ("GLib", ("libglib", "libgobject", "libgio", "libgmodule", "libglibmm", "libgiomm",
              "libsigc")),
    ("C/C++", ("libc.so", "libstdc++", "libm.so", "libgcc")),
    ("loader", ("ld-linux",)),
    ("kernel", ("[kernel",)),
]
SAMPLE = re.compile(r"^\s*(\d+)/\d+\s+(\d+\.\d+):\s+[0-9a-f]+\s+\((.*)\)\s*$")


def own_code(peer, dso):
    if peer == "Pelko":
        return dso.startswith(os.path.realpath(os.environ["PELKO_APP_DIR"]) + "/")
    return dso == shutil.which("surf") or "/surf/" in dso


def library(peer, dso):
    if own_code(peer, dso):
        return "own code"
    return next((name for name, parts in LIBRARIES if any(p in dso for p in parts)), "other")


def processes(root):
    """Every process on the machine: what it is to the peer whose tree starts at root."""
    mine = set(tree(root))
    roles = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                comm = f.read().strip()
        except OSError:
            continue
        pid = int(entry)
        if pid == root:
            roles[pid] = "own process"
        elif pid in mine:
            roles[pid] = {"WebKitWebProces": "web process",
                          "WebKitNetworkPr": "network process"}.get(comm, "rest")
        else:
            roles[pid] = "X server" if comm.startswith("Xvfb") else "rest"
    return roles


def first_frame(peer, service, tmp):
    """One start: its interval, start to the first video frame."""
    with showing(peer, service, tmp, poll=0.01) as (proc, t0):
        return [(t0, time.monotonic())], processes(proc.pid)


def switches(peer, service, tmp):
    roles = {}
    times = switch_times(peer, service, tmp, lambda proc: roles.update(processes(proc.pid)))
    return times, roles


def samples(data):
    """(time, pid, library path) of every sample, in time order."""
    out = subprocess.run(["perf", "script", "-i", data, "-F", "pid,tid,time,ip,dso"],
                         capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        m = SAMPLE.match(line)
        if m and m.group(1) != "0":  # pid 0: the core was idle
            found.append((float(m.group(2)), int(m.group(1)), m.group(3)))
    return found


def account(peer, intervals, roles, found):
    """CPU milliseconds inside the intervals, by process and by library."""
    by_process, by_library = collections.Counter(), collections.Counter()
    for t, pid, dso in found:
        if not any(a <= t <= b for a, b in intervals):
            continue
        role = roles.get(pid, "rest")
        by_process[role] += 1000 / HZ
        if role in ("own process", "web process"):
            by_library[(role, library(peer, dso))] += 1000 / HZ
    return by_process, by_library


def table(title, runs):
    """Medians over the runs of each figure, per peer, and Pelko - surf."""
    print(f"\n{title}")
    keys = ["wall"] + PROCESSES + [f"{r}: {lib}" for r in ("own process", "web process")
                                   for lib in ["own code"] + [n for n, _ in LIBRARIES] + ["other"]]
    med = {peer: {k: statistics.median(run.get(k, 0.0) for run in runs[peer])
                  for k in keys} for peer in PEERS}
    print(f"{'(CPU ms, wall ms)':34}" + "".join(f"{p:>10}" for p in PEERS) + f"{'difference':>12}")
    for k in keys:
        if all(med[p][k] < 0.5 for p in PEERS) and "own code" not in k:
            continue
        print(f"{k:34}" + "".join(f"{med[p][k]:10.0f}" for p in PEERS) +
              f"{med['Pelko'][k] - med['surf'][k]:+12.0f}")


def main():
    tmp = tempfile.mkdtemp(prefix="pelko-cpu-split-")
    data = os.path.join(tmp, "perf.data")
    tv = pt.DemoService(web_root(tmp, "tv", onload=True))
    channels = pt.DemoService(web_root(tmp, "channels", keys=True))
    perf = subprocess.Popen(["perf", "record", "-a", "-e", "cpu-clock", "-F", str(HZ),
                             "-k", "CLOCK_MONOTONIC", "-o", data],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    runs = {"start": [], "switch": []}
    failures = []
    try:
        pt.wait_until(lambda: os.path.exists(data) and os.path.getsize(data) > 0, 30, 0.1,
                      "perf to start")
        for round_ in range(RUNS):
            for peer in PEERS[round_ % 2:] + PEERS[:round_ % 2]:
                for kind, scenario, service in (("start", first_frame, tv),
                                                ("switch", switches, channels)):
                    intervals, roles = again(lambda: scenario(peer, service, tmp),
                                             f"{peer} {kind}", failures)
                    runs[kind].append((peer, intervals, roles))
        perf.send_signal(signal.SIGINT)
        perf.wait(60)
        found = samples(data)
        titles = {"start": "start -> first video frame, per start",
                  "switch": "channel switch -> first video frame, mean of a run's switches"}
        for kind, title in titles.items():
            figures = {p: [] for p in PEERS}
            for peer, intervals, roles in runs[kind]:
                by_process, by_library = account(peer, intervals, roles, found)
                run = {"wall": 1000 * sum(b - a for a, b in intervals), **by_process}
                run.update({f"{r}: {lib}": ms for (r, lib), ms in by_library.items()})
                figures[peer].append({k: v / len(intervals) for k, v in run.items()})
            table(title, figures)
            for peer in PEERS:
                print(f"{peer} wall ms, run by run: " +
                      " ".join(f"{run['wall']:.0f}" for run in figures[peer]))
        if failures:
            print(f"runs repeated: {len(failures)} ({'; '.join(failures)})")
        print(f"(medians of {RUNS} runs of each; a sample is {1000 / HZ:.2f} ms of one core)")
    finally:
        if perf.poll() is None:
            perf.kill()
            perf.wait()
        tv.close()
        channels.close()
        shutil.rmtree(tmp, ignore_errors=True)

if __name__ == "__main__":
    main()
