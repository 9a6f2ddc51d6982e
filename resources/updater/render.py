#!/usr/bin/python3
"""Renders the updater's pictures from their SVG sources with gdk-pixbuf.

Run it after changing an SVG: ./render.py (needs python3-gi and gdk-pixbuf's
SVG loader). The banner becomes a JPEG of 114 x 228, the icon a 256-colour PNG
of 32 x 32 (ImageMagick reduces the palette).
"""
import os
import subprocess

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))


def render(svg, width, height):
    return GdkPixbuf.Pixbuf.new_from_file_at_size(os.path.join(here, svg), width, height)


banner = render("banner.svg", 114, 228)
banner.savev(os.path.join(here, "banner.jpg"), "jpeg", ["quality"], ["92"])

icon_rgba = os.path.join(here, "pelkoupdate-32-rgba.png")
render("pelkoupdate.svg", 32, 32).savev(icon_rgba, "png", [], [])
subprocess.run(["convert", icon_rgba, "-colors", "256",
                "PNG8:" + os.path.join(here, "pelkoupdate-32.png")], check=True)
os.remove(icon_rgba)
