#include <gtkmm.h>

#include <memory>

#include "controls/msgbox.h"
#include "main/Form1.h"

int main(int argc, char** argv) {
    // Each start is a program of its own; no instance hands over to another.
    auto app = Gtk::Application::create(argc, argv, "", Gio::APPLICATION_NON_UNIQUE);
    Glib::set_application_name("Pelko");
    std::unique_ptr<pelko::Form1> form;
    app->signal_activate().connect([&] {
        try {
            form = std::make_unique<pelko::Form1>();
        } catch (...) {
            pelko::ui::ShowFailure(nullptr, pelko::ui::DescribeCurrentException());
            return;
        }
        app->add_window(*form);
        try {
            form->Form_Load();
        } catch (...) {
            pelko::ui::ShowFailure(nullptr, pelko::ui::DescribeCurrentException());
        }
        if (!form->Unloaded()) form->show();
    });
    return app->run();
}
