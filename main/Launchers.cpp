#include "main/Launchers.h"

#include <gtkmm.h>

#include <stdexcept>
#include <vector>

#include "core/program_folder.h"
#include "main/frmAbout.h"

namespace pelko {

void StartProgram(const std::string& path) {
    // An argument vector, never a command line: a program folder with blanks
    // or any other letters reaches exec whole, with nothing to split or quote.
    Glib::spawn_async("", std::vector<std::string>{path});
}

void StartClearTool() { StartProgram(ProgramFolder() + "/tools/clear"); }

void StartTcpTool() { StartProgram(ProgramFolder() + "/tools/TCP"); }

void OpenReadme() {
    const auto readme = Gio::File::create_for_path(ProgramFolder() + "/readme.txt");
    // The launch context lets the desktop show that a program is starting.
    const Glib::RefPtr<Gio::AppLaunchContext> context =
        Gdk::Display::get_default()->get_app_launch_context();
    // The program for plain text, whatever the file's content looks like,
    // as the read-me is always opened in the text editor.
    if (const auto editor = Gio::AppInfo::get_default_for_type("text/plain", false)) {
        editor->launch(readme, context);
        return;
    }
    // No such program: the desktop's own opener tries, and its failure says
    // in the desktop's words that nothing can open the file.
    Gio::AppInfo::launch_default_for_uri(readme->get_uri(), context);
}

std::string FeedbackUrl() { return std::string("mailto:") + kFeedbackAddress; }

void ShowAbout() {
    const auto app = Glib::RefPtr<Gtk::Application>::cast_dynamic(Gio::Application::get_default());
    if (!app) throw std::logic_error("没有可以放置关于框的应用程序");
    frmAbout::Instance(app).ShowBox();
}

}  // namespace pelko
