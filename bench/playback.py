"""Watching the HLS channel, Pelko against surf (Debian's minimal WebKitGTK
browser) on the same page in the same run: time from start to the first
video frame, CPU of the whole process tree while the 720p variant plays for
30 s, and its PSS meanwhile. Medians of 5 runs each, with the ratio
Pelko / surf. Run through bench/playback.sh, which gives it a desktop session."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "gui"))
import pelkotest as pt  # noqa: E402
from startup import RUNS, compare, pss_kib, sized_window, stop, tree  # noqa: E402

PLAY_SECONDS = int(os.environ.get("PLAY_SECONDS", "30"))
TICKS = os.sysconf("SC_CLK_TCK")

# Pelko always opens /tv/app.html: in the copy of the web root it hands
# over to the demo page with the HLS channel pinned to 720p, for both peers.
REDIRECT = ("<!DOCTYPE html><meta charset='utf-8'>"
            "<script>location.replace('play.html?ch=4&level=720')</script>")


def cpu_seconds(pids):
    total = 0
    for p in pids:
        try:
            with open(f"/proc/{p}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / TICKS


def first_frames(service):
    return sum(1 for l in list(service.lines) if "/tv/heartbeat?" in l and "first=1" in l)


def measure(cmd, env, service, window_of):
    before = first_frames(service)
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        sized_window(cmd[0], proc, window_of, "window")
        pt.wait_until(lambda: first_frames(service) > before, 60, 0.01, "first frame")
        first = time.monotonic() - t0
        time.sleep(2)
        pids = tree(proc.pid)
        c0, w0 = cpu_seconds(pids), time.monotonic()
        time.sleep(PLAY_SECONDS / 2)
        pss = pss_kib(proc.pid)
        time.sleep(PLAY_SECONDS / 2)
        cpu = (cpu_seconds(pids) - c0) / (time.monotonic() - w0) * 100
        return first, cpu, pss
    finally:
        stop(proc)


def main():
    www = os.path.join(os.path.dirname(os.environ["PELKO_SERVICE_BIN"]), "www")
    root = tempfile.mkdtemp(prefix="pelko-bench-")
    try:
        shutil.copytree(www, os.path.join(root, "www"))
        tv = os.path.join(root, "www", "tv")
        os.rename(os.path.join(tv, "app.html"), os.path.join(tv, "play.html"))
        with open(os.path.join(tv, "app.html"), "w") as f:
            f.write(REDIRECT)
        med = compare(measure, os.path.join(root, "www"))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f"{'':8}{'first frame':>13}{'CPU 720p':>11}{'PSS (MiB)':>12}")
    for name, (first, cpu, pss) in med.items():
        print(f"{name:8}{first:12.3f}s{cpu:10.1f}%{pss / 1024:12.1f}")
    p, s = med["Pelko"], med["surf"]
    print(f"{'ratio':8}{p[0] / s[0]:13.2f}{p[1] / s[1]:11.2f}{p[2] / s[2]:12.2f}")
    print(f"(medians of {RUNS} runs; CPU in % of one core over {PLAY_SECONDS} s of the 720p "
          "variant; PSS of the whole process tree while playing)")


if __name__ == "__main__":
    main()
