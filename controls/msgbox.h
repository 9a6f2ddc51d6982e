#pragma once

// Message boxes as the programs ask their questions: modal, with a text, a
// title, an icon and Chinese button captions whatever the desktop's locale.

#include <gtkmm.h>

#include <exception>
#include <string>
#include <utility>

namespace pelko::ui {

enum class Icon { None, Information, Question, Warning, Critical };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

// Runs a nested main loop until the user answers. A Yes/No question can only
// be answered; closing an OK box counts as OK.
Answer MessageBox(Gtk::Window* parent, const Glib::ustring& text, const Glib::ustring& title,
                  Icon icon, Buttons buttons);

// The program is told to stop (SIGTERM, the session ending): the boxes open
// now end, a question as answered No, and later ones return at once.
void EndAllBoxes();

// The box for a failure nobody else handled: its description, the
// program's name as title, and the program keeps running.
void ShowFailure(Gtk::Window* parent, const Glib::ustring& description);

// The description of whatever is in flight, for ShowFailure.
Glib::ustring DescribeCurrentException();

// Wraps an event handler so that a failure inside it ends in ShowFailure
// instead of leaving the handler through the toolkit's C frames.
template <class Fn>
auto Guarded(Gtk::Window* parent, Fn fn) {
    return [parent, fn = std::move(fn)](auto&&... args) {
        try {
            return fn(std::forward<decltype(args)>(args)...);
        } catch (...) {
            ShowFailure(parent, DescribeCurrentException());
            using R = decltype(fn(std::forward<decltype(args)>(args)...));
            if constexpr (!std::is_void_v<R>) return R{};
        }
    };
}

}  // namespace pelko::ui
