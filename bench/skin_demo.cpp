// Shows the skinned demo window for things a person looks at rather than a test
// asserts:
//   skin_demo geometry FOLDER       prints the X geometry in every skin
//   skin_demo shots FOLDER OUTDIR   writes a screenshot of each skin
//   skin_demo bench FOLDER RUNS     prints one timing line per operation
// FOLDER is a program folder holding "Skins".

#include <gtkmm.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench/skin_demo_window.h"
#include "controls/skin_title_bar.h"
#include "tests/skin/skin_test_support.h"

// After the gtkmm headers: Xlib's macros clash with glibmm's names.
#include <gdk/gdkx.h>

using pelko::skinbench::SkinDemoWindow;
using pelko::skintest::WaitForPaint;
using pelko::skintest::WaitUntil;

namespace {

const std::vector<std::pair<const char*, const char*>> kSkins = {
    {"wina", "/Skins/wina.skn"},     {"MediaPlayer", "/Skins/MediaPlayer9.Skn"},
    {"Green", "/Skins/green.skn"},   {"Mac", "/Skins/mac.Skn"},
    {"Studio", "/Skins/Studio.skn"}, {"Blue", "/Skins/Blue.skn"}};

void PrintGeometry(SkinDemoWindow& w, const char* name) {
    auto gdk = w.get_window();
    int x = 0, y = 0;
    gdk->get_origin(x, y);
    auto* bar = dynamic_cast<pelko::ui::SkinTitleBar*>(w.get_titlebar());
    int content_w = 0, content_h = 0;
    w.get_size(content_w, content_h);
    std::printf(
        "%-12s X window %dx%d at %d,%d; content %dx%d; title bar %dx%d at %d,%d; "
        "menu bar %dx%d; client area %dx%d\n",
        name, gdk->get_width(), gdk->get_height(), x, y, content_w, content_h,
        bar ? bar->get_allocated_width() : 0, bar ? bar->get_allocated_height() : 0,
        bar ? bar->get_allocation().get_x() : 0, bar ? bar->get_allocation().get_y() : 0,
        w.menubar.get_allocated_width(), w.menubar.get_allocated_height(),
        w.panel.get_allocated_width(), w.panel.get_allocated_height());
}

bool Settled(SkinDemoWindow& w) {
    return w.panel.get_allocated_width() == SkinDemoWindow::kClientWidth &&
           w.panel.get_allocated_height() == SkinDemoWindow::kClientHeight;
}

int Geometry(const std::string& folder) {
    SkinDemoWindow w(folder);
    int minimum = 0, theme = 0, skinned = 0;
    w.menubar.get_preferred_height(minimum, theme);
    w.ApplyDefaultSkin();
    w.menubar.get_preferred_height(minimum, skinned);
    std::printf("menu bar height: %d px with the theme alone, %d px skinned\n", theme, skinned);
    w.show();
    WaitUntil([&] { return w.get_mapped() && Settled(w); });
    WaitForPaint(w);
    PrintGeometry(w, "default");
    for (const auto& [name, file] : kSkins) {
        w.LoadAndApply(file);
        WaitForPaint(w);
        WaitUntil([&] { return Settled(w); }, 2000);
        WaitForPaint(w);
        PrintGeometry(w, name);
    }
    return 0;
}

// Root coordinates of a widget's centre.
void Centre(Gtk::Widget& widget, int& x, int& y) {
    pelko::skintest::RootPoint(widget, widget.get_allocated_width() / 2,
                               widget.get_allocated_height() / 2, x, y);
}

// Writes the X window of a toplevel to a PNG file, scaled to the given width.
void Screenshot(Gtk::Window& window, const std::string& png, int width) {
    const auto xid = gdk_x11_window_get_xid(window.get_window()->gobj());
    pelko::skintest::Run({"import", "-silent", "-window", std::to_string(xid), "-resize",
                          std::to_string(width), png});
}

// Each skin with its "换肤" menu open and one entry under the mouse, so the
// picture shows the frame, the title bar, the menu bar and a menu.
int Shots(const std::string& folder, const std::string& out) {
    SkinDemoWindow w(folder, 480, 230);
    w.ApplyDefaultSkin();
    w.show();
    WaitUntil([&] { return w.get_mapped(); });
    for (const auto& [name, file] : kSkins) {
        w.LoadAndApply(file);
        WaitForPaint(w);
        WaitUntil([&] { return w.panel.get_allocated_height() == 230; }, 2000);
        int x = 0, y = 0;
        Centre(w.skin_item, x, y);
        pelko::skintest::Xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
        WaitUntil([&] { return w.skin_menu.get_mapped() && w.gr.get_allocated_height() > 1; });
        Centre(w.gr, x, y);
        pelko::skintest::Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
        WaitUntil([&] { return (w.gr.get_state_flags() & Gtk::STATE_FLAG_PRELIGHT) != 0; });
        WaitForPaint(w);
        if (auto menu_window = w.skin_menu.get_toplevel(); menu_window->get_window()) {
            WaitForPaint(*static_cast<Gtk::Window*>(menu_window));
        }
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(c));
        const std::string png = out + "/" + lower + ".png";
        auto gdk = w.get_window();
        int ox = 0, oy = 0;
        gdk->get_origin(ox, oy);
        pelko::skintest::Run({"import", "-silent", "-window", "root", "-crop",
                              std::to_string(gdk->get_width()) + "x" +
                                  std::to_string(gdk->get_height()) + "+" + std::to_string(ox) +
                                  "+" + std::to_string(oy),
                              "+repage", "-resize", "400", "-depth", "8", png});
        std::printf("%s\n", png.c_str());
        pelko::skintest::Xdotool({"key", "Escape"});
        WaitUntil([&] { return !w.skin_menu.get_mapped(); });
    }
    // The start-up skin after the first random colour change of a run.
    w.LoadAndApply("/Skins/mac.skn");
    w.rad.activate();
    WaitForPaint(w);
    const std::string png = out + "/mac-hue-" + std::to_string(w.last_hue) + ".png";
    Screenshot(w, png, 400);
    std::printf("%s\n", png.c_str());
    return 0;
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Each line: operation, the time of the call itself, and the time until the
// window has painted the result, in milliseconds.
int Bench(const std::string& folder, int runs) {
    using Clock = std::chrono::steady_clock;
    SkinDemoWindow w(folder);
    w.ApplyDefaultSkin();
    w.show();
    WaitUntil([&] { return w.get_mapped() && Settled(w); });
    WaitForPaint(w);
    for (int i = 0; i < runs; ++i) {
        for (const auto& [name, file] : kSkins) {
            const auto t0 = Clock::now();
            w.LoadAndApply(file);
            const auto t1 = Clock::now();
            WaitForPaint(w);
            const auto t2 = Clock::now();
            std::printf("apply %s %.3f %.3f\n", name, Ms(t1 - t0), Ms(t2 - t0));
            WaitUntil([&] { return Settled(w); }, 2000);
        }
        for (int k = 0; k < 6; ++k) {
            const auto t0 = Clock::now();
            w.rad.activate();
            const auto t1 = Clock::now();
            WaitForPaint(w);
            const auto t2 = Clock::now();
            std::printf("hue %d %.3f %.3f\n", w.last_hue, Ms(t1 - t0), Ms(t2 - t0));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: skin_demo geometry|shots|bench FOLDER [OUTDIR|RUNS]\n");
        return 2;
    }
    auto app = Gtk::Application::create("org.pelko.SkinDemo", Gio::APPLICATION_NON_UNIQUE);
    app->register_application();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "skin_demo: no display\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    if (mode == "geometry") return Geometry(folder);
    if (mode == "shots" && argc > 3) return Shots(folder, argv[3]);
    if (mode == "bench" && argc > 3) return Bench(folder, std::atoi(argv[3]));
    std::fprintf(stderr, "skin_demo: unknown mode %s\n", mode.c_str());
    return 2;
}
