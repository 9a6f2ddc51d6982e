#include "main/CTray.h"

#include <cstring>

namespace pelko {

std::shared_ptr<CTray> CTray::Create() { return std::shared_ptr<CTray>(new CTray()); }

CTray::CTray() {
    item_.Activated().connect(sigc::mem_fun(*this, &CTray::Item_Activate));
    item_.ContextMenuRequested().connect(sigc::mem_fun(*this, &CTray::Item_ContextMenu));
    // The contract has no middle button: a secondary activation raises nothing.
    item_.Changed().connect(sigc::mem_fun(*this, &CTray::Choose));
    // Only an X11 display has XEmbed trays; elsewhere (Wayland) the notifier
    // item is the only way to the tray.
    // (Told by its type's name: the X11 header's macros clash with ours.)
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkX11Display") != 0) {
        return;
    }
    // GtkStatusIcon is the XEmbed tray icon; deprecated in favour of nothing
    // that offers per-button press, release and double-click.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    icon_ = Glib::wrap(gtk_status_icon_new(), false);
    gtk_status_icon_set_visible(icon_->gobj(), FALSE);
    gtk_status_icon_set_name(icon_->gobj(), "pelko-tray");
    G_GNUC_END_IGNORE_DEPRECATIONS
    icon_->signal_button_press_event().connect(sigc::mem_fun(*this, &CTray::ButtonPressed));
    icon_->signal_button_release_event().connect(sigc::mem_fun(*this, &CTray::ButtonReleased));
    icon_->property_embedded().signal_changed().connect([this] { tray_changed_.emit(); });
}

CTray::~CTray() {
    DeleteIcon();
    Release();
}

void CTray::Release() {
    pic_changed_.disconnect();
    if (pic_ != nullptr) pic_->remove_destroy_notify_callback(this);
    pic_ = nullptr;
}

void CTray::PicBox(Gtk::Image& box) {
    Release();
    pic_ = &box;
    own_picture_ = true;
    pic_changed_ = box.property_pixbuf().signal_changed().connect(
        sigc::mem_fun(*this, &CTray::PictureChanged));
    // The holder belongs to the window; should it go first, stop reading it.
    box.add_destroy_notify_callback(this, [](void* self) -> void* {
        static_cast<CTray*>(self)->pic_ = nullptr;
        return nullptr;
    });
    SendIcon();
}

std::string CTray::TipText() const { return tip_.Get(); }

void CTray::TipText(const std::string& text) {
    tip_.Set(text);
    item_.SetText(tip_.ForShell());
    if (!icon_) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_status_icon_set_tooltip_text(icon_->gobj(), tip_.ForShell().c_str());
    gtk_status_icon_set_title(icon_->gobj(), tip_.ForShell().c_str());
    G_GNUC_END_IGNORE_DEPRECATIONS
}

bool CTray::ShowIcon() {
    if (pic_ == nullptr) return false;
    SendIcon();
    if (icon_) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_status_icon_set_tooltip_text(icon_->gobj(), tip_.ForShell().c_str());
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    shown_ = true;
    item_.Show();
    Choose();
    return true;
}

void CTray::DeleteIcon() {
    shown_ = false;
    item_.Hide();
    Choose();
}

void CTray::Choose() {
    // A desktop that has both shows the icon once, through its notifier host.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const bool classic = shown_ && !item_.Active();
    if (icon_ && gtk_status_icon_get_visible(icon_->gobj()) != classic) {
        gtk_status_icon_set_visible(icon_->gobj(), classic);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    tray_changed_.emit();
}

bool CTray::Embedded() const {
    if (item_.Active()) return true;
    if (!icon_) return false;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return gtk_status_icon_get_visible(icon_->gobj()) &&
           gtk_status_icon_is_embedded(icon_->gobj());
    G_GNUC_END_IGNORE_DEPRECATIONS
}

void CTray::ExportMenu(Gtk::Menu& menu) { item_.SetMenu(menu); }

void CTray::SendIcon() {
    if (pic_ == nullptr) return;
    auto pixbuf = pic_->get_pixbuf();
    if (!pixbuf) return;
    if (icon_) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_status_icon_set_from_pixbuf(icon_->gobj(), pixbuf->gobj());
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    // An installed Pelko's icon is in the icon theme, which hosts draw
    // sharper than a picture; a replaced picture is only ever a picture.
    const char* name = "net.pelko.Pelko";
    const bool themed = own_picture_ && Gtk::IconTheme::get_default()->has_icon(name);
    item_.SetIcon(pixbuf, themed ? name : "");
}

void CTray::PictureChanged() {
    own_picture_ = false;
    SendIcon();
}

void CTray::Item_Activate() { Notify(static_cast<int>(tray::Message::LButtonDblClick)); }

void CTray::Item_ContextMenu() {
    Notify(static_cast<int>(tray::Message::RButtonDown));
    Notify(static_cast<int>(tray::Message::RButtonUp));
}

bool CTray::ButtonPressed(GdkEventButton* event) {
    const auto action =
        event->type == GDK_2BUTTON_PRESS ? tray::Action::DoubleClick : tray::Action::Down;
    // The third press of a triple click is reported again as a plain press.
    if (event->type == GDK_3BUTTON_PRESS) return true;
    Notify(tray::MessageFor(event->button, action));
    return true;
}

bool CTray::ButtonReleased(GdkEventButton* event) {
    Notify(tray::MessageFor(event->button, tray::Action::Up));
    return true;
}

void CTray::Notify(int message) {
    // Whatever the handlers do (close the window and drop this object, say),
    // the object lives until its event has been raised.
    const auto keep = shared_from_this();
    gate_.Dispatch(message, [this](tray::Event e) {
        switch (e) {
            case tray::Event::RButtonDown: r_down_.emit(); break;
            case tray::Event::RButtonUp: r_up_.emit(); break;
            case tray::Event::RButtonDblClick: r_dbl_.emit(); break;
            case tray::Event::LButtonDown: l_down_.emit(); break;
            case tray::Event::LButtonUp: l_up_.emit(); break;
            case tray::Event::LButtonDblClick: l_dbl_.emit(); break;
            case tray::Event::None: break;
        }
    });
}

}  // namespace pelko
