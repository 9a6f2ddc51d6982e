"""Video as real TV pages bring it, in the real window: H.264/AAC through
Media Source Extensions and hls.js, streams that fail without harm,
fullscreen, and the screen kept on while playing."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402
import pyatspi  # noqa: E402


class HlsStart(pt.GuiTest):
    """WebKit now and then never finishes the seek hls.js makes over the gap
    before the first frame, in about one fresh start in five; Pelko repeats
    such a seek. Eight fresh starts of the demo TV page must each play, its
    position moving on and frames drawn."""

    def test_the_hls_channel_plays_in_every_fresh_start(self):
        service = pt.DemoService()
        self.addCleanup(service.close)
        for n in range(8):
            seen = len(service.lines)
            # An empty cache each time, as at a first start.
            cache = os.path.join(self.tmp, f"cache{n}")
            p = self.start(service.host, env={"XDG_CACHE_HOME": cache})
            pt.wait_until(lambda: [b for b in service.heartbeats(seen)
                                   if float(b["t"]) >= 1 and int(b["f"]) > 0],
                          15, what=lambda: f"start {n + 1} playing: {service.heartbeats(seen)}")
            p.close()


# A player whose streams fail in every way a server can fail them. hls.js is
# told to give up soon, so that the test need not wait out its patience.
FAULT_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8">
<script src="/hls.min.js"></script></head><body style="margin:0;background:#000">
<video id="v" muted autoplay playsinline></video><script>
var cases = ["/missing.m3u8", "/garbage/index.m3u8", "/truncated/index.m3u8",
             "/stall/index.m3u8"];
var v = document.getElementById("v");
function next(i) {
  if (i >= cases.length) return;
  var hls = new Hls({manifestLoadingTimeOut: 3000, manifestLoadingMaxRetry: 0,
                     fragLoadingTimeOut: 3000, fragLoadingMaxRetry: 0,
                     levelLoadingMaxRetry: 0});
  var done = false;
  function end(details) {
    if (done) return;
    done = true;
    fetch("/report?case=" + i + "&details=" + details, {cache: "no-store"});
    hls.destroy();
    next(i + 1);
  }
  // A player may also skip what it cannot use and simply have nothing to show.
  var quiet = setTimeout(function () { end("none"); }, 5000);
  hls.on(Hls.Events.ERROR, function (e, d) {
    if (d.fatal) { clearTimeout(quiet); end(d.details); }
  });
  hls.loadSource(cases[i]);
  hls.attachMedia(v);
  v.play().catch(function () {});
}
next(0);
</script></body></html>"""


PLAYLIST = ("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
            "#EXTINF:2.0,\nseg.ts\n#EXTINF:2.0,\nseg.ts\n#EXT-X-ENDLIST\n")


class StreamFaults(pt.GuiTest):
    def test_failing_streams_leave_pelko_running_without_a_box(self):
        self.server.file("/hls.min.js", "tv/lib/hls.min.js", "text/javascript")
        segment = pt.read(os.path.join(pt.WWW, "tv", "hls", "360p", "seg000.ts"), "rb")
        self.server.page("/tv/app.html", FAULT_PAGE)
        self.server.page("/report", "ok")
        for name in ("garbage", "truncated", "stall"):
            self.server.page(f"/{name}/index.m3u8", PLAYLIST, ctype="application/vnd.apple.mpegurl")
        self.server.page("/garbage/seg.ts", os.urandom(len(segment)), ctype="video/mp2t")
        self.server.page("/truncated/seg.ts", segment, "truncated", "video/mp2t")
        self.server.page("/stall/seg.ts", status="stall")

        p = self.start()
        pt.window(p.proc.pid)
        reports = pt.wait_until(lambda: len(self.server.reports("/report")) >= 4
                                and self.server.reports("/report"), 90,
                                what=lambda: f"every case ended: {self.server.reports('/report')}"
                                + ("" if p.alive() else
                                   f"; Pelko ended with {p.proc.returncode}: {p.output()[-3000:]}"))
        self.assertEqual([r.split("&")[0] for r in reports],
                         ["case=0", "case=1", "case=2", "case=3"], reports)
        self.assertIn("manifestLoadError", reports[0])
        self.assertTrue(p.alive())
        self.assertEqual(pt.dialogs(pt.application(p.proc.pid)), [])


# A page whose player asks for fullscreen on a click anywhere (browsers grant
# fullscreen only on a user's gesture). The second time, it leaves fullscreen
# by itself a moment later.
FULLSCREEN_PAGE = pt.solid_page("#336699", """
<div id="all" style="position:fixed;inset:0"></div><script>
var times = 0;
function tell(what) {
  fetch("/report?" + what + "=" + innerWidth + "x" + innerHeight, {cache: "no-store"});
}
document.getElementById("all").addEventListener("click", function () {
  document.documentElement.requestFullscreen().then(function () {
    tell("fullscreen");
    if (++times == 2) setTimeout(function () { document.exitFullscreen(); }, 1500);
  });
});
document.addEventListener("fullscreenchange", function () {
  tell(document.fullscreenElement ? "change" : "left");
});
addEventListener("resize", function () { tell("resize"); });
addEventListener("load", function () { tell("resize"); });
</script>""")


class Fullscreen(pt.GuiTest):
    def menu_bar_showing(self):
        return pt.state(pt.menu_bar(self.app), pyatspi.STATE_SHOWING)

    def go_fullscreen(self):
        before = len(self.server.reports("/report"))
        g = pt.geometry(self.wid)
        pt.click_at(g["x"] + g["width"] // 2, g["y"] + g["height"] // 2)
        pt.wait_until(lambda: "_NET_WM_STATE_FULLSCREEN" in pt.wm_state(self.wid)
                      and pt.geometry(self.wid)["width"] == 1600
                      and pt.geometry(self.wid)["height"] == 1000, what="fullscreen, whole screen")
        pt.wait_until(lambda: not self.menu_bar_showing(), what="menu bar hidden")
        # The page is the whole screen, to its last pixel, with no title bar,
        # frame or panel over it; it was never laid out at a size in between.
        pt.wait_until(lambda: "resize=1600x1000" in self.server.reports("/report")[before:],
                      what="page told the screen's size")
        self.assertLessEqual(set(self.server.reports("/report")[before:]),
                             {f"{what}={size}" for what in ("resize", "change", "fullscreen")
                              for size in ("1017x649", "1600x1000")})
        corners = ((0, 0), (800, 0), (1599, 999), (0, 999))
        pt.wait_until(lambda: pt.pixels(*corners) == [(0x33, 0x66, 0x99)] * 4, 10, 0.5,
                      what="page over the whole screen")

    def assert_restored(self, before):
        pt.wait_until(lambda: "_NET_WM_STATE_FULLSCREEN" not in pt.wm_state(self.wid),
                      what="fullscreen left")
        pt.wait_until(lambda: pt.geometry(self.wid) == before, what="size and place back")
        pt.wait_until(self.menu_bar_showing, what="menu bar back")
        # The page's own layout is back too: its last resize says so.
        self.assert_page_size("1017x649")

    def assert_page_size(self, size):
        pt.wait_until(lambda: [r for r in self.server.reports("/report")
                               if r.startswith("resize=")][-1:] == ["resize=" + size],
                      what="page at its window size")

    def test_fullscreen_left_by_escape_by_the_page_and_to_the_tray_keeps_everything(self):
        self.server.page("/tv/app.html", FULLSCREEN_PAGE)
        self.server.page("/report", "ok")
        p = self.start()
        self.wid = pt.window(p.proc.pid)
        self.app = pt.application(p.proc.pid)
        # The window settles (skin, frame, menu bar) before the page goes fullscreen.
        self.assert_page_size("1017x649")
        pt.choose(self.app, "窗口", "置顶")
        pt.wait_until(lambda: "_NET_WM_STATE_ABOVE" in pt.wm_state(self.wid), what="on top")
        before = pt.geometry(self.wid)

        # Left by Escape, by the page's own exitFullscreen() (the second time),
        # and minimised to the tray, from which it comes back as a window.
        for leave in ("Escape", "page", "tray"):
            self.go_fullscreen()
            if leave == "Escape":
                pt.run("xdotool", "key", "Escape")
            elif leave == "tray":
                pt.run("xdotool", "windowminimize", str(self.wid))
                pt.wait_until(lambda: not pt.is_viewable(self.wid), what="hidden in the tray")
                pt.click_at(*pt.wait_until(pt.tray_icon, what="tray icon"), repeat=2)
                pt.wait_until(lambda: pt.is_viewable(self.wid), what="back from the tray")
            self.assert_restored(before)
            self.assertIn("_NET_WM_STATE_ABOVE", pt.wm_state(self.wid))


# The demo clip, playing without sound: a page that pauses it after a while
# and plays it again later.
INHIBIT_PAGE = pt.solid_page("#000", """<video id="v" src="/clip.webm" muted autoplay loop
 playsinline></video><script>
var v = document.getElementById("v");
v.addEventListener("playing", function once() {
  v.removeEventListener("playing", once);
  setTimeout(function () { v.pause(); }, 3000);
  setTimeout(function () { v.play(); }, 6000);
});
</script>""")


class ScreenKeptOn(pt.GuiTest):
    def test_screensaver_held_off_while_playing_and_let_go_when_paused_or_hidden(self):
        calls = self.fake_service("screensaver")
        self.server.file("/clip.webm", "tv/clips/ch1.webm", "video/webm")
        self.server.page("/tv/app.html", INHIBIT_PAGE)
        wid = pt.window(self.start().proc.pid)

        # Playing, paused, playing again.
        pt.wait_until(lambda: [c[0] for c in calls[:3]] == ["Inhibit", "UnInhibit", "Inhibit"], 30,
                      what="inhibit, release, inhibit")
        self.assertEqual(calls[1][1], calls[0][1])
        self.assertEqual(calls[0][2], "Pelko")
        # Hidden in the tray: the screen may sleep, though the page plays on.
        pt.wait_until(pt.tray_icon, what="tray icon")
        pt.run("xdotool", "windowminimize", str(wid))
        pt.wait_until(lambda: len(calls) >= 4, 15, what="released when hidden")
        self.assertEqual(calls[3], ["UnInhibit", calls[2][1]])
        # Back on screen, still playing: held off again.
        pt.click_at(*pt.tray_icon(), repeat=2)
        pt.wait_until(lambda: len(calls) >= 5 and calls[4][0] == "Inhibit", 15,
                      what="inhibited again when shown")


if __name__ == "__main__":
    unittest.main(verbosity=2)
