"""Start-up time and memory of Pelko against surf (Debian's minimal WebKitGTK
browser) on the demo TV page: time to the window shown, time to the page
playing (the page's first playback report), and the PSS of the whole process
tree 3 s after that. Medians of 5 runs each, with the ratio Pelko / surf.
Run through bench/startup.sh, which gives it a desktop session."""

import functools
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "gui"))
import pelkotest as pt  # noqa: E402

RUNS = int(os.environ.get("RUNS", "5"))
# Pelko's page area at its first start; the peers' windows are given the same
# size, so that each draws the same picture (surf opens at 800 x 600,
# Chromium at about 1050 x 975).
PAGE_SIZE = (1017, 649)


def tree(pid):
    pids, todo = [], [pid]
    while todo:
        p = todo.pop()
        pids.append(p)
        try:
            with open(f"/proc/{p}/task/{p}/children") as f:
                todo += [int(c) for c in f.read().split()]
        except OSError:
            pass
    return pids


def pss_kib(pid):
    total = 0
    for p in tree(pid):
        try:
            with open(f"/proc/{p}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def heartbeats(service):
    return sum(1 for l in list(service.lines) if "/tv/heartbeat?" in l)


def measure(cmd, env, service, window_of):
    before = heartbeats(service)
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        sized_window(cmd[0], proc, window_of, "window")
        shown = time.monotonic() - t0
        pt.wait_until(lambda: heartbeats(service) > before, 60, 0.01, "page playing")
        loaded = time.monotonic() - t0
        time.sleep(3)
        return shown, loaded, pss_kib(proc.pid)
    finally:
        stop(proc)


# Ends a process as the tests do: terminated, killed after 5 s.
stop = pt.end


def sized_window(peer, proc, window_of, what):
    """Waits for the peer's window and gives surf Pelko's page size."""
    wid = pt.wait_until(lambda: window_of(proc.pid), 60, 0.01, f"{peer} {what}")[0]
    if os.path.basename(peer) == "surf":
        pt.run("xdotool", "windowsize", wid, str(PAGE_SIZE[0]), str(PAGE_SIZE[1]))
    return wid


def visible_window(cls):
    # One cheap look per poll, the same for both programs: a shown window of
    # the program's class (Pelko's tray icon has a class of its own).
    return lambda pid: pt.run("xdotool", "search", "--onlyvisible", "--pid", str(pid),
                              "--classname", f"^{cls}$").split()


def again(run, name, repeated, tell=None):
    """A run that does not get through (a stream that never starts) is told
    and run again, at most twice."""
    for _ in range(3):
        try:
            return run()
        except AssertionError as e:
            repeated.append(f"{name}: {e}")
            if tell:
                tell(e)
    raise AssertionError(f"{name} failed three times")


def compare(measure, root=None):
    """Runs Pelko and surf on the demo service's TV page in turn, RUNS times
    each, and gives each one's medians of the figures that measure returns."""
    app = os.environ["PELKO_APP_DIR"]
    service = pt.DemoService(root)
    try:
        env = dict(os.environ, PELKO_SERVICE_HOST=service.host)
        page = service.host + "/tv/app.html"
        results = {"Pelko": [], "surf": []}
        repeated = []
        runs = {"Pelko": ([os.path.join(app, "Pelko")], visible_window("Pelko")),
                "surf": (["surf", page], visible_window("surf"))}
        for _ in range(RUNS):
            for name, (cmd, window_of) in runs.items():
                results[name].append(again(functools.partial(measure, cmd, env, service,
                                                             window_of), name, repeated))
    finally:
        service.close()
    if repeated:
        print(f"runs repeated: {len(repeated)} ({'; '.join(repeated)})")
    return {k: [statistics.median(r[i] for r in v) for i in range(len(v[0]))]
            for k, v in results.items()}


def main():
    med = compare(measure)
    print(f"{'':8}{'window shown':>14}{'page playing':>14}{'PSS (MiB)':>12}")
    for name, (shown, loaded, pss) in med.items():
        print(f"{name:8}{shown:13.3f}s{loaded:13.3f}s{pss / 1024:12.1f}")
    p, s = med["Pelko"], med["surf"]
    print(f"{'ratio':8}{p[0] / s[0]:14.2f}{p[1] / s[1]:14.2f}{p[2] / s[2]:12.2f}")
    print(f"(medians of {RUNS} runs; goal: Pelko within 1.2x of surf)")


if __name__ == "__main__":
    main()
