#pragma once

// The title bar the skin control gives a window (client-side decoration): the
// window's icon and caption and the minimise, maximise and close buttons. The
// buttons do what the window manager's would; close goes through the
// window's delete event, so the window's own close handler runs.

#include <gtkmm.h>

#include <string>

#include "controls/caption_button.h"

namespace pelko::ui {

class SkinTitleBar : public Gtk::Box {
  public:
    // Where the skin puts things; everything else about the look is CSS.
    struct Arrangement {
        bool buttons_left = false;
        bool caption_centered = false;
        bool show_icon = false;
        int button_spacing = 2;
    };

    explicit SkinTitleBar(Gtk::Window& window);
    SkinTitleBar(const SkinTitleBar&) = delete;
    SkinTitleBar& operator=(const SkinTitleBar&) = delete;

    // Lays the bar out for a skin and lets its widgets wear the scope class.
    void Arrange(const Arrangement& arrangement, const std::string& scope);

    const Gtk::Label& Caption() const { return caption_; }
    CaptionButton& MinimizeButton() { return minimize_; }
    CaptionButton& MaximizeButton() { return maximize_; }
    CaptionButton& CloseButton() { return close_; }

  private:
    void OnTitleChanged();
    bool OnWindowState(GdkEventWindowState* event);
    void OnMinimize();
    void OnMaximize();
    void OnClose();
    void Scope(Gtk::Widget& widget, const std::string& scope);

    Gtk::Window& window_;
    Gtk::Image icon_;
    Gtk::Label caption_;
    Gtk::Box buttons_{Gtk::ORIENTATION_HORIZONTAL};
    CaptionButton minimize_{CaptionButton::Role::Minimize};
    CaptionButton maximize_{CaptionButton::Role::Maximize};
    CaptionButton close_{CaptionButton::Role::Close};
    std::string scope_;
};

}  // namespace pelko::ui
