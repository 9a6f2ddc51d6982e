#pragma once

// Pelko's main window: the TV page in an embedded browser, the menu bar, the
// tray icon and the hidden controls the version check uses.

#include <gtkmm.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/download_control.h"
#include "controls/form_panel.h"
#include "controls/skin_control.h"
#include "core/layout.h"
#include "core/uniform_sequence.h"
#include "main/CTray.h"
#include "main/IdleInhibitor.h"
#include "main/MediaPlayer.h"
#include "main/WebBrowser.h"

namespace pelko {

class Form1 : public Gtk::Window {
  public:
    // The caption, which the tray icon's tip repeats.
    static constexpr const char* kCaption = "Pelko网络电视";
    static constexpr int kClientWidth = 1016;
    static constexpr int kClientHeight = 650;

    Form1();
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // The load sequence; the window is shown afterwards unless it was unloaded.
    void Form_Load();
    // Closes the window from code, through the same request as its close button.
    void Unload();
    bool Unloaded() const { return unloaded_; }
    // Another start of Pelko was handed to this one: the window comes to
    // the front, back from the tray if it was there.
    void Reactivate();

    // For the layout passes: the client area and every control in order.
    ui::FormPanel& Panel() { return panel_; }
    std::vector<std::unique_ptr<layout::Control>> LayoutControls();
    static std::vector<layout::Control*> LayoutView(
        const std::vector<std::unique_ptr<layout::Control>>& controls);

    // The window, or the start-up question in its place, reached the screen.
    sigc::signal<void()>& Presented() { return presented_; }
    // The TV page (or whatever came instead) has been asked for.
    sigc::signal<void()>& PageRequested() { return WebBrowser1.LoadStarted(); }

    // 0 normal, 1 minimised, 2 maximised.
    int WindowState() const;
    // In fullscreen, with the whole screen to itself.
    bool FillsScreen();
    void WindowState(int state);

  private:
    // The controls on the form, in their order.
    std::vector<Gtk::Widget*> FormControls();
    void BuildMenus();
    void PlaceControls();

    void Form_Resize();
    void Form_QueryUnload();
    bool on_delete_event(GdkEventAny* event) override;
    bool on_window_state_event(GdkEventWindowState* event) override;
    void on_map() override;

    void Tray_LButtonDblClick();
    void Tray_RButtonUp();
    void Tray_TrayChanged();
    void sh_Click();
    void tp_Click();
    void max_Click();
    void min_Click();
    void TitleBarMinimize_Click();
    bool MinimizeToTrayDirectly();
    void quit_Click();
    void cl_Click();
    void tcp_Click();
    void read_Click();
    void qu_Click();
    void ab_Click();
    void ApplyDefaultSkin();
    void ApplySkinFile(const char* file);
    void wa_Click();
    void mp_Click();
    void gr_Click();
    void mac_Click();
    void st_Click();
    void bl_Click();
    void rad_Click();
    void update_Click();

    void VersionCheck();
    // Where the service's version file waits when the program folder is read-only.
    static std::string VersionCacheFolder();
    // Starts PelkoUpdate with the versions it checks the signed file against,
    // without waiting; throws when it cannot be started.
    void StartUpdater(const std::vector<std::string>& versions);

    void WebBrowser1_DocumentComplete(const std::string& url);
    void WebBrowser1_NavigateError(const std::string& url, int status);
    bool M_Dom_oncontextmenu();
    void WebBrowser1_WebProcessTerminated();
    void WebBrowser1_EnterFullscreen();
    void WebBrowser1_LeaveFullscreen();
    void WebBrowser1_PlayingChanged(bool playing);
    // The screen stays on while the page plays in a window one can see.
    void UpdateIdleInhibit();
    void WebBrowser1_MediaChanged();

    void HideToTray();
    void ShowFromTray();
    void PopupMenu(Gtk::Menu& menu);
    void Hold(bool hold);

    sigc::signal<void()> presented_;
    Gtk::Box layout_{Gtk::ORIENTATION_VERTICAL};
    Gtk::MenuBar menubar_;
    ui::FormPanel panel_{kClientWidth, kClientHeight};

    // The controls in their order, which is also their stacking from bottom to top.
    Gtk::Entry Text2;
    Gtk::Entry Text1;
    ui::DownloadControl DL;
    Gtk::Image Picture1;
    // The skin control has no window of its own and no place on the form.
    ui::SkinControl Skn;
    WebBrowser WebBrowser1;
    // The random hues: the same sequence in every run.
    skin::UniformSequence Rnd;

    // The menu tree.
    Gtk::MenuItem op{"选项"};
    Gtk::Menu op_menu_;
    Gtk::MenuItem sh{"显示主界面"};
    Gtk::MenuItem cl{"垃圾清理"};
    Gtk::MenuItem tcp{"TCP连接数修改"};
    Gtk::MenuItem update{"更新程序"};
    Gtk::MenuItem quit{"退出"};
    Gtk::MenuItem skin{"换肤"};
    Gtk::Menu skin_menu_;
    Gtk::MenuItem wa{"wina"};
    Gtk::MenuItem mp{"MediaPlayer"};
    Gtk::MenuItem gr{"Green"};
    Gtk::MenuItem mac{"Mac"};
    Gtk::MenuItem st{"Studio"};
    Gtk::MenuItem bl{"Blue"};
    Gtk::MenuItem rad{"随机换色"};
    Gtk::MenuItem windo{"窗口"};
    Gtk::Menu windo_menu_;
    Gtk::CheckMenuItem tp{"置顶"};
    Gtk::MenuItem max{"最大化"};
    Gtk::MenuItem min{"最小化"};
    Gtk::MenuItem help{"帮助"};
    Gtk::Menu help_menu_;
    Gtk::MenuItem read{"使用说明"};
    Gtk::MenuItem qu{"反馈问题"};
    Gtk::MenuItem ab{"关于程序"};

    IdleInhibitor Inhibitor;
    // The desktop's media controls and keys steer the page's media.
    MediaPlayer Player{{[this] { Reactivate(); }, [this] { quit_Click(); },
                        [this](const char* action) { WebBrowser1.Media().Command(action); }}};
    // When the page's process last ended by itself and was reloaded.
    std::optional<std::chrono::steady_clock::time_point> last_reload_;
    static constexpr std::chrono::seconds kReloadInterval{10};

    std::shared_ptr<CTray> Tray;
    sigc::connection tray_changed_;
    // The skin's title bar, whose minimise button is watched.
    Gtk::Widget* title_bar_ = nullptr;
    sigc::connection title_bar_minimize_;
    std::shared_ptr<HtmlDocument> M_Dom;
    sigc::connection dom_contextmenu_;

    Glib::RefPtr<Gtk::Application> app_;
    bool unloaded_ = false;
    bool held_ = false;
    bool setting_tp_ = false;
};

}  // namespace pelko
