#pragma once

// A stand-in for the main window as the skin screenshots and the benchmark
// need it: a menu bar with the same "换肤" entries wired the same way, and a
// client panel of the main window's design size below it.

#include <gtkmm.h>

#include <string>

#include "controls/form_panel.h"
#include "controls/skin_control.h"
#include "core/uniform_sequence.h"

namespace pelko::skinbench {

class SkinDemoWindow : public Gtk::Window {
  public:
    static constexpr int kClientWidth = 1016;
    static constexpr int kClientHeight = 650;

    // folder is the program folder that holds "Skins".
    SkinDemoWindow(std::string folder, int client_width = kClientWidth,
                   int client_height = kClientHeight);
    SkinDemoWindow(const SkinDemoWindow&) = delete;
    SkinDemoWindow& operator=(const SkinDemoWindow&) = delete;

    // The main window's start-up step and menu handlers, exactly as wired there.
    void ApplyDefaultSkin();
    void LoadAndApply(const std::string& file_name);

    ui::SkinControl Skn;
    Gtk::MenuBar menubar;
    ui::FormPanel panel;
    Gtk::MenuItem wa{"wina"};
    Gtk::MenuItem mp{"MediaPlayer"};
    Gtk::MenuItem gr{"Green"};
    Gtk::MenuItem mac{"Mac"};
    Gtk::MenuItem st{"Studio"};
    Gtk::MenuItem bl{"Blue"};
    Gtk::MenuItem rad{"随机换色"};
    // The "换肤" menu, for the screenshots that show it open.
    Gtk::MenuItem skin_item{"换肤"};
    Gtk::Menu skin_menu;
    int last_hue = -1;

  private:
    void rad_Click();

    std::string folder_;
    skin::UniformSequence Rnd;
    Gtk::Box layout_{Gtk::ORIENTATION_VERTICAL};
    Gtk::MenuItem op_{"选项"};
    Gtk::Menu op_menu_;
    Gtk::MenuItem quit_{"退出"};
    Gtk::MenuItem windo_{"窗口"};
    Gtk::Menu windo_menu_;
    Gtk::CheckMenuItem tp_{"置顶"};
    Gtk::Label page_{"Pelko网络电视"};
};

}  // namespace pelko::skinbench
