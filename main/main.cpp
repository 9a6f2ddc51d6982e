#include <gtkmm.h>

int main(int argc, char** argv) {
    auto app = Gtk::Application::create(argc, argv, "", Gio::APPLICATION_NON_UNIQUE);
    Gtk::Window w;
    return app->run(w);
}
