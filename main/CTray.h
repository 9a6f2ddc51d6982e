#pragma once

// One icon in the desktop's notification area on behalf of a window. The
// window lends a picture holder whose picture becomes the icon, and receives
// six events without arguments for the left and right button.

#include <gtkmm.h>

#include <memory>
#include <string>

#include "core/tray_contract.h"

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

    Glib::RefPtr<Gtk::StatusIcon> icon_;
    Gtk::Image* pic_ = nullptr;
    sigc::connection pic_changed_;
    tray::TipField tip_;
    tray::EventGate gate_;
    sigc::signal<void()> r_down_, r_up_, r_dbl_, l_down_, l_up_, l_dbl_;
};

}  // namespace pelko
