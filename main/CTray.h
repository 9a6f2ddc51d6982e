#pragma once

// One icon in the desktop's notification area on behalf of a window. The
// window lends a picture holder whose picture becomes the icon, and receives
// six events without arguments for the left and right button.
//
// The icon goes where the desktop shows icons: to a notifier host on the
// session bus when one is there, else to a classic (XEmbed) tray, else
// nowhere. The choice is made again whenever either comes or goes.

#include <gtkmm.h>

#include <memory>
#include <string>

#include "core/tray_contract.h"
#include "main/StatusNotifierItem.h"

namespace pelko {

class CTray : public std::enable_shared_from_this<CTray> {
public:
    static std::shared_ptr<CTray> Create();
    ~CTray();
    CTray(const CTray&) = delete;
    CTray& operator=(const CTray&) = delete;

    // The picture holder; its picture is the icon, now and whenever it changes.
    void PicBox(Gtk::Image& box);
    std::string TipText() const;
    void TipText(const std::string& text);
    // False, and nothing shown, until a picture holder has been given.
    bool ShowIcon();
    void DeleteIcon();

    // Whether a tray is there holding the shown icon.
    bool Embedded() const;
    // The menu a notifier host shows by itself, without asking the window.
    void ExportMenu(Gtk::Menu& menu);
    // Embedded() may have changed: a tray came or went.
    sigc::signal<void()>& TrayChanged() { return tray_changed_; }

    sigc::signal<void()>& RButtonDown() { return r_down_; }
    sigc::signal<void()>& RButtonUp() { return r_up_; }
    sigc::signal<void()>& RButtonDblClick() { return r_dbl_; }
    sigc::signal<void()>& LButtonDown() { return l_down_; }
    sigc::signal<void()>& LButtonUp() { return l_up_; }
    sigc::signal<void()>& LButtonDblClick() { return l_dbl_; }

private:
    CTray();
    void PictureChanged();
    bool ButtonPressed(GdkEventButton* event);
    bool ButtonReleased(GdkEventButton* event);
    void Notify(int message);
    void SendIcon();
    void Release();
    void Choose();
    void Item_Activate();
    void Item_ContextMenu();

    StatusNotifierItem item_;
    Glib::RefPtr<Gtk::StatusIcon> icon_;
    Gtk::Image* pic_ = nullptr;
    sigc::connection pic_changed_;
    tray::TipField tip_;
    tray::EventGate gate_;
    bool shown_ = false;
    // Whether the picture is still the program's own, which the icon theme
    // may also know by name.
    bool own_picture_ = true;
    sigc::signal<void()> tray_changed_;
    sigc::signal<void()> r_down_, r_up_, r_dbl_, l_down_, l_up_, l_dbl_;
};

}  // namespace pelko
