"""Skins in the real window: each entry restyles the title bar, the random
hue turns it again, and a missing skin file keeps the look it had."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402


class Skins(pt.GuiTest):
    def test_entries_hue_and_a_missing_file(self):
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        os.remove(os.path.join(self.app_dir, "Skins", "wina.skn"))
        p = self.start()
        wid = pt.window(p.proc.pid)
        app = pt.application(p.proc.pid)
        g = pt.geometry(wid)
        # Left of the caption, right of the caption buttons of any skin.
        title, page = (g["x"] + g["width"] // 4, g["y"] + 6), (g["x"] + g["width"] // 2, g["y"] + 300)
        pt.wait_until(lambda: pt.pixels(page)[0] == (0, 255, 0), what="window painted")
        seen = {"Mac": pt.pixels(title)[0]}
        for entry in ("Green", "Blue", "Studio", "随机换色"):
            pt.choose(app, "换肤", entry)
            seen[entry] = pt.wait_until(lambda: (c := pt.pixels(title)[0]) not in seen.values() and c,
                                        what=lambda: f"a title bar of its own for {entry}: {seen}")
        pt.choose(app, "换肤", "wina")
        box = pt.message_box(app, p.proc.pid, "Pelko", "wina")
        pt.press(box, "确定", click=True)
        pt.wait_until(lambda: not pt.dialogs(app), what="box closed")
        pt.holds(lambda: pt.pixels(title)[0] == seen["随机换色"], 1, "the look it had")
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
