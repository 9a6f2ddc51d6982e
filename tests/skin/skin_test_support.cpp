#include "tests/skin/skin_test_support.h"

#include <stdexcept>

#include "tests/support/main_loop.h"

namespace pelko::skintest {

bool WaitUntil(const std::function<bool()>& condition, int timeout_ms) {
    return test::Spin(condition, timeout_ms) || condition();
}

bool WaitForPaint(Gtk::Window& window, int timeout_ms) {
    auto gdk = window.get_window();
    if (!gdk) return false;
    bool painted = false;
    GdkFrameClock* clock = gdk_window_get_frame_clock(gdk->gobj());
    const gulong id = g_signal_connect_swapped(
        clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &painted);
    window.queue_draw();
    const bool ok = WaitUntil([&painted] { return painted; }, timeout_ms);
    g_signal_handler_disconnect(clock, id);
    gdk_display_sync(gdk->get_display()->gobj());
    return ok;
}

void RootPoint(Gtk::Widget& widget, int x, int y, int& root_x, int& root_y) {
    Gtk::Widget* top = widget.get_toplevel();
    int tx = 0, ty = 0, ox = 0, oy = 0;
    widget.translate_coordinates(*top, x, y, tx, ty);
    top->get_window()->get_origin(ox, oy);
    root_x = ox + tx;
    root_y = oy + ty;
}

std::string Run(const std::vector<std::string>& argv) {
    std::string out, err;
    int status = 0;
    Glib::spawn_sync("", argv, Glib::SPAWN_SEARCH_PATH, {}, &out, &err, &status);
    if (!g_spawn_check_wait_status(status, nullptr)) {
        throw std::runtime_error(argv.front() + " failed: " + err);
    }
    return out;
}

void Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    Run(argv);
}

skin::Rgb SampleScreen(Gtk::Widget& widget, int x, int y) {
    int root_x = 0, root_y = 0;
    RootPoint(widget, x, y, root_x, root_y);
    const auto pixel =
        Gdk::Pixbuf::create(Gdk::Window::get_default_root_window(), root_x, root_y, 1, 1);
    const guint8* p = pixel->get_pixels();
    return {p[0], p[1], p[2]};
}

}  // namespace pelko::skintest
