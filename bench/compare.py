"""Pelko against surf and Chromium (--app) on the same pages in one run,
with mpv on the same stream as the floor for playback CPU. Medians of RUNS
runs, each peer measured beside Pelko in every round:

  window     start -> window mapped
  loaded     start -> the TV page's onload
  frame      start -> first video frame of the HLS channel
  PSS load   PSS of the whole process tree 3 s after onload
  PSS play   PSS after PLAY_MINUTES of the 720p channel
  CPU play   CPU of the tree (% of one core) over CPU_SECONDS of the 720p channel
  CPU idle   CPU over CPU_SECONDS on a static page

Prints the figures and the ratios Pelko / peer and draws docs/bench.png.
Run through bench/compare.sh, which gives it a desktop session."""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "gui"))
import pelkotest as pt  # noqa: E402
from playback import REDIRECT, cpu_seconds  # noqa: E402
from startup import again, pss_kib, stop, tree, visible_window  # noqa: E402

RUNS = int(os.environ.get("RUNS", "5"))
PLAY_MINUTES = float(os.environ.get("PLAY_MINUTES", "10"))
CPU_SECONDS = float(os.environ.get("CPU_SECONDS", "60"))
OUT = os.environ.get("BENCH_OUT", os.path.join(os.path.dirname(__file__), "..", "docs"))
PEERS = ["Pelko", "surf", "Chromium"]
ONLOAD = ("<script>addEventListener('load', function () {"
          "fetch('/tv/heartbeat?onload=1', {cache: 'no-store'}).catch(function () {}); });"
          "</script></body>")
# Pelko's page area at its first start; the peers' windows are given the same
# size, so that each draws the same picture (surf opens at 800 x 600,
# Chromium at about 1050 x 975).
PAGE_SIZE = (1017, 649)
STATIC = ("<!DOCTYPE html><meta charset='utf-8'><title>static</title>"
          "<body style='margin:0;background:#203040;color:#fff;font:20px sans-serif'>"
          "<p>静态页面 · static page</p>")


def web_root(tmp, name, app_html=None, onload=False):
    """A copy of the demo web root whose /tv/app.html is the page wanted."""
    www = os.path.join(os.path.dirname(os.environ["PELKO_SERVICE_BIN"]), "www")
    root = os.path.join(tmp, name)
    shutil.copytree(www, root)
    tv = os.path.join(root, "tv")
    os.rename(os.path.join(tv, "app.html"), os.path.join(tv, "play.html"))
    if app_html is None:
        with open(os.path.join(tv, "play.html"), encoding="utf-8") as f:
            app_html = f.read()
    if onload:
        app_html = app_html.replace("</body>", ONLOAD)
    with open(os.path.join(tv, "app.html"), "w", encoding="utf-8") as f:
        f.write(app_html)
    return root


def command(peer, host, tmp):
    page = host + "/tv/app.html"
    if peer == "Pelko":
        return [os.path.join(os.environ["PELKO_APP_DIR"], "Pelko")], visible_window("Pelko")
    if peer == "surf":
        return ["surf", page], visible_window("surf")
    profile = tempfile.mkdtemp(prefix="chromium-", dir=tmp)
    # As a user runs it; the sandbox needs user namespaces a container may lack.
    return (["chromium", f"--app={page}", f"--user-data-dir={profile}", "--no-first-run",
             f"--window-size={PAGE_SIZE[0]},{PAGE_SIZE[1]}",
             "--no-default-browser-check", "--disable-background-networking",
             "--autoplay-policy=no-user-gesture-required", "--no-sandbox",
             "--password-store=basic"],
            visible_window("chromium"))


def count(service, text):
    return sum(1 for line in list(service.lines) if text in line)


def start(peer, service, tmp):
    cmd, window_of = command(peer, service.host, tmp)
    env = dict(os.environ, PELKO_SERVICE_HOST=service.host,
               XDG_DATA_HOME=tempfile.mkdtemp(dir=tmp), XDG_CACHE_HOME=tempfile.mkdtemp(dir=tmp),
               XDG_CONFIG_HOME=tempfile.mkdtemp(dir=tmp))
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc, t0, window_of


def sized_window(peer, proc, window_of, what):
    """Waits for the peer's window and gives surf's Pelko's page size."""
    wid = pt.wait_until(lambda: window_of(proc.pid), 60, 0.01, f"{peer} {what}")[0]
    if peer == "surf":
        pt.run("xdotool", "windowsize", wid, str(PAGE_SIZE[0]), str(PAGE_SIZE[1]))
    return wid


def cpu_over(pid, seconds):
    pids = tree(pid)
    c0, w0 = cpu_seconds(pids), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(tree(pid)) - c0) / (time.monotonic() - w0) * 100


def tv_page(peer, service, tmp):
    """window, loaded, first frame, PSS 3 s after load."""
    loads, frames = count(service, "onload=1"), count(service, "first=1")
    proc, t0, window_of = start(peer, service, tmp)
    try:
        sized_window(peer, proc, window_of, "window")
        window = time.monotonic() - t0
        pt.wait_until(lambda: count(service, "onload=1") > loads, 60, 0.01, f"{peer} onload")
        loaded = time.monotonic() - t0
        pt.wait_until(lambda: count(service, "first=1") > frames, 60, 0.01, f"{peer} frame")
        frame = time.monotonic() - t0
        time.sleep(max(0.0, loaded + 3 - (time.monotonic() - t0)))
        return {"window": window, "loaded": loaded, "frame": frame, "PSS load": pss_kib(proc.pid)}
    finally:
        stop(proc)


def playing(peer, service, tmp):
    """CPU over CPU_SECONDS of the 720p channel, then PSS after PLAY_MINUTES."""
    frames = count(service, "first=1")
    proc, t0, window_of = start(peer, service, tmp)
    try:
        sized_window(peer, proc, window_of, "window")
        pt.wait_until(lambda: count(service, "first=1") > frames, 60, 0.05, f"{peer} frame")
        time.sleep(5)
        cpu = cpu_over(proc.pid, CPU_SECONDS)
        time.sleep(max(0.0, PLAY_MINUTES * 60 - (time.monotonic() - t0)))
        return {"CPU play": cpu, "PSS play": pss_kib(proc.pid)}
    finally:
        stop(proc)


def static_page(peer, service, tmp):
    proc, t0, window_of = start(peer, service, tmp)
    try:
        sized_window(peer, proc, window_of, "window")
        time.sleep(8)
        return {"CPU idle": cpu_over(proc.pid, CPU_SECONDS)}
    finally:
        stop(proc)


def mpv_cpu(service):
    url = service.host + "/tv/hls/720p/index.m3u8"
    proc = subprocess.Popen(["mpv", "--no-config", "--mute=yes", "--loop-playlist=inf",
                             "--vo=x11", "--hwdec=auto-safe", url],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(5)
        return cpu_over(proc.pid, CPU_SECONDS)
    finally:
        stop(proc)


def attempt(scenario, peer, service, tmp, failures):
    """One scenario, run again when it does not get through, with what the
    service saw during the try that failed."""
    seen = 0

    def run():
        nonlocal seen
        seen = len(service.lines)
        return scenario(peer, service, tmp)

    def tell(e):
        print(f"retrying after: {e}; the service saw: " +
              " | ".join(service.lines[seen:][-8:]), file=sys.stderr, flush=True)

    return again(run, f"{peer} {scenario.__name__}", failures, tell)


def median_table(results):
    return {peer: {k: statistics.median(r[k] for r in runs) for k in runs[0]}
            for peer, runs in results.items()}


def chart(med, floor, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    groups = [("start (s)", ["window", "loaded", "frame"], 1),
              ("PSS (MiB)", ["PSS load", "PSS play"], 1 / 1024),
              ("CPU (% of a core)", ["CPU play", "CPU idle"], 1)]
    fig, axes = plt.subplots(1, 3, figsize=(12, 4))
    for ax, (title, keys, scale) in zip(axes, groups):
        width = 0.8 / len(PEERS)
        for i, peer in enumerate(PEERS):
            ax.bar([k + i * width for k in range(len(keys))],
                   [med[peer][key] * scale for key in keys], width, label=peer)
        if title.startswith("CPU"):
            ax.axhline(floor, color="grey", linestyle="--", label="mpv (720p)")
        ax.set_xticks([k + width for k in range(len(keys))], keys)
        ax.set_title(title)
    axes[0].legend()
    fig.suptitle(f"Pelko, surf and Chromium --app on the demo TV page (medians of {RUNS})")
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    tmp = tempfile.mkdtemp(prefix="pelko-compare-")
    services = []
    try:
        tv = pt.DemoService(web_root(tmp, "tv", onload=True))
        hd = pt.DemoService(web_root(tmp, "720p", REDIRECT))
        still = pt.DemoService(web_root(tmp, "static", STATIC))
        services = [tv, hd, still]
        results = {peer: [] for peer in PEERS}
        floors = []
        failures = []
        for round_ in range(RUNS):
            for peer in PEERS:
                row = attempt(tv_page, peer, tv, tmp, failures)
                row.update(attempt(playing, peer, hd, tmp, failures))
                row.update(attempt(static_page, peer, still, tmp, failures))
                results[peer].append(row)
                print(f"round {round_ + 1} {peer}: " +
                      ", ".join(f"{k} {v:.3g}" for k, v in row.items()), flush=True)
            floors.append(mpv_cpu(hd))
    finally:
        for s in services:
            s.close()
        shutil.rmtree(tmp, ignore_errors=True)
    med = median_table(results)
    floor = statistics.median(floors)
    keys = ["window", "loaded", "frame", "PSS load", "PSS play", "CPU play", "CPU idle"]
    units = {"window": "s", "loaded": "s", "frame": "s", "PSS load": "MiB", "PSS play": "MiB",
             "CPU play": "%", "CPU idle": "%"}

    def shown(key, value):
        return value / 1024 if units[key] == "MiB" else value

    print(f"\n{'':18}" + "".join(f"{k:>10}" for k in keys))
    print(f"{'':18}" + "".join(f"{units[k]:>10}" for k in keys))
    for peer in PEERS:
        print(f"{peer:18}" + "".join(f"{shown(k, med[peer][k]):10.3g}" for k in keys))
    for peer in PEERS[1:]:
        print(f"{'Pelko / ' + peer:18}" +
              "".join(f"{med['Pelko'][k] / med[peer][k] if med[peer][k] else float('nan'):10.2f}"
                      for k in keys))
    print(f"mpv, 720p: CPU {floor:.3g} % (the floor for playback)")
    if failures:
        print(f"runs repeated: {len(failures)} ({'; '.join(failures)})")
    print(f"(medians of {RUNS}; PSS play after {PLAY_MINUTES:g} min; CPU over {CPU_SECONDS:g} s)")
    os.makedirs(OUT, exist_ok=True)
    chart(med, floor, os.path.join(OUT, "bench.png"))


if __name__ == "__main__":
    main()
