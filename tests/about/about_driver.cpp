// Stands in for the main window in the tests of the About box and the menu
// commands: one small window whose buttons call what the main window's
// handlers call, each behind the same guard, and a label that counts the
// About box's load steps. It runs as an application of its own, like Pelko.

#include <gtkmm.h>

#include "controls/msgbox.h"
#include "main/Launchers.h"
#include "main/frmAbout.h"

namespace {

class DriverWindow : public Gtk::Window {
public:
    explicit DriverWindow(const Glib::RefPtr<Gtk::Application>& app) {
        set_title("about-driver");
        add(box_);
        Add("关于程序", [this, app] {
            // The first use creates the box; count its load steps from then on.
            if (!counting_.connected()) {
                counting_ = pelko::frmAbout::Instance(app).Loaded().connect(
                    [this] { loads_.set_text("载入 " + std::to_string(++load_count_)); });
            }
            pelko::ShowAbout();
        });
        Add("垃圾清理", pelko::StartClearTool);
        Add("TCP连接数修改", pelko::StartTcpTool);
        Add("使用说明", pelko::OpenReadme);
        // The browser hands a "mailto:" address to the desktop this way.
        Add("反馈问题", [] { Gio::AppInfo::launch_default_for_uri(pelko::FeedbackUrl()); });
        loads_.set_text("载入 0");
        box_.pack_start(loads_);
        show_all();
    }

private:
    template <class Fn>
    void Add(const char* caption, Fn fn) {
        auto* button = Gtk::make_managed<Gtk::Button>(caption);
        button->signal_clicked().connect(pelko::ui::Guarded(this, std::move(fn)));
        box_.pack_start(*button);
    }

    Gtk::Box box_{Gtk::ORIENTATION_VERTICAL};
    Gtk::Label loads_;
    sigc::connection counting_;
    int load_count_ = 0;
};

}  // namespace

int main() {
    auto app = Gtk::Application::create("", Gio::APPLICATION_NON_UNIQUE);
    Glib::set_application_name("Pelko");
    // Registered first: the toolkit starts up before the window is made.
    app->register_application();
    DriverWindow window(app);
    return app->run(window);
}
