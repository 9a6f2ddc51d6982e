#pragma once

// Which windowing system the programs run on. Both prefer X11 where there is
// one (a Wayland desktop with XWayland included): keeping a window on top,
// the XEmbed tray and noticing a minimise only work there.

#include <gtkmm.h>

namespace pelko::ui {

// X11 first, Wayland second, for this process and every process it starts.
// Call first thing in main, before GTK opens its display and before any
// thread runs. A GDK_BACKEND the user set is kept.
void PreferX11();

// Whether the display is a Wayland one, where a program cannot keep its
// window above others or learn that it was minimised.
bool IsWayland(const Glib::RefPtr<Gdk::Display>& display);

}  // namespace pelko::ui
