#pragma once

// The About box: the product's title, version, description and disclaimer,
// and a button that starts the desktop's system-information tool. One box
// serves the whole run. It has no owner and belongs to the application
// while it is open, so it stays when the main window closes and the program
// ends only once it is closed as well.

#include <gtkmm.h>

#include <memory>
#include <string>
#include <string_view>

#include "controls/form_panel.h"

namespace pelko {

class frmAbout : public Gtk::Window {
public:
    static constexpr const char* kCaption = "关于Pelko网络电视";
    static constexpr int kClientWidth = 382;
    static constexpr int kClientHeight = 237;

    // Our contact values: the title's suffix, and the disclaimer's second
    // line after "E-Mail：" (an address and an instant-messaging number).
    static constexpr const char* kTitleSuffix = " (tv@pelko.example)";
    static constexpr const char* kContact = "tv@pelko.example 83700012";

    // The shared box, created at the first call; it is destroyed when `app`
    // shuts down, while the toolkit is still there to take it.
    static frmAbout& Instance(const Glib::RefPtr<Gtk::Application>& app);

    ~frmAbout() override;
    frmAbout(const frmAbout&) = delete;
    frmAbout& operator=(const frmAbout&) = delete;

    // Loads and shows a closed box; an open one is only brought to the front.
    void ShowBox();
    void StartSysInfo();

    // "版本 " and the first three numbers of a dotted version, each without
    // leading zeros ("1.02.0" gives "版本 1.2.0"); missing numbers count as 0.
    static std::string VersionText(std::string_view version);

    // Raised at the end of every load step.
    sigc::signal<void()>& Loaded() { return loaded_; }

private:
    explicit frmAbout(Glib::RefPtr<Gtk::Application> app);

    void PlaceControls();
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void on_realize() override;
    bool on_delete_event(GdkEventAny* event) override;

    Glib::RefPtr<Gtk::Application> app_;
    ui::FormPanel panel_{kClientWidth, kClientHeight};

    // The etched rule above the buttons: [1] the grey line, [0] the white
    // line beneath it.
    Gtk::DrawingArea Line1[2];
    // The controls in their tab order.
    Gtk::Button cmdOK{"确定"};
    Gtk::Button cmdSysInfo{"系统信息(_S)...", true};
    Gtk::Label lblDescription;
    Gtk::Label lblDisclaimer;
    Gtk::Label lblTitle;
    Gtk::Label lblVersion;

    sigc::signal<void()> loaded_;
};

}  // namespace pelko
