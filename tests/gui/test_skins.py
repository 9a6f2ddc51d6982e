"""Skins in the real window: each entry restyles the title bar, the random
hue turns it again, and a missing skin file keeps the look it had."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pelkotest as pt  # noqa: E402


class Skins(pt.GuiTest):
    def title_colour(self, wid):
        g = pt.geometry(wid)
        shot = os.path.join(self.tmp, "skin.png")
        time.sleep(0.5)
        pt.screenshot(shot)
        # Left of the caption, right of the caption buttons of any skin.
        return pt.pixel(shot, g["x"] + g["width"] // 4, g["y"] + 6)

    def test_entries_hue_and_a_missing_file(self):
        self.server.page("/tv/app.html", pt.solid_page("#00ff00"))
        os.remove(os.path.join(self.app_dir, "Skins", "wina.skn"))
        p = self.start()
        wid = pt.main_window(p.proc.pid)
        app = pt.application(p.proc.pid)
        seen = {"Mac": self.title_colour(wid)}
        for entry in ("Green", "Blue", "Studio"):
            pt.choose(wid, app, "换肤", entry)
            seen[entry] = self.title_colour(wid)
        self.assertEqual(len(set(seen.values())), len(seen), seen)
        pt.choose(wid, app, "换肤", "随机换色")
        turned = self.title_colour(wid)
        self.assertNotEqual(turned, seen["Studio"])
        pt.choose(wid, app, "换肤", "wina")
        box = pt.message_box(app, p.proc.pid, "Pelko")
        self.assertTrue(any("wina" in t for t in pt.texts(box)), pt.texts(box))
        pt.answer(box, "确定")
        pt.wait_until(lambda: not pt.dialogs(app), what="box closed")
        self.assertEqual(self.title_colour(wid), turned)
        self.assertTrue(p.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
