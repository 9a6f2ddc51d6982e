#include "tests/skin/skin_test_support.h"

// After the gtkmm headers: Xlib's macros clash with glibmm's names.
#include <gdk/gdkx.h>

#include <cstdlib>
#include <stdexcept>

namespace pelko::skintest {

bool WaitUntil(const std::function<bool()>& condition, int timeout_ms) {
    bool timed_out = false;
    auto timer = Glib::signal_timeout().connect(
        [&timed_out] {
            timed_out = true;
            return false;
        },
        timeout_ms);
    auto context = Glib::MainContext::get_default();
    while (!condition() && !timed_out) context->iteration(true);
    timer.disconnect();
    return condition();
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
    int tx = 0;
    int ty = 0;
    widget.translate_coordinates(*top, x, y, tx, ty);
    int ox = 0;
    int oy = 0;
    top->get_window()->get_origin(ox, oy);
    root_x = ox + tx;
    root_y = oy + ty;
}

std::string Run(const std::vector<std::string>& argv) {
    std::string out;
    std::string err;
    int status = 0;
    Glib::spawn_sync("", argv, Glib::SPAWN_SEARCH_PATH, {}, &out, &err, &status);
    if (!g_spawn_check_wait_status(status, nullptr)) {
        throw std::runtime_error(argv.front() + " failed: " + err);
    }
    return out;
}

std::string SampleScreen(int root_x, int root_y) {
    const std::string png = Glib::build_filename(
        Glib::get_tmp_dir(), "pelko-skin-sample-" + std::to_string(::getpid()) + ".png");
    Run({"import", "-silent", "-window", "root", png});
    const std::string at = "p{" + std::to_string(root_x) + "," + std::to_string(root_y) + "}";
    std::string hex = Run({"convert", png, "-format", "%[hex:" + at + "]", "info:-"});
    std::remove(png.c_str());
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == ' ')) hex.pop_back();
    // A 16-bit build of ImageMagick writes four digits per channel.
    if (hex.size() >= 12) hex = hex.substr(0, 2) + hex.substr(4, 2) + hex.substr(8, 2);
    return hex.substr(0, 6);
}

void Screenshot(Gtk::Window& window, const std::string& png, int width) {
    const auto xid = gdk_x11_window_get_xid(window.get_window()->gobj());
    Run({"import", "-silent", "-window", std::to_string(xid), "-resize", std::to_string(width),
         png});
}

}  // namespace pelko::skintest
