#include <glib-unix.h>
#include <gtkmm.h>

#include <csignal>
#include <functional>
#include <memory>

#include "controls/display_backend.h"
#include "controls/msgbox.h"
#include "main/Form1.h"
#include "main/UpdateHandshake.h"

namespace {

// One Pelko per user: a second start hands itself to the first over the
// session bus and ends. Without a session bus each start runs on its own,
// and the web data store keeps two of them apart.
constexpr const char* kApplicationId = "net.pelko.Pelko";

}  // namespace

int main(int argc, char** argv) {
    // First of all: the updater's socket must reach no other program.
    const auto handshake = pelko::UpdateHandshake::FromEnvironment();
    pelko::ui::PreferX11();
    auto app = Gtk::Application::create(argc, argv, kApplicationId);
    Glib::set_application_name("Pelko");
    std::unique_ptr<pelko::Form1> form;

    auto start = [&] {
        // A main window that was closed while the About box kept the program
        // running makes way for a new one.
        form.reset();
        try {
            form = std::make_unique<pelko::Form1>();
        } catch (...) {
            pelko::ui::ShowFailure(nullptr, pelko::ui::DescribeCurrentException());
            return;
        }
        app->add_window(*form);
        if (handshake) {
            form->Presented().connect([&handshake] { handshake->WindowShown(); });
            form->PageRequested().connect([&handshake] { handshake->PageRequested(); });
        }
        try {
            form->Form_Load();
        } catch (...) {
            pelko::ui::ShowFailure(nullptr, pelko::ui::DescribeCurrentException());
        }
        if (!form->Unloaded()) form->show();
    };
    app->signal_activate().connect([&] {
        if (form && !form->Unloaded()) {
            form->Reactivate();
            return;
        }
        start();
    });

    // The session ending (or a kill from the terminal) closes the window the
    // way its close button does, so that the tray icon goes and the page's
    // data reach the disk.
    std::function<void()> close = [&] {
        pelko::ui::EndAllBoxes();
        if (form && !form->Unloaded()) form->Unload();
        app->quit();
    };
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(
            sig,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_CONTINUE;
            },
            &close);
    }

    const int status = app->run();
    form.reset();
    return status;
}
