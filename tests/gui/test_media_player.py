"""The desktop's media controls, as playerctl speaks them: one Pelko player
that tells what the page plays, steers it, and raises or closes the window."""

import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

# A page without a Media Session of its own, whose video goes when paused.
PLAIN_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><title>节目单</title></head>
<body style="margin:0"><video id="v" src="/clip.webm" muted autoplay loop></video><script>
var v = document.getElementById("v");
v.addEventListener("pause", function () {
  setTimeout(function () { v.removeAttribute("src"); v.load(); }, 0);
});
</script></body></html>"""


def playerctl(*args):
    return subprocess.run(["playerctl", "-p", "Pelko", *args], capture_output=True, text=True,
                          timeout=10).stdout.strip()


def players():
    """Every media player on the bus, by its name less "org.mpris.MediaPlayer2."."""
    return sorted(pt.run("playerctl", "--list-all").split())


def mpris(method, *args):
    """A call to Pelko's player, as gdbus prints its answer."""
    return pt.run("gdbus", "call", "--session", "--dest", "org.mpris.MediaPlayer2.Pelko",
                  "--object-path", "/org/mpris/MediaPlayer2", "--method", method, *args).strip()


def get(interface, prop):
    return mpris("org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2" + interface, prop)


class MediaPlayer(pt.GuiTest):
    def test_one_player_that_tells_steers_and_goes_with_the_media(self):
        service = pt.DemoService()
        self.addCleanup(service.close)
        p = self.start(host=service.host)
        wid = pt.window(p.proc.pid)
        # Only Pelko's own player: the engine's is kept off the bus.
        pt.wait_until(lambda: players() == ["Pelko"], 30, what="one player on the bus")
        pt.wait_until(lambda: playerctl("status") == "Playing", 30, what="Playing")
        # The page names what plays through its Media Session; no artwork of
        # its own, so Pelko's icon.
        self.assertEqual(playerctl("metadata", "title"), "测试频道四")
        art = playerctl("metadata", "mpris:artUrl")
        self.assertTrue(art.startswith("file://") and art.endswith("/pelko.png"), art)
        self.assertTrue(os.path.exists(art[len("file://"):]))
        # The page's own channels: it can go on (not so a plain page, below).
        self.assertEqual(get(".Player", "CanGoNext"), "(<true>,)")

        # Play-pause pauses the page's video and plays it again; each change is announced.
        follower = subprocess.Popen(["playerctl", "-p", "Pelko", "--follow", "status"],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(pt.end, follower)
        said = []
        threading.Thread(target=lambda: [said.append(l.strip()) for l in follower.stdout],
                         daemon=True).start()
        pt.wait_until(lambda: said[-1:] == ["Playing"], what="the follower's start")
        playerctl("play-pause")
        pt.wait_until(lambda: said[-1:] == ["Paused"], 3, what="Paused announced")
        beats = len(service.heartbeats())
        playerctl("play-pause")
        pt.wait_until(lambda: said[-1:] == ["Playing"], 3, what="Playing announced")
        pt.wait_until(lambda: len(service.heartbeats()) > beats,
                      what="the video moving again")
        # Next and previous are the page's own channel up and down.
        playerctl("next")
        pt.wait_until(lambda: playerctl("metadata", "title") == "测试频道五", what="next channel")
        playerctl("previous")
        pt.wait_until(lambda: playerctl("metadata", "title") == "测试频道四", what="back")
        pt.wait_until(lambda: playerctl("status") == "Playing", 30, what="playing after the switch")
        self.assertEqual(players(), ["Pelko"])

        # Raise brings the window back from the tray; Quit closes as the menu's 退出.
        pt.wait_until(pt.tray_icon, what="tray icon")
        pt.run("xdotool", "windowminimize", str(wid))
        pt.wait_until(lambda: not pt.is_viewable(wid), what="hidden to the tray")
        mpris("org.mpris.MediaPlayer2.Raise")
        pt.wait_until(lambda: pt.is_viewable(wid), what="window back")
        mpris("org.mpris.MediaPlayer2.Quit")
        self.assertEqual(p.proc.wait(15), 0)
        self.assertEqual(players(), [])

        # A page without a Media Session of its own is named by its title,
        # and its player goes with its media.
        self.server.file("/clip.webm", "tv/clips/ch1.webm", "video/webm")
        self.server.page("/tv/app.html", PLAIN_PAGE)
        p = self.start()
        pt.wait_until(lambda: playerctl("status") == "Playing", 30, what="Playing")
        self.assertEqual(playerctl("metadata", "title"), "节目单")
        self.assertEqual(get(".Player", "CanGoNext"), "(<false>,)")
        # Paused, the page drops its video: no media, no player.
        playerctl("pause")
        pt.wait_until(lambda: players() == [], what="the player gone with the media")
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
