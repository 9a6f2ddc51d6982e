"""How often the HLS channel fails to start: starts a peer on the demo TV
page TRIES times and counts the starts whose first video frame does not come
within START_SECONDS. For each such start it prints what the page's video
element says (ready state, position, buffered ranges), as a page script
reports it to the service every half second.

  bench/session.sh hls_start.py            PEER=Pelko|surf TRIES=20 QUERY=ch=4&level=720
QUERY, when given, is the query the page is opened with (Pelko always opens
the bare address, so the page is reached through a redirect, as in
compare.py).
Extra environment for the peer (e.g. WEBKIT_GST_USE_PLAYBIN3=1) is passed
through as it is; EXTRA, when given, is script put into the page beside the
probe, to try a rescue from the page's side."""

import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "gui"))
import pelkotest as pt  # noqa: E402
from compare import start, web_root  # noqa: E402
from startup import stop  # noqa: E402

PEER = os.environ.get("PEER", "Pelko")
TRIES = int(os.environ.get("TRIES", "20"))
START_SECONDS = float(os.environ.get("START_SECONDS", "10"))
QUERY = os.environ.get("QUERY", "")

# What the engine itself says of the video element, twice a second.
PROBE = ("<script>setInterval(function () {"
         "var v = document.getElementById('video'), b = [];"
         "for (var i = 0; i < v.buffered.length; i++)"
         " b.push(v.buffered.start(i).toFixed(2) + '-' + v.buffered.end(i).toFixed(2));"
         "var q = v.getVideoPlaybackQuality ? v.getVideoPlaybackQuality().totalVideoFrames : -1;"
         "fetch('/tv/heartbeat?probe=1&rs=' + v.readyState + '&ct=' + v.currentTime.toFixed(2) +"
         " '&buf=' + b.join(',') + '&frames=' + q + '&paused=' + v.paused + '&seeking=' + v.seeking,"
         " {cache: 'no-store'}).catch(function () {});"
         "}, 500);</script></body>")


EXTRA = os.environ.get("EXTRA", "")


def playing(service, since):
    """The position has moved a second on with frames drawn: a picture that
    shows once and then stands still is no start."""
    for line in service.lines[since:]:
        if "probe=1" not in line:
            continue
        fields = dict(f.split("=", 1) for f in line.split("?", 1)[1].split()[0].split("&")
                      if "=" in f)
        try:
            if float(fields.get("ct", 0)) >= 1.0 and int(fields.get("frames", 0)) > 0:
                return True
        except ValueError:
            pass
    return False


def main():
    tmp = tempfile.mkdtemp(prefix="pelko-hls-start-")
    www = web_root(tmp, "tv")
    played = os.path.join(www, "tv", "play.html")
    with open(played, encoding="utf-8") as f:
        page = f.read().replace("</body>", EXTRA + PROBE)
    with open(played, "w", encoding="utf-8") as f:
        f.write(page)
    with open(os.path.join(www, "tv", "app.html"), "w", encoding="utf-8") as f:
        f.write(page if not QUERY else
                "<!DOCTYPE html><meta charset='utf-8'>"
                f"<script>location.replace('play.html?{QUERY}')</script>")
    service = pt.DemoService(www)
    stalls = 0
    try:
        for n in range(TRIES):
            since = len(service.lines)
            proc, t0, _ = start(PEER, service, tmp)
            try:
                try:
                    pt.wait_until(lambda: playing(service, since), START_SECONDS, 0.05, "playing")
                    print(f"{n + 1:3} ok    {time.monotonic() - t0:5.2f} s", flush=True)
                except AssertionError:
                    stalls += 1
                    probes = [l for l in service.lines[since:] if "probe=1" in l]
                    print(f"{n + 1:3} STALL {probes[-1] if probes else 'no report'}", flush=True)
            finally:
                stop(proc)
    finally:
        service.close()
    print(f"{PEER}: {stalls} of {TRIES} starts without a frame in {START_SECONDS:g} s")


if __name__ == "__main__":
    main()
