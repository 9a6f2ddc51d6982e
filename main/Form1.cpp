#include "main/Form1.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "controls/display_backend.h"
#include "controls/msgbox.h"
#include "controls/skin_title_bar.h"
#include "core/ini_file.h"
#include "core/program_folder.h"
#include "core/service_host.h"
#include "core/skin_color.h"
#include "core/version_text.h"
#include "main/Launchers.h"
#include "main/Module2.h"
#include "main/WebData.h"

namespace pelko {

namespace {

constexpr double kTw = layout::kTwipsPerPixel;

layout::Rect Pixels(int left, int top, int width, int height) {
    return {left * kTw, top * kTw, width * kTw, height * kTw};
}

std::string TvPage() { return ServiceHost() + "/tv/app.html"; }
std::string ErrorPage() { return ServiceHost() + "/data/404.html"; }

// A control on the form as the layout passes see it.
class PanelControl : public layout::Control {
  public:
    PanelControl(ui::FormPanel& panel, Gtk::Widget& widget) : panel_(panel), widget_(widget) {}
    std::string Tag() const override { return ui::GetTag(widget_); }
    void SetTag(const std::string& tag) override { ui::SetTag(widget_, tag); }
    layout::Rect Bounds() const override { return panel_.Bounds(widget_); }
    void Move(const layout::Rect& r) override { panel_.Place(widget_, r); }

  private:
    ui::FormPanel& panel_;
    Gtk::Widget& widget_;
};

// A menu entry has a tag but no place: the passes skip it.
class MenuControl : public layout::Control {
  public:
    explicit MenuControl(Gtk::MenuItem& item) : item_(item) {}
    std::string Tag() const override { return ui::GetTag(item_); }
    void SetTag(const std::string& tag) override { ui::SetTag(item_, tag); }
    layout::Rect Bounds() const override { throw std::logic_error("a menu entry has no place"); }
    void Move(const layout::Rect&) override { throw std::logic_error("a menu entry has no place"); }

  private:
    Gtk::MenuItem& item_;
};

}  // namespace

Form1::Form1() {
    set_title(kCaption);
    set_position(Gtk::WIN_POS_CENTER);
    set_resizable(true);
    std::vector<Glib::RefPtr<Gdk::Pixbuf>> icons;
    for (const char* size : {"16", "32", "48"}) {
        icons.push_back(
            Gdk::Pixbuf::create_from_resource(std::string("/pelko/icons/pelko-") + size + ".png"));
    }
    set_icon_list(icons);
    Picture1.set(icons.back());

    BuildMenus();
    PlaceControls();

    layout_.pack_start(menubar_, Gtk::PACK_SHRINK);
    layout_.pack_start(panel_, Gtk::PACK_EXPAND_WIDGET);
    add(layout_);

    // The client area below the menu bar is the designed size.
    int menubar_min = 0;
    int menubar_natural = 0;
    menubar_.get_preferred_height(menubar_min, menubar_natural);
    set_default_size(kClientWidth, kClientHeight + menubar_natural);

    panel_.signal_resized().connect(ui::Guarded(this, [this] { Form_Resize(); }));
    WebBrowser1.DocumentComplete().connect(
        ui::Guarded(this, [this](const std::string& url) { WebBrowser1_DocumentComplete(url); }));
    WebBrowser1.NavigateError().connect(ui::Guarded(
        this,
        [this](const std::string& url, int status) { WebBrowser1_NavigateError(url, status); }));
    WebBrowser1.WebProcessTerminated().connect(
        ui::Guarded(this, [this] { WebBrowser1_WebProcessTerminated(); }));
    WebBrowser1.EnterFullscreen().connect(
        ui::Guarded(this, [this] { WebBrowser1_EnterFullscreen(); }));
    WebBrowser1.LeaveFullscreen().connect(
        ui::Guarded(this, [this] { WebBrowser1_LeaveFullscreen(); }));
    WebBrowser1.PlayingChanged().connect(
        ui::Guarded(this, [this](bool playing) { WebBrowser1_PlayingChanged(playing); }));
    WebBrowser1.Media().Changed().connect(ui::Guarded(this, [this] { WebBrowser1_MediaChanged(); }));
    WebBrowser1.TitleChanged().connect(ui::Guarded(this, [this] { WebBrowser1_MediaChanged(); }));
    signal_show().connect([this] { UpdateIdleInhibit(); });
    signal_hide().connect([this] { UpdateIdleInhibit(); });
}

Form1::~Form1() {
    dom_contextmenu_.disconnect();
    tray_changed_.disconnect();
    title_bar_minimize_.disconnect();
    Tray.reset();
}

void Form1::BuildMenus() {
    auto entry = [this](Gtk::Menu& menu, Gtk::MenuItem& item, const char* name,
                        void (Form1::*handler)()) {
        item.set_name(name);
        if (handler != nullptr) {
            item.signal_activate().connect(
                ui::Guarded(this, [this, handler] { (this->*handler)(); }));
        }
        menu.append(item);
        item.show();
    };
    auto top = [this](Gtk::MenuItem& item, Gtk::Menu& menu, const char* name) {
        item.set_name(name);
        item.set_submenu(menu);
        menubar_.append(item);
        item.show();
    };

    top(op, op_menu_, "op");
    entry(op_menu_, sh, "sh", &Form1::sh_Click);
    entry(op_menu_, cl, "cl", &Form1::cl_Click);
    entry(op_menu_, tcp, "tcp", &Form1::tcp_Click);
    entry(op_menu_, update, "update", &Form1::update_Click);
    entry(op_menu_, quit, "quit", &Form1::quit_Click);
    sh.hide();

    top(skin, skin_menu_, "skin");
    entry(skin_menu_, wa, "wa", &Form1::wa_Click);
    entry(skin_menu_, mp, "mp", &Form1::mp_Click);
    entry(skin_menu_, gr, "gr", &Form1::gr_Click);
    entry(skin_menu_, mac, "mac", &Form1::mac_Click);
    entry(skin_menu_, st, "st", &Form1::st_Click);
    entry(skin_menu_, bl, "bl", &Form1::bl_Click);
    entry(skin_menu_, rad, "rad", &Form1::rad_Click);

    top(windo, windo_menu_, "windo");
    entry(windo_menu_, tp, "tp", &Form1::tp_Click);
    entry(windo_menu_, max, "max", &Form1::max_Click);
    entry(windo_menu_, min, "min", &Form1::min_Click);
    // On Wayland the compositor alone decides what stays on top.
    if (ui::IsWayland(get_display())) {
        tp.set_sensitive(false);
        tp.set_tooltip_text("Wayland 桌面不允许程序置顶窗口");
    }

    top(help, help_menu_, "help");
    entry(help_menu_, read, "read", &Form1::read_Click);
    entry(help_menu_, qu, "qu", &Form1::qu_Click);
    entry(help_menu_, ab, "ab", &Form1::ab_Click);
    menubar_.show();
}

void Form1::PlaceControls() {
    Text2.set_text("Text2");
    Text1.set_text("Text1");
    Text2.set_name("Text2");
    Text1.set_name("Text1");
    DL.set_name("DL");
    Picture1.set_name("Picture1");
    WebBrowser1.Widget().set_name("WebBrowser1");

    panel_.Place(Text2, Pixels(544, 472, 81, 33));
    panel_.Place(Text1, Pixels(624, 408, 81, 33));
    panel_.Place(DL, Pixels(152, 424, 313, 33));
    panel_.Place(Picture1, Pixels(464, 336, 57, 49));
    panel_.Place(WebBrowser1.Widget(), Pixels(0, 0, 1017, 649));
    for (Gtk::Widget* w : FormControls()) {
        w->show();
    }
    panel_.show();
    layout_.show();
}

std::vector<Gtk::Widget*> Form1::FormControls() {
    return {&Text2, &Text1, &DL, &Picture1, &WebBrowser1.Widget()};
}

std::vector<std::unique_ptr<layout::Control>> Form1::LayoutControls() {
    std::vector<std::unique_ptr<layout::Control>> all;
    for (Gtk::Widget* w : FormControls()) {
        all.push_back(std::make_unique<PanelControl>(panel_, *w));
    }
    for (Gtk::MenuItem* m :
         {&op,  &sh,  &cl,   &tcp,  &update, &quit, &skin,  &wa,
          &mp,  &gr,  &mac,  &st,   &bl,     &rad,  &windo, static_cast<Gtk::MenuItem*>(&tp),
          &max, &min, &help, &read, &qu,     &ab}) {
        all.push_back(std::make_unique<MenuControl>(*m));
    }
    return all;
}

std::vector<layout::Control*> Form1::LayoutView(
    const std::vector<std::unique_ptr<layout::Control>>& controls) {
    std::vector<layout::Control*> view;
    view.reserve(controls.size());
    for (const auto& c : controls) view.push_back(c.get());
    return view;
}

int Form1::WindowState() const {
    const auto gdk = get_window();
    if (!gdk) return 0;
    const auto state = gdk->get_state();
    if (state & Gdk::WINDOW_STATE_ICONIFIED) return 1;
    if (state & Gdk::WINDOW_STATE_MAXIMIZED) return 2;
    return 0;
}

void Form1::on_map() {
    Gtk::Window::on_map();
    presented_.emit();
}

void Form1::WindowState(int state) {
    switch (state) {
        case 0:
            deiconify();
            unmaximize();
            break;
        case 1:
            iconify();
            break;
        case 2:
            deiconify();
            maximize();
            break;
        default:
            break;
    }
}

void Form1::Form_Load() {
    Module2::RecordLayout(*this);
    ui::SetTag(*this, "1");
    // A missing default skin is reported and the window opens plain.
    ui::Guarded(this, [this] { ApplyDefaultSkin(); })();
    WebBrowser1.Silent(true);
    WindowState(0);
    WebBrowser1.Navigate(TvPage());
    Picture1.hide();
    Tray = CTray::Create();
    Tray->LButtonDblClick().connect(ui::Guarded(this, [this] { Tray_LButtonDblClick(); }));
    Tray->RButtonUp().connect(ui::Guarded(this, [this] { Tray_RButtonUp(); }));
    tray_changed_ = Tray->TrayChanged().connect(ui::Guarded(this, [this] { Tray_TrayChanged(); }));
    Tray->TipText(get_title());
    Tray->PicBox(Picture1);
    Tray->ExportMenu(op_menu_);
    Tray->ShowIcon();
    VersionCheck();
}

namespace {

// Removes the service's version file, but only the one that was read: a
// transfer that replaced it since then leaves its file for the next start.
// The identity of a file, to tell whether a path still names the file read.
std::optional<ino_t> FileId(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_ino;
}

// A version that is no UTF-8 text is no version: a text field cannot hold
// it, and nothing could be offered on its strength.
std::string TextOrNothing(std::string bytes) {
    return g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)
               ? bytes
               : std::string();
}

}  // namespace

void Form1::VersionCheck() {
    // A program folder that cannot be written (a system-wide install) keeps
    // the service's version file in the user's cache instead, and is never
    // offered an update it could not take.
    const bool writable = FolderWritable(ProgramFolder());
    const std::string fetched = writable ? ProgramFolder() : VersionCacheFolder();
    DL.URL(ServiceHost() + "/up.ini");
    DL.SaveFolder(fetched);
    DL.StartDownload();
    // The transfer runs on; this start compares what an earlier one left.
    const std::string installed = ProgramFolder() + "/update.ini";
    const std::string service = fetched + "/up.ini";
    const auto read_id = FileId(service);
    Text1.set_text(TextOrNothing(ini::ReadIniValue(installed, "ver", "version", "")));
    Text2.set_text(TextOrNothing(ini::ReadIniValue(service, "ver", "version", "")));
    // Every check deletes the file it compared; deleting it now rather than
    // after the question keeps a file the running transfer saves meanwhile.
    // A transfer that replaced the file since then leaves its file for the next start.
    if (read_id && FileId(service) == read_id) std::filesystem::remove(service);
    if (!version::IsNewerVersion(Text2.get_text().raw(), Text1.get_text().raw())) return;
    // The question stands for the window until it is answered.
    presented_.emit();
    if (!writable) {
        ui::MessageBox(this, kReadOnlyNewVersion, "提示", ui::Icon::Information, ui::Buttons::Ok);
        return;
    }
    const auto answer = ui::MessageBox(this, "程序有新的更新,请确定退出程序进行更新？", "提示",
                                       ui::Icon::Question, ui::Buttons::YesNo);
    if (answer == ui::Answer::No) return;
    // Only an updater that runs may claim the new version: one that cannot
    // start leaves the installed version and the window as they were.
    try {
        StartUpdater({"--installed", Text1.get_text().raw(), "--offered", Text2.get_text().raw()});
    } catch (...) {
        ui::ShowFailure(this, ui::DescribeCurrentException());
        return;
    }
    ini::WriteIniValue(installed, "ver", "version", Text2.get_text().raw());
    Unload();
}

void Form1::StartUpdater(const std::vector<std::string>& versions) {
    // The updater accepts only a file signed for a version that is no
    // downgrade of the installed one, and for the offered one when there is one.
    std::vector<std::string> argv{ProgramFolder() + "/PelkoUpdate"};
    argv.insert(argv.end(), versions.begin(), versions.end());
    Glib::spawn_async("", argv, Glib::SPAWN_DEFAULT);
}

std::string Form1::VersionCacheFolder() {
    const std::string folder = WebData::CacheFolder();
    // Without the folder the transfer fails quietly and no update is known.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

void Form1::update_Click() {
    if (!FolderWritable(ProgramFolder())) {
        ui::MessageBox(this, kReadOnlyUpdate, "提示", ui::Icon::Information, ui::Buttons::Ok);
        return;
    }
    const auto answer = ui::MessageBox(this, "您确定退出程序进行更新？", "提示", ui::Icon::Question,
                                       ui::Buttons::YesNo);
    if (answer == ui::Answer::No) return;
    StartUpdater(
        {"--installed", ini::ReadIniValue(ProgramFolder() + "/update.ini", "ver", "version", "")});
    Unload();
}

void Form1::Form_Resize() {
    if (!WebBrowser1.Fullscreen()) {
        Module2::ScaleLayout(*this);
    } else if (FillsScreen()) {
        // Scaled, the page would miss the screen's edges by a pixel or two: in
        // fullscreen it is the whole screen. The next pass after fullscreen
        // places it from its record again.
        panel_.Place(WebBrowser1.Widget(), {0, 0, panel_.InnerWidth(), panel_.InnerHeight()});
    }
    // Otherwise the window is on its way into fullscreen: the window manager
    // sends the new state and the new size one after the other, in either
    // order, and a pass may come in between. The page keeps its place until
    // both are there, so it never sees a size in between.
    if (WindowState() == 1) HideToTray();
}

bool Form1::FillsScreen() {
    const auto gdk = get_window();
    if (!gdk || !(gdk->get_state() & Gdk::WINDOW_STATE_FULLSCREEN)) return false;
    const auto monitor = get_display()->get_monitor_at_window(gdk);
    if (!monitor) return false;
    Gdk::Rectangle screen;
    monitor->get_geometry(screen);
    return panel_.get_allocated_width() == screen.get_width() &&
           panel_.get_allocated_height() == screen.get_height();
}

bool Form1::on_window_state_event(GdkEventWindowState* event) {
    const bool result = Gtk::Window::on_window_state_event(event);
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) UpdateIdleInhibit();
    // The menu bar goes and comes with the state itself, in the same pass
    // as the new size: the page is never laid out at a size in between.
    if (event->changed_mask & GDK_WINDOW_STATE_FULLSCREEN) {
        menubar_.set_visible(!(event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN));
    }
    if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) &&
        (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED)) {
        ui::Guarded(this, [this] { Form_Resize(); })();
    }
    return result;
}

void Form1::HideToTray() {
    // Without a tray to hold the icon, a hidden window could not be reached
    // again: then a minimise stays an ordinary minimise.
    if (!Tray || !Tray->Embedded()) return;
    if (!get_visible()) return;
    // The window comes back from the tray as a window, not as a fullscreen video.
    WebBrowser1.ExitFullscreen();
    Hold(true);
    hide();
    sh.show();
}

void Form1::Hold(bool hold) {
    // A hidden window leaves the application's list of windows; while the
    // window waits in the tray, the program is held open on its behalf.
    if (hold == held_) return;
    if (hold) {
        app_ = get_application();
        if (!app_) return;
        app_->hold();
    } else {
        if (!get_application()) app_->add_window(*this);
        app_->release();
    }
    held_ = hold;
}

void Form1::ShowFromTray() {
    Hold(false);
    show();
    present();
}

void Form1::Tray_LButtonDblClick() {
    sh.hide();
    WindowState(0);
    ShowFromTray();
}

void Form1::sh_Click() {
    WindowState(0);
    ShowFromTray();
    sh.hide();
}

void Form1::Reactivate() {
    if (unloaded_) return;
    if (!get_visible() || WindowState() == 1) {
        Tray_LButtonDblClick();
        return;
    }
    present();
}

void Form1::Tray_RButtonUp() { PopupMenu(op_menu_); }

void Form1::Tray_TrayChanged() {
    // A panel that quits (or restarts) takes the icon with it: a window
    // waiting in the tray comes back rather than being left out of reach.
    if (held_ && !get_visible() && !Tray->Embedded()) Tray_LButtonDblClick();
}

void Form1::PopupMenu(Gtk::Menu& menu) {
    // The pop-up is modal for its owner: the tray's event is still being
    // handled while the menu is open, so clicks on the icon raise nothing.
    auto loop = Glib::MainLoop::create();
    auto done = menu.signal_deactivate().connect([loop] { loop->quit(); });
    auto hidden = menu.signal_hide().connect([loop] { loop->quit(); });
    menu.popup_at_pointer(nullptr);
    if (menu.get_visible()) loop->run();
    done.disconnect();
    hidden.disconnect();
}

void Form1::tp_Click() {
    if (setting_tp_) return;
    const std::string flag = ui::GetTag(*this);
    bool on_top = false;
    if (flag == "1") {
        ui::SetTag(*this, "0");
        on_top = true;
    } else if (flag == "0") {
        ui::SetTag(*this, "1");
        on_top = false;
    } else {
        return;
    }
    // Activating a check entry toggles it by itself; the flag decides.
    setting_tp_ = true;
    tp.set_active(on_top);
    setting_tp_ = false;
    set_keep_above(on_top);
    present();
}

void Form1::max_Click() { WindowState(2); }

void Form1::min_Click() {
    if (MinimizeToTrayDirectly()) return;
    WindowState(1);
}

bool Form1::MinimizeToTrayDirectly() {
    // Wayland never tells a program that its window was minimised, so the
    // window would not go on to the tray: while a tray holds the icon, it
    // goes there at once.
    if (!ui::IsWayland(get_display()) || !Tray || !Tray->Embedded()) return false;
    HideToTray();
    return true;
}

void Form1::TitleBarMinimize_Click() { MinimizeToTrayDirectly(); }

void Form1::quit_Click() { Unload(); }

void Form1::cl_Click() {
    // The clean-up tool works on the program folder: it would fail there unseen.
    if (!FolderWritable(ProgramFolder())) {
        ui::MessageBox(this, kReadOnlyClear, "提示", ui::Icon::Information, ui::Buttons::Ok);
        return;
    }
    StartClearTool();
}

void Form1::tcp_Click() { StartTcpTool(); }

void Form1::read_Click() { OpenReadme(); }

void Form1::qu_Click() { WebBrowser1.Navigate(FeedbackUrl()); }

void Form1::ab_Click() { ShowAbout(); }

void Form1::ApplySkinFile(const char* file) {
    Skn.LoadSkinFile(ProgramFolder() + file);
    Skn.ApplySkin(*this);
    // The skin's own minimise button is the only one there is on a desktop
    // that lets the window draw its title bar; it must reach the tray too.
    if (auto* bar = dynamic_cast<ui::SkinTitleBar*>(get_titlebar()); bar != title_bar_) {
        title_bar_minimize_.disconnect();
        title_bar_ = bar;
        if (bar != nullptr) {
            title_bar_minimize_ = bar->MinimizeButton().signal_clicked().connect(
                ui::Guarded(this, [this] { TitleBarMinimize_Click(); }));
        }
    }
}

void Form1::ApplyDefaultSkin() {
    ApplySkinFile("/Skins/mac.skn");
    // The skin draws the title bar; the client area stays the designed size.
    int menubar_min = 0;
    int menubar_natural = 0;
    menubar_.get_preferred_height(menubar_min, menubar_natural);
    set_default_size(kClientWidth, kClientHeight + menubar_natural);
}

void Form1::wa_Click() { ApplySkinFile("/Skins/wina.skn"); }

void Form1::mp_Click() { ApplySkinFile("/Skins/MediaPlayer9.Skn"); }

void Form1::gr_Click() { ApplySkinFile("/Skins/green.skn"); }

void Form1::mac_Click() { ApplySkinFile("/Skins/mac.Skn"); }

void Form1::st_Click() { ApplySkinFile("/Skins/Studio.skn"); }

void Form1::bl_Click() { ApplySkinFile("/Skins/Blue.skn"); }

void Form1::rad_Click() {
    const float r = Rnd.Next();
    Skn.GetColorScheme()->SetHue(skin::HueFromUniform(r));
}

void Form1::Form_QueryUnload() {
    tray_changed_.disconnect();
    if (Tray) Tray->DeleteIcon();
    Tray.reset();
}

bool Form1::on_delete_event(GdkEventAny*) {
    Unload();
    return true;
}

void Form1::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    ui::Guarded(this, [this] { Form_QueryUnload(); })();
    Inhibitor.Inhibit(false);
    Player.Withdraw();
    if (held_) {
        app_->release();
        held_ = false;
    }
    hide();
    if (auto app = get_application()) app->remove_window(*this);
}

void Form1::WebBrowser1_DocumentComplete(const std::string&) {
    dom_contextmenu_.disconnect();
    M_Dom = WebBrowser1.Document();
    if (M_Dom) {
        dom_contextmenu_ =
            M_Dom->oncontextmenu().connect(sigc::mem_fun(*this, &Form1::M_Dom_oncontextmenu));
    }
}

bool Form1::M_Dom_oncontextmenu() { return false; }

void Form1::WebBrowser1_WebProcessTerminated() {
    // A crashed page leaves a blank view: the TV page comes back by itself,
    // but a page that keeps crashing is reported as a failed load instead
    // of being reloaded round and round.
    const auto now = std::chrono::steady_clock::now();
    if (last_reload_ && now - *last_reload_ < kReloadInterval) {
        last_reload_.reset();
        WebBrowser1_NavigateError(TvPage(), 0);
        return;
    }
    last_reload_ = now;
    WebBrowser1.Navigate(TvPage());
}

void Form1::WebBrowser1_EnterFullscreen() {
    // The video takes the whole screen: the skin's title bar and frame go
    // with the fullscreen state, the menu bar once it is there.
    fullscreen();
}

void Form1::WebBrowser1_LeaveFullscreen() {
    unfullscreen();
    // The window manager may drop "above" along with fullscreen.
    set_keep_above(ui::GetTag(*this) == "0");
}

void Form1::WebBrowser1_PlayingChanged(bool) { UpdateIdleInhibit(); }

void Form1::WebBrowser1_MediaChanged() {
    if (unloaded_) return;
    const std::string title = WebBrowser1.Title();
    Player.Update(WebBrowser1.Media().State(), title.empty() ? std::string(get_title()) : title);
}

void Form1::UpdateIdleInhibit() {
    Inhibitor.Inhibit(!unloaded_ && get_visible() && WindowState() != 1 && WebBrowser1.Playing());
}

void Form1::WebBrowser1_NavigateError(const std::string&, int) {
    const auto answer = ui::MessageBox(this, "网络超时，请稍后重试，点击是返回主页", "提示",
                                       ui::Icon::Information, ui::Buttons::YesNo);
    if (answer == ui::Answer::Yes) {
        WebBrowser1.Navigate(TvPage());
    } else {
        WebBrowser1.Navigate(ErrorPage());
    }
}

}  // namespace pelko
