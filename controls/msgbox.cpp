#include "controls/msgbox.h"

#include <glibmm/exception.h>

#include <memory>

namespace pelko::ui {

namespace {

Gtk::MessageType TypeFor(Icon icon) {
    switch (icon) {
        case Icon::Information:
            return Gtk::MESSAGE_INFO;
        case Icon::Question:
            return Gtk::MESSAGE_QUESTION;
        case Icon::Warning:
            return Gtk::MESSAGE_WARNING;
        case Icon::Critical:
            return Gtk::MESSAGE_ERROR;
        case Icon::None:
            break;
    }
    return Gtk::MESSAGE_OTHER;
}

// Set once the program is told to stop: every box still open is answered
// for the user, and none opens any more.
bool stopping = false;

}  // namespace

void EndAllBoxes() {
    stopping = true;
    for (Gtk::Window* window : Gtk::Window::list_toplevels()) {
        if (auto* box = dynamic_cast<Gtk::MessageDialog*>(window))
            box->response(Gtk::RESPONSE_NONE);
    }
}

Answer MessageBox(Gtk::Window* parent, const Glib::ustring& text, const Glib::ustring& title,
                  Icon icon, Buttons buttons) {
    // The cautious answer: no update, no change.
    if (stopping) return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    std::unique_ptr<Gtk::MessageDialog> box;
    // A hidden or unmapped parent would keep the box from showing; such a
    // box stands on its own and stays above.
    if (parent != nullptr && parent->get_visible()) {
        box = std::make_unique<Gtk::MessageDialog>(*parent, text, false, TypeFor(icon),
                                                   Gtk::BUTTONS_NONE, true);
    } else {
        box = std::make_unique<Gtk::MessageDialog>(text, false, TypeFor(icon), Gtk::BUTTONS_NONE,
                                                   true);
        box->set_keep_above(true);
        box->set_position(Gtk::WIN_POS_CENTER);
    }
    box->set_title(title);
    if (buttons == Buttons::YesNo) {
        box->set_deletable(false);
        box->add_button("是(_Y)", Gtk::RESPONSE_YES);
        box->add_button("否(_N)", Gtk::RESPONSE_NO);
        box->set_default_response(Gtk::RESPONSE_YES);
    } else {
        box->add_button("确定", Gtk::RESPONSE_OK);
        box->set_default_response(Gtk::RESPONSE_OK);
    }
    // A question is answered, never dismissed: like the classic Yes/No box it
    // has no close button, and Escape leaves it open.
    int response = box->run();
    while (buttons == Buttons::YesNo && response != Gtk::RESPONSE_YES &&
           response != Gtk::RESPONSE_NO && !stopping) {
        response = box->run();
    }
    box->hide();
    if (buttons == Buttons::YesNo) return response == Gtk::RESPONSE_YES ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

Glib::ustring DescribeCurrentException() {
    try {
        throw;
    } catch (const Glib::Exception& e) {
        return e.what();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "未知错误";
    }
}

void ShowFailure(Gtk::Window* parent, const Glib::ustring& description) {
    const char* name = g_get_application_name();
    MessageBox(parent, description, name != nullptr ? name : "", Icon::Critical, Buttons::Ok);
}

}  // namespace pelko::ui
