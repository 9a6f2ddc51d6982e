#include "bench/skin_demo_window.h"

#include "controls/msgbox.h"
#include "core/layout.h"
#include "core/skin_color.h"

namespace pelko::skinbench {

SkinDemoWindow::SkinDemoWindow(std::string folder, int client_width, int client_height)
    : panel(client_width, client_height), folder_(std::move(folder)) {
    set_title("Pelko网络电视");
    set_name("SkinDemoWindow");

    auto top = [this](Gtk::MenuItem& item, Gtk::Menu& menu) {
        item.set_submenu(menu);
        menubar.append(item);
    };
    top(op_, op_menu_);
    op_menu_.append(quit_);
    top(skin_item, skin_menu);
    for (Gtk::MenuItem* item : {&wa, &mp, &gr, &mac, &st, &bl, &rad}) skin_menu.append(*item);
    top(windo_, windo_menu_);
    windo_menu_.append(tp_);

    auto entry = [this](Gtk::MenuItem& item, const char* file) {
        item.signal_activate().connect(ui::Guarded(this, [this, file] { LoadAndApply(file); }));
    };
    entry(wa, "/Skins/wina.skn");
    entry(mp, "/Skins/MediaPlayer9.Skn");
    entry(gr, "/Skins/green.skn");
    entry(mac, "/Skins/mac.Skn");
    entry(st, "/Skins/Studio.skn");
    entry(bl, "/Skins/Blue.skn");
    rad.signal_activate().connect(ui::Guarded(this, [this] { rad_Click(); }));

    const double tw = layout::kTwipsPerPixel;
    panel.Place(page_, {0, 0, client_width * tw, client_height * tw});
    layout_.pack_start(menubar, Gtk::PACK_SHRINK);
    layout_.pack_start(panel, Gtk::PACK_EXPAND_WIDGET);
    add(layout_);
    show_all_children();

    int minimum = 0;
    int natural = 0;
    menubar.get_preferred_height(minimum, natural);
    set_default_size(client_width, client_height + natural);
}

void SkinDemoWindow::ApplyDefaultSkin() {
    LoadAndApply("/Skins/mac.skn");
    // The skin sets the menu bar's height: the client area below it keeps
    // its design size.
    int minimum = 0;
    int natural = 0;
    menubar.get_preferred_height(minimum, natural);
    set_default_size(panel.InnerWidth() / layout::kTwipsPerPixel,
                     panel.InnerHeight() / layout::kTwipsPerPixel + natural);
}

void SkinDemoWindow::LoadAndApply(const std::string& file_name) {
    Skn.LoadSkinFile(folder_ + file_name);
    Skn.ApplySkin(*this);
}

void SkinDemoWindow::rad_Click() {
    const float r = Rnd.Next();
    const auto scheme = Skn.GetColorScheme();
    last_hue = skin::HueFromUniform(r);
    scheme->SetHue(last_hue);
}

}  // namespace pelko::skinbench
