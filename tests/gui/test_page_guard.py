"""What a page, or any frame in it, can reach beyond itself: no file on the
disk however it offers one, no dialog of the engine's own, and no program of
the desktop's unless the viewer clicked."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

ATTACHED = {"Content-Disposition": "attachment; filename=\"offer.bin\""}

# Each way of offering a file. Those that never reach the server are a little
# more than a second apart, so that each is told on stderr (a line a second
# at most); the blob: link twice at once, which is told once.
DOWNLOADS = """
<script>
function link(href) {
  var a = document.createElement("a");
  a.href = href; a.download = "offer.bin";
  document.body.appendChild(a); a.click();
}
function frame(src) { var f = document.createElement("iframe"); f.src = src;
                      document.body.appendChild(f); }
var blob = URL.createObjectURL(new Blob(["blob bytes"], {type: "application/octet-stream"}));
var told = [
  function () { link(blob); link(blob); },
  function () { link("data:application/octet-stream;base64,ZGF0YSBieXRlcw=="); },
  function () { link("/dl/anchor"); },
  function () { frame("/frame-with-link.html"); },
];
var frames = ["/dl/attached-text", "/dl/octets", "/dl/moved"];
// Each stage begins when the test opens its gate: the first once it has seen
// what the start itself wrote, the navigations of the page itself once the
// frames were refused, as a navigation replaces another still being decided.
// A refused navigation of the page stops its loads, a gate's asking too.
function gate(name, then) {
  function again() { setTimeout(gate, 100, name, then); }
  fetch("/" + name).then(function (r) { r.ok ? then() : again(); }, again);
}
gate("go", function () {
  told.forEach(function (step, i) { setTimeout(step, 1100 * i); });
  setTimeout(function () { frames.forEach(frame); }, 1100 * told.length);
  gate("page", function () {
    location.href = "/dl/attached-page";
    gate("moved", function () {
      location.href = "/dl/page-moved";
      setInterval(function () { fetch("/alive"); }, 200);
    });
  });
});
</script>"""

FRAME_WITH_LINK = """<body><script>
var a = document.createElement("a"); a.href = "/dl/from-frame"; a.download = "x";
document.body.appendChild(a); a.click();
</script></body>"""

# Everything a page may try without the viewer, then a report; below it, a
# mail link whose click also starts a loop of mail addresses, and a tel: link.
QUIET = """
<a id=mail href="mailto:viewer@pelko.example" style="display:block;height:50%;background:#0a0"
   onclick="var n = 0, t = setInterval(function () { location.href = 'mailto:more@pelko.example';
            if (++n > 20) clearInterval(t); }, 100)">mail</a>
<a href="tel:+100" style="display:block;height:50%;background:#00a">tel</a>
<input type=file id=file><input type=color id=colour>
<iframe src="mailto:frame@pelko.example" style="display:none"></iframe>
<script>
function report(k, v) { fetch("/report?" + k + "=" + encodeURIComponent(v)); }
window.print();
window.close();
document.getElementById("file").click();
document.getElementById("colour").click();
window.open("mailto:opened@pelko.example");
location.href = "intent://scan/#Intent;scheme=pelko;end";
var loops = 0, loop = setInterval(function () {
  location.href = "mailto:loop@pelko.example";
  if (++loops === 10) { clearInterval(loop); report("done", 1); }
}, 100);
Notification.requestPermission().then(function (p) { report("notify", p); });
navigator.permissions.query({name: "geolocation"}).then(function (s) { report("query", s.state); });
navigator.geolocation.getCurrentPosition(function () { report("geo", "granted"); },
                                         function (e) { report("geo", e.code); });
</script>"""


class PageGuard(pt.GuiTest):
    def setUp(self):
        super().setUp()
        # Every folder a download or its partial file could land in is new.
        self.roots = {k: os.path.join(self.tmp, k.lower()) for k in (
            "HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "TMPDIR")}
        for folder in self.roots.values():
            os.makedirs(folder)
        self.log = os.path.join(self.tmp, "started.log")
        pt.desktop_handlers(self.roots, self.log, {
            "mail": ("x-scheme-handler/mailto", "%u"), "tel": ("x-scheme-handler/tel", "%u"),
            "intent": ("x-scheme-handler/intent", "%u")})

    def open(self, page):
        self.server.page("/tv/app.html", pt.solid_page("#123456", page))
        self.p = self.start(env=self.roots)
        self.pid = self.p.proc.pid
        self.wid = pt.window(self.pid)
        self.app = pt.application(self.pid)

    def files(self):
        found = {os.path.join(top, n) for folder in [*self.roots.values(), self.app_dir]
                 for top, _, names in os.walk(folder) for n in names}
        # The engine's HTTP cache and the media framework's plug-in registry
        # are theirs to write; the fake handler's log is ours.
        caches = tuple(os.path.join(self.roots["XDG_CACHE_HOME"], name) + os.sep
                       for name in ("pelko", "gstreamer-1.0"))
        return {f for f in found if not f.startswith(caches) and f != self.log}

    def starts(self):
        return [l.split("|")[2] for l in pt.read(self.log).splitlines()] \
            if os.path.exists(self.log) else []

    def other_windows(self):
        """Windows of the program's own besides the main one: those of its class."""
        ours = pt.run("xprop", "-id", str(self.wid), "WM_CLASS")
        wids = pt.run("xdotool", "search", "--onlyvisible", "--pid", str(self.pid),
                      "--name", ".").split()
        return [w for w in map(int, wids)
                if w != self.wid and pt.run("xprop", "-id", str(w), "WM_CLASS") == ours]

    def test_no_download_writes_a_byte_and_the_page_stays(self):
        self.server.page("/frame-with-link.html", FRAME_WITH_LINK)
        for path, ctype, headers in (
                ("/dl/anchor", "application/octet-stream", {}),
                ("/dl/from-frame", "application/octet-stream", {}),
                ("/dl/attached-text", "text/plain", ATTACHED),
                ("/dl/attached-page", "text/html", ATTACHED),
                ("/dl/octets", "application/octet-stream", {}),
                ("/dl/moved-here", "application/zip", ATTACHED),
                ("/dl/page-moved-here", "application/zip", {})):
            self.server.page(path, "bytes of a file " * 2000, ctype=ctype, headers=headers)
        for moved in ("/dl/moved", "/dl/page-moved"):
            self.server.page(moved, "", status=302, headers={"Location": moved + "-here"})
        self.open(DOWNLOADS)
        pt.wait_until(lambda: self.server.hits("/go"), 30, what="the page loaded")
        seen = [self.files()]
        pt.wait_until(lambda: seen.append(self.files()) or seen[-1] == seen[-2], 15, 1,
                      what="the start's own files written")
        before = seen[-1]
        self.server.page("/go", "")
        for path, gate in (("/dl/moved-here", "/page"), ("/dl/attached-page", "/moved")):
            pt.wait_until(lambda: self.server.hits(path), 30, what=path)
            self.server.page(gate, "")
        pt.wait_until(lambda: self.server.hits("/alive") >= 3, 30, what="the page still there")
        # Each offer was made: those the engine saves without asking are told,
        # the others were asked for; and not a byte of any was kept.
        self.assertEqual(self.files() - before, set())
        told = [line for line in self.p.output().splitlines() if "refused a download" in line]
        for offer in ("blob:", "data:application/octet-stream", "/dl/anchor", "/dl/from-frame"):
            self.assertEqual(sum(offer in line for line in told), 1, (offer, told))
        for path in ("/dl/attached-text", "/dl/octets", "/dl/moved-here", "/dl/attached-page",
                     "/dl/page-moved-here"):
            self.assertEqual(self.server.hits(path), 1, path)
        # The page that asked is still the one shown, with no question about it.
        self.assertEqual(self.server.hits("/tv/app.html"), 1)
        self.assertFalse(pt.windows_named("提示", self.pid))
        self.assertTrue(self.p.alive())

    def test_no_dialog_and_no_desktop_program_without_a_click(self):
        self.open(QUIET)
        pt.wait_until(lambda: len(self.server.reports("/report")) >= 4, 30, what="page's reports")
        self.assertEqual(sorted(self.server.reports("/report")),
                         ["done=1", "geo=1", "notify=denied", "query=denied"])
        pt.holds(lambda: not self.other_windows() and not pt.dialogs(self.app)
                 and not self.starts(), 1, "without a window, a dialog or a program")
        # The viewer's click opens one mail, however many its page then asks for.
        panel = pt.descendants(self.app, "panel")[0]
        ext = panel.queryComponent().getExtents(pt.pyatspi.DESKTOP_COORDS)
        mail = (ext.x + ext.width // 2, ext.y + ext.height // 4)
        clicked = time.monotonic()
        pt.click_at(*mail)
        pt.wait_until(lambda: self.starts(), what="the mail program")
        # A click on tel: hands nothing to the desktop.
        pt.click_at(ext.x + ext.width // 2, ext.y + 3 * ext.height // 4)
        pt.holds(lambda: self.starts() == ["[mail][mailto:viewer@pelko.example]"],
                 clicked + 5.5 - time.monotonic(), "one mail")
        # Five seconds on, a click opens a mail again.
        pt.click_at(*mail)
        pt.wait_until(lambda: len(self.starts()) == 2, what="the mail program again")
        self.assertEqual(self.other_windows(), [])
        self.assertTrue(pt.windows_named(pt.CAPTION, self.pid))


if __name__ == "__main__":
    unittest.main(verbosity=2)
