#include <glib-unix.h>
#include <gtkmm.h>

#include <csignal>
#include <memory>

#include "controls/display_backend.h"
#include "controls/msgbox.h"
#include "updater/Arguments.h"
#include "updater/Form1.h"

int main(int argc, char** argv) {
    pelko::ui::PreferX11();
    g_set_application_name("PelkoUpdate");
    const auto versions = pelko::updater::TakeVersions(argc, argv);
    // Each start is a program of its own; no instance hands over to another.
    auto app = Gtk::Application::create(argc, argv, "", Gio::APPLICATION_NON_UNIQUE);
    std::unique_ptr<pelko::updater::Form1> form;
    app->signal_activate().connect([&] {
        try {
            form = std::make_unique<pelko::updater::Form1>(versions);
        } catch (...) {
            pelko::ui::ShowFailure(nullptr, pelko::ui::DescribeCurrentException());
            return;
        }
        app->add_window(*form);
        form->show();
    });
    // Being told to stop closes the window like its close button, so that a
    // download in progress leaves no temporary file behind, and ends the
    // wait for a new program.
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(
            signal_number,
            [](gpointer data) -> gboolean {
                auto& held = *static_cast<std::unique_ptr<pelko::updater::Form1>*>(data);
                pelko::ui::EndAllBoxes();
                if (held) held->Close();
                return G_SOURCE_CONTINUE;
            },
            &form);
    }
    const int status = app->run();
    form.reset();
    return status;
}
