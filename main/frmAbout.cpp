#include "main/frmAbout.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "controls/msgbox.h"
#include "main/SysInfoKeys.h"

namespace pelko {
namespace {

constexpr double kTw = layout::kTwipsPerPixel;

layout::Rect Pixels(int left, int top, int width, int height) {
    return {left * kTw, top * kTw, width * kTw, height * kTw};
}

constexpr const char* kDescription =
    "Pelko网络电视、电影让您足不出户享受视觉与听觉完美体验，高清电视直播，采用P2P、FLV等多种节目"
    "源。使用Pelko网视可以观看全国不同电视节目高清直播，和热门电影及电视剧。";
constexpr const char* kWarning =
    "警告: ...软件所有节目源均来自于网络仅作为程序交流使用不得用于其它商业行为,若有侵犯到节目源版"
    "权,请与及时告知。";
constexpr const char* kSysInfoUnavailable = "此时系统信息不可用";

std::unique_ptr<frmAbout>& SharedBox() {
    static std::unique_ptr<frmAbout> box;
    return box;
}

void TopLeftWrapped(Gtk::Label& label) {
    label.set_xalign(0);
    label.set_yalign(0);
    label.set_line_wrap(true);
    label.set_line_wrap_mode(Pango::WRAP_WORD_CHAR);
}

// Paints a whole line of the etched rule; its widget is exactly the line.
bool Paint(const Cairo::RefPtr<Cairo::Context>& cr, double grey) {
    cr->set_source_rgb(grey, grey, grey);
    cr->paint();
    return true;
}

}  // namespace

frmAbout& frmAbout::Instance(const Glib::RefPtr<Gtk::Application>& app) {
    std::unique_ptr<frmAbout>& box = SharedBox();
    if (!box) {
        box.reset(new frmAbout(app));
        // A window left for static destruction would outlive the display.
        app->signal_shutdown().connect([] { SharedBox().reset(); });
    }
    return *box;
}

frmAbout::frmAbout(Glib::RefPtr<Gtk::Application> app) : app_(std::move(app)) {
    // A fixed dialog frame: no resizing, no minimise or maximise button
    // (the frame's buttons are cut in on_realize), centred on the screen.
    set_resizable(false);
    set_type_hint(Gdk::WINDOW_TYPE_HINT_DIALOG);
    set_position(Gtk::WIN_POS_CENTER);
    std::vector<Glib::RefPtr<Gdk::Pixbuf>> icons;
    for (const char* size : {"16", "32", "48"}) {
        icons.push_back(
            Gdk::Pixbuf::create_from_resource(std::string("/pelko/icons/pelko-") + size + ".png"));
    }
    set_icon_list(icons);

    // The controls were laid out for a 9-point face: in the desktop's usual
    // larger one the disclaimer's last line would fall outside its label.
    auto css = Gtk::CssProvider::create();
    css->load_from_data("window { font-size: 9pt; }");
    get_style_context()->add_provider(css, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    PlaceControls();
    add(panel_);

    cmdOK.signal_clicked().connect(ui::Guarded(this, [this] { cmdOK_Click(); }));
    cmdSysInfo.signal_clicked().connect(ui::Guarded(this, [this] { cmdSysInfo_Click(); }));
    Line1[0].signal_draw().connect(
        [](const Cairo::RefPtr<Cairo::Context>& cr) { return Paint(cr, 1.0); });
    Line1[1].signal_draw().connect(
        [](const Cairo::RefPtr<Cairo::Context>& cr) { return Paint(cr, 128 / 255.0); });
}

frmAbout::~frmAbout() = default;

void frmAbout::PlaceControls() {
    // The lines lie under the controls; the controls go in in their tab
    // order, which the panel's top-to-bottom focus order keeps.
    panel_.Place(Line1[0], Pixels(7, 164, 370, 2));
    panel_.Place(Line1[1], Pixels(6, 163, 371, 1));
    panel_.Place(cmdOK, Pixels(275, 175, 100, 23));
    panel_.Place(cmdSysInfo, Pixels(276, 205, 99, 23));
    panel_.Place(lblDescription, Pixels(22, 75, 259, 78));
    panel_.Place(lblDisclaimer, Pixels(17, 175, 242, 55));
    panel_.Place(lblTitle, Pixels(22, 16, 259, 32));
    panel_.Place(lblVersion, Pixels(22, 52, 259, 15));

    TopLeftWrapped(lblDescription);
    TopLeftWrapped(lblDisclaimer);
    lblTitle.set_xalign(0);
    lblTitle.set_yalign(0);
    lblVersion.set_xalign(0);
    lblVersion.set_yalign(0);
    lblDescription.set_text(kDescription);
    lblDisclaimer.set_text(std::string(kWarning) + "\nE-Mail：" + kContact);

    cmdOK.set_name("cmdOK");
    cmdSysInfo.set_name("cmdSysInfo");
    lblDescription.set_name("lblDescription");
    lblDisclaimer.set_name("lblDisclaimer");
    lblTitle.set_name("lblTitle");
    lblVersion.set_name("lblVersion");
    for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{
             &Line1[0], &Line1[1], &cmdOK, &cmdSysInfo, &lblDescription, &lblDisclaimer, &lblTitle,
             &lblVersion}) {
        w->show();
    }
    // A fixed frame holds exactly the designed client area.
    panel_.set_size_request(kClientWidth, kClientHeight);
    panel_.show();
}

void frmAbout::on_realize() {
    Gtk::Window::on_realize();
    get_window()->set_functions(Gdk::FUNC_MOVE | Gdk::FUNC_CLOSE);
    get_window()->set_decorations(Gdk::DECOR_BORDER | Gdk::DECOR_TITLE | Gdk::DECOR_MENU);
}

void frmAbout::ShowBox() {
    if (!get_visible()) {
        Form_Load();
        // A hidden window has left the application; open, the box keeps the
        // program running on its own.
        if (!get_application()) app_->add_window(*this);
        cmdOK.grab_focus();
    }
    present();
}

void frmAbout::Form_Load() {
    set_title(kCaption);
    // The build gives the version, so the box can never show another.
    lblVersion.set_text(VersionText(PELKO_VERSION));
    lblTitle.set_text(std::string("Pelko网络电视") + kTitleSuffix);
    loaded_.emit();
}

std::string frmAbout::VersionText(std::string_view version) {
    std::string text = "版本 ";
    for (int part = 0; part < 3; ++part) {
        const std::string_view piece = version.substr(0, version.find('.'));
        version.remove_prefix(std::min(version.size(), piece.size() + 1));
        std::string_view digits = piece.substr(0, piece.find_first_not_of("0123456789"));
        const auto first = digits.find_first_not_of('0');
        digits = first == std::string_view::npos ? std::string_view("0") : digits.substr(first);
        if (part > 0) text += '.';
        text += digits;
    }
    return text;
}

void frmAbout::cmdOK_Click() {
    // Unloading: the window goes, the object stays. The next ShowBox loads
    // the box again and it opens centred, wherever it was moved before.
    hide();
    unrealize();
}

bool frmAbout::on_delete_event(GdkEventAny*) {
    cmdOK_Click();
    return true;
}

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::StartSysInfo() {
    // Every way of not getting the tool ends in the one message: none
    // installed, a stale entry, a program that will not start.
    try {
        SysInfoKeys keys;
        if (const std::optional<std::string> path = SysInfoPath(keys)) {
            // Its own process, not waited for, from an argument vector.
            Glib::spawn_async("", std::vector<std::string>{*path});
            return;
        }
    } catch (...) {
    }
    const char* caption = g_get_application_name();
    ui::MessageBox(this, kSysInfoUnavailable, caption != nullptr ? caption : "", ui::Icon::None,
                   ui::Buttons::Ok);
}

}  // namespace pelko
