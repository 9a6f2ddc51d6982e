#include "controls/skin_title_bar.h"

#include "core/skin_css.h"

namespace pelko::ui {
namespace {

constexpr int kIconSize = 16;

}  // namespace

SkinTitleBar::SkinTitleBar(Gtk::Window& window)
    : Gtk::Box(Gtk::ORIENTATION_HORIZONTAL), window_(window) {
    set_name("skin-titlebar");
    get_style_context()->add_class(skin::kTitleBarClass);
    caption_.get_style_context()->add_class(skin::kCaptionClass);
    caption_.set_ellipsize(Pango::ELLIPSIZE_END);
    caption_.set_single_line_mode(true);
    icon_.get_style_context()->add_class(skin::kIconClass);
    buttons_.set_valign(Gtk::ALIGN_CENTER);
    for (Gtk::Widget* w :
         {static_cast<Gtk::Widget*>(&icon_), static_cast<Gtk::Widget*>(&caption_),
          static_cast<Gtk::Widget*>(&buttons_), static_cast<Gtk::Widget*>(&minimize_),
          static_cast<Gtk::Widget*>(&maximize_), static_cast<Gtk::Widget*>(&close_)}) {
        w->show();
    }

    minimize_.signal_clicked().connect(sigc::mem_fun(*this, &SkinTitleBar::OnMinimize));
    maximize_.signal_clicked().connect(sigc::mem_fun(*this, &SkinTitleBar::OnMaximize));
    close_.signal_clicked().connect(sigc::mem_fun(*this, &SkinTitleBar::OnClose));
    window_.property_title().signal_changed().connect(
        sigc::mem_fun(*this, &SkinTitleBar::OnTitleChanged));
    window_.signal_window_state_event().connect(sigc::mem_fun(*this, &SkinTitleBar::OnWindowState),
                                                false);
    OnTitleChanged();
    Arrange({}, {});
}

void SkinTitleBar::Scope(Gtk::Widget& widget, const std::string& scope) {
    auto style = widget.get_style_context();
    if (!scope_.empty()) style->remove_class(scope_);
    if (!scope.empty()) style->add_class(scope);
}

void SkinTitleBar::Arrange(const Arrangement& a, const std::string& scope) {
    for (Gtk::Widget* w :
         {static_cast<Gtk::Widget*>(this), static_cast<Gtk::Widget*>(&icon_),
          static_cast<Gtk::Widget*>(&caption_), static_cast<Gtk::Widget*>(&minimize_),
          static_cast<Gtk::Widget*>(&maximize_), static_cast<Gtk::Widget*>(&close_)}) {
        Scope(*w, scope);
    }
    scope_ = scope;

    // Start again from an empty bar: the widgets are members, so taking them
    // out of their boxes only unparents them.
    unset_center_widget();
    for (Gtk::Widget* child : get_children()) remove(*child);
    for (Gtk::Widget* child : buttons_.get_children()) buttons_.remove(*child);

    buttons_.set_spacing(a.button_spacing);
    if (a.buttons_left) {
        // Buttons on the left come in the order close, minimise, maximise.
        for (CaptionButton* b : {&close_, &minimize_, &maximize_})
            buttons_.pack_start(*b, false, false);
    } else {
        for (CaptionButton* b : {&minimize_, &maximize_, &close_})
            buttons_.pack_start(*b, false, false);
    }

    const auto icon = window_.get_icon();
    const bool show_icon = a.show_icon && icon;
    if (show_icon) {
        icon_.set(icon->get_width() == kIconSize && icon->get_height() == kIconSize
                      ? icon
                      : icon->scale_simple(kIconSize, kIconSize, Gdk::INTERP_BILINEAR));
    }
    caption_.set_xalign(a.caption_centered ? 0.5f : 0.0f);

    if (a.buttons_left) pack_start(buttons_, false, false);
    if (show_icon) pack_start(icon_, false, false);
    if (a.caption_centered) {
        set_center_widget(caption_);
    } else {
        pack_start(caption_, true, true);
    }
    if (!a.buttons_left) pack_end(buttons_, false, false);
}

void SkinTitleBar::OnTitleChanged() { caption_.set_text(window_.get_title()); }

bool SkinTitleBar::OnWindowState(GdkEventWindowState* event) {
    maximize_.SetMaximized((event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0);
    return false;
}

void SkinTitleBar::OnMinimize() { window_.iconify(); }

void SkinTitleBar::OnMaximize() {
    const auto gdk = window_.get_window();
    if (gdk && (gdk->get_state() & Gdk::WINDOW_STATE_MAXIMIZED)) {
        window_.unmaximize();
    } else {
        window_.maximize();
    }
}

void SkinTitleBar::OnClose() {
    // The same request as the window manager's close button: a delete event
    // that the window's own handler receives and may act on.
    window_.close();
}

}  // namespace pelko::ui
