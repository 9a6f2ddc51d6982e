#include "controls/display_backend.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace pelko::ui {

void PreferX11() {
    // The order goes into the environment rather than to
    // gdk_set_allowed_backends(), which only this process would hear: the
    // page's process opens a display of its own and has to pick the one this
    // process picked, or it ends up on Wayland beside a window on X11.
    const char* chosen = g_getenv("GDK_BACKEND");
    if (chosen == nullptr || *chosen == '\0') g_setenv("GDK_BACKEND", "x11,wayland", TRUE);
}

bool IsWayland(const Glib::RefPtr<Gdk::Display>& display) {
#ifdef GDK_WINDOWING_WAYLAND
    return display && GDK_IS_WAYLAND_DISPLAY(display->gobj());
#else
    return false;
#endif
}

}  // namespace pelko::ui
