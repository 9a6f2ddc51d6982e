"""The desktop's media controls, as playerctl speaks them: one Pelko player
that tells what the page plays, steers it, and raises or closes the window."""

import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402

ROOT = "/org/mpris/MediaPlayer2"

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
    out = pt.run("dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames")
    return sorted(l.split('"')[1] for l in out.splitlines() if "org.mpris.MediaPlayer2" in l)


def get(interface, prop):
    out = pt.run("gdbus", "call", "--session", "--dest", "org.mpris.MediaPlayer2.Pelko",
                 "--object-path", ROOT, "--method", "org.freedesktop.DBus.Properties.Get",
                 interface, prop)
    return out.strip()


def call(method):
    pt.run("gdbus", "call", "--session", "--dest", "org.mpris.MediaPlayer2.Pelko",
           "--object-path", ROOT, "--method", method)


class MediaPlayer(pt.GuiTest):
    def follow_status(self):
        """Every PlaybackStatus the player announces, as it announces it."""
        follower = subprocess.Popen(["playerctl", "-p", "Pelko", "--follow", "status"],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(follower.wait)
        self.addCleanup(follower.kill)
        said = []
        threading.Thread(target=lambda: [said.append(l.strip()) for l in follower.stdout],
                         daemon=True).start()
        return said

    def test_the_tv_channel_is_one_player_that_tells_and_steers(self):
        service = pt.DemoService()
        self.addCleanup(service.close)
        p = self.start(host=service.host)
        wid = pt.window(p.proc.pid)
        # Only Pelko's own player: the engine's is kept off the bus.
        pt.wait_until(lambda: players() == ["org.mpris.MediaPlayer2.Pelko"], 30,
                      what="one player on the bus")
        pt.wait_until(lambda: playerctl("status") == "Playing", 30, what="Playing")
        # The page names what plays through its Media Session; no artwork of
        # its own, so Pelko's icon.
        self.assertEqual(playerctl("metadata", "title"), "测试频道四")
        art = playerctl("metadata", "mpris:artUrl")
        self.assertTrue(art.startswith("file://") and art.endswith("/pelko.png"), art)
        self.assertTrue(os.path.exists(art[len("file://"):]))
        root, player = "org.mpris.MediaPlayer2", "org.mpris.MediaPlayer2.Player"
        self.assertEqual(get(root, "DesktopEntry"), "(<'net.pelko.Pelko'>,)")
        self.assertEqual(get(root, "Identity"), "(<'Pelko'>,)")
        for prop in ("CanRaise", "CanQuit"):
            self.assertEqual(get(root, prop), "(<true>,)", prop)
        for prop in ("CanGoNext", "CanGoPrevious"):
            self.assertEqual(get(player, prop), "(<true>,)", prop)

        # Play-pause pauses the page's video and plays it again; each change is announced.
        said = self.follow_status()
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
        self.assertEqual(players(), ["org.mpris.MediaPlayer2.Pelko"])

        # Raise brings the window back from the tray; Quit closes as the menu's 退出.
        pt.wait_until(pt.tray_icon, what="tray icon")
        pt.run("xdotool", "windowminimize", str(wid))
        pt.wait_until(lambda: not pt.is_viewable(wid), what="hidden to the tray")
        call("org.mpris.MediaPlayer2.Raise")
        pt.wait_until(lambda: pt.is_viewable(wid), what="window back")
        call("org.mpris.MediaPlayer2.Quit")
        self.assertEqual(p.proc.wait(15), 0)
        self.assertEqual(players(), [])

    def test_a_page_without_a_session_is_named_by_its_title_and_goes_with_its_media(self):
        self.server.file("/clip.webm", "tv/clips/ch1.webm", "video/webm")
        self.server.page("/tv/app.html", PLAIN_PAGE)
        p = self.start()
        pt.wait_until(lambda: playerctl("status") == "Playing", 30, what="Playing")
        self.assertEqual(playerctl("metadata", "title"), "节目单")
        self.assertEqual(get("org.mpris.MediaPlayer2.Player", "CanGoNext"), "(<false>,)")
        # Paused, the page drops its video: no media, no player.
        playerctl("pause")
        pt.wait_until(lambda: players() == [], what="the player gone with the media")
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
