#!/usr/bin/python3
"""Renders Pelko's icon from pelko.svg into the PNG sizes the programs and the
desktop's icon theme use, with gdk-pixbuf.

Run it after changing the SVG: ./render.py (needs python3-gi and gdk-pixbuf's
SVG loader).
"""
import os

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))

for size in (16, 32, 48, 128, 256):
    picture = GdkPixbuf.Pixbuf.new_from_file_at_size(os.path.join(here, "pelko.svg"), size, size)
    picture.savev(os.path.join(here, f"pelko-{size}.png"), "png", [], [])
