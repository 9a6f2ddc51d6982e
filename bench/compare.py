"""Pelko against surf and Chromium (--app) on the same pages in one run,
with mpv on the same stream as the floor for playback CPU. Medians of RUNS
runs, each peer measured beside Pelko in every round:

  window     start -> window mapped
  loaded     start -> the TV page's onload
  frame      start -> first video frame of the HLS channel
  switch     a channel chosen in the page -> its first video frame (median of
             SWITCHES switches across the demo's channels), and its 90th
             percentile (switch 90)
  PSS load   PSS of the whole process tree 3 s after onload
  PSS play   PSS after PLAY_MINUTES of the 720p channel
  CPU play   CPU of the tree (% of one core) over CPU_SECONDS of the 720p channel
  CPU idle   CPU over CPU_SECONDS on a static page
  CPU hidden the same, minimised (Pelko in the tray)

Prints the figures and the ratios Pelko / peer and draws docs/bench.png.
Run through bench/compare.sh, which gives it a desktop session."""

import contextlib
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
from startup import PAGE_SIZE, again, pss_kib, sized_window, stop, tree, visible_window  # noqa: E402

RUNS = int(os.environ.get("RUNS", "5"))
PLAY_MINUTES = float(os.environ.get("PLAY_MINUTES", "5"))
CPU_SECONDS = float(os.environ.get("CPU_SECONDS", "60"))
SWITCHES = int(os.environ.get("SWITCHES", "20"))
OUT = os.environ.get("BENCH_OUT", os.path.join(os.path.dirname(__file__), "..", "docs"))
PEERS = ["Pelko", "surf", "Chromium"]
ONLOAD = ("<script>addEventListener('load', function () {"
          "fetch('/tv/heartbeat?onload=1', {cache: 'no-store'}).catch(function () {}); });"
          "</script></body>")
# The page chooses a channel for a digit key as for a click on it: the same
# input for every peer, wherever its page stands in its window.
CHANNEL_KEYS = ("<script>addEventListener('keydown', function (e) {"
                "var n = parseInt(e.key, 10), b = document.querySelectorAll('#channels button');"
                "if (n >= 1 && n <= b.length) b[n - 1].click(); });</script></body>")
STATIC = ("<!DOCTYPE html><meta charset='utf-8'><title>static</title>"
          "<body style='margin:0;background:#203040;color:#fff;font:20px sans-serif'>"
          "<p>静态页面 · static page</p>")


def web_root(tmp, name, app_html=None, onload=False, keys=False):
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
    if keys:
        app_html = app_html.replace("</body>", CHANNEL_KEYS)
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


def gst_registry(tmp):
    """GStreamer's plugin registry, made once and shared by every start.
    Each start gets empty caches, and the registry lives among them: without
    this, every start of every peer would scan all plugins again (about 0.8 s
    of CPU and 0.5 s later onload), which only the first start on a machine
    does."""
    path = os.path.join(tmp, "gst-registry.bin")
    if not os.path.exists(path):
        subprocess.run(["gst-inspect-1.0"], env=dict(os.environ, GST_REGISTRY=path),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return path


def start(peer, service, tmp):
    cmd, window_of = command(peer, service.host, tmp)
    env = dict(os.environ, PELKO_SERVICE_HOST=service.host,
               XDG_DATA_HOME=tempfile.mkdtemp(dir=tmp), XDG_CACHE_HOME=tempfile.mkdtemp(dir=tmp),
               XDG_CONFIG_HOME=tempfile.mkdtemp(dir=tmp), GST_REGISTRY=gst_registry(tmp))
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc, t0, window_of


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


@contextlib.contextmanager
def showing(peer, service, tmp, poll=0.05):
    """A peer started, its window sized and its first video frame shown:
    (its process, when it was started). It ends with the block."""
    frames = count(service, "first=1")
    proc, t0, window_of = start(peer, service, tmp)
    try:
        sized_window(peer, proc, window_of, "window")
        pt.wait_until(lambda: count(service, "first=1") > frames, 60, poll, f"{peer} frame")
        yield proc, t0
    finally:
        stop(proc)


def playing(peer, service, tmp):
    """CPU over CPU_SECONDS of the 720p channel, then PSS after PLAY_MINUTES."""
    with showing(peer, service, tmp) as (proc, t0):
        time.sleep(5)
        cpu = cpu_over(proc.pid, CPU_SECONDS)
        time.sleep(max(0.0, PLAY_MINUTES * 60 - (time.monotonic() - t0)))
        return {"CPU play": cpu, "PSS play": pss_kib(proc.pid)}


def switch_times(peer, service, tmp, seen=None):
    """SWITCHES channel changes: the time each key was sent and the time the
    new channel's first frame was reported. seen(proc) runs once the peer
    has switched, before it ends."""
    def shown(ch):
        return sum(1 for line in list(service.lines) if f"ch={ch}&" in line and "first=1" in line)

    frames = count(service, "first=1")
    proc, t0, window_of = start(peer, service, tmp)
    try:
        wid = sized_window(peer, proc, window_of, "window")
        pt.wait_until(lambda: count(service, "first=1") > frames, 60, 0.05, f"{peer} frame")
        time.sleep(2)
        # The page takes the keys after a click on the player, which does nothing.
        pt.run("xdotool", "windowactivate", "--sync", wid)
        g = pt.geometry(wid)
        pt.click_at(g["x"] + g["width"] * 2 // 3, g["y"] + g["height"] // 2)
        times = []
        # From the HLS channel, the one shown first, through the others in turn.
        for i in range(SWITCHES):
            ch = [1, 2, 3, 5, 4][i % 5]
            before = shown(ch)
            sent = time.monotonic()
            pt.run("xdotool", "key", str(ch))
            pt.wait_until(lambda: shown(ch) > before, 30, 0.01, f"{peer} channel {ch}")
            times.append((sent, time.monotonic()))
            time.sleep(0.5)
        if seen:
            seen(proc)
        return times
    finally:
        stop(proc)


def switching(peer, service, tmp):
    """Each switch timed from the key to the new channel's first frame; the
    median and the 90th percentile."""
    times = [shown - sent for sent, shown in switch_times(peer, service, tmp)]
    return {"switch": statistics.median(times),
            "switch 90": statistics.quantiles(times, n=10)[8]}


def static_page(peer, service, tmp):
    """CPU on a static page shown, then minimised (Pelko's goes to the tray)."""
    proc, t0, window_of = start(peer, service, tmp)
    try:
        wid = sized_window(peer, proc, window_of, "window")
        time.sleep(8)
        shown = cpu_over(proc.pid, CPU_SECONDS)
        pt.run("xdotool", "windowminimize", "--sync", wid)
        time.sleep(2)
        return {"CPU idle": shown, "CPU hidden": cpu_over(proc.pid, CPU_SECONDS)}
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

    try:
        return again(run, f"{peer} {scenario.__name__}", failures, tell)
    except AssertionError as e:
        # A peer that hangs three times running loses this round's figures
        # of the scenario, not the whole run.
        failures.append(f"{e}, left out of the round")
        print(f"left out: {e}", file=sys.stderr, flush=True)
        return {}


def median_table(results):
    """Each figure's median over the rounds that have it."""
    keys = dict.fromkeys(k for runs in results.values() for r in runs for k in r)
    return {peer: {k: statistics.median([r[k] for r in runs if k in r] or [float("nan")])
                   for k in keys} for peer, runs in results.items()}


def chart(med, floor, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    groups = [("time (s)", ["window", "loaded", "frame", "switch", "switch 90"], 1),
              ("PSS (MiB)", ["PSS load", "PSS play"], 1 / 1024),
              ("CPU (% of a core)", ["CPU play", "CPU idle", "CPU hidden"], 1)]
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
        channels = pt.DemoService(web_root(tmp, "channels", keys=True))
        hd = pt.DemoService(web_root(tmp, "720p", REDIRECT))
        still = pt.DemoService(web_root(tmp, "static", STATIC))
        services = [tv, channels, hd, still]
        results = {peer: [] for peer in PEERS}
        floors = []
        failures = []
        for round_ in range(RUNS):
            # Each peer opens a round as often as the others, so that what the
            # first start after mpv's run pays is shared among them.
            for peer in PEERS[round_ % len(PEERS):] + PEERS[:round_ % len(PEERS)]:
                row = attempt(tv_page, peer, tv, tmp, failures)
                row.update(attempt(switching, peer, channels, tmp, failures))
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
    keys = ["window", "loaded", "frame", "switch", "switch 90", "PSS load", "PSS play",
            "CPU play", "CPU idle", "CPU hidden"]
    units = {"window": "s", "loaded": "s", "frame": "s", "switch": "s", "switch 90": "s",
             "PSS load": "MiB", "PSS play": "MiB", "CPU play": "%", "CPU idle": "%",
             "CPU hidden": "%"}

    def shown(key, value):
        return value / 1024 if units[key] == "MiB" else value

    print(f"\n{'':18}" + "".join(f"{k:>11}" for k in keys))
    print(f"{'':18}" + "".join(f"{units[k]:>11}" for k in keys))
    for peer in PEERS:
        print(f"{peer:18}" + "".join(f"{shown(k, med[peer][k]):11.3g}" for k in keys))
    for peer in PEERS[1:]:
        print(f"{'Pelko / ' + peer:18}" +
              "".join(f"{med['Pelko'][k] / med[peer][k] if med[peer][k] else float('nan'):11.2f}"
                      for k in keys))
    print(f"mpv, 720p: CPU {floor:.3g} % (the floor for playback)")
    if failures:
        print(f"runs repeated: {len(failures)} ({'; '.join(failures)})")
    print(f"(medians of {RUNS}; PSS play after {PLAY_MINUTES:g} min; CPU over {CPU_SECONDS:g} s)")
    os.makedirs(OUT, exist_ok=True)
    chart(med, floor, os.path.join(OUT, "bench.png"))


if __name__ == "__main__":
    main()
