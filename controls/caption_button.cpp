#include "controls/caption_button.h"

#include <algorithm>
#include <cmath>

#include "core/skin_css.h"

namespace pelko::ui {
namespace {

const char* AccessibleName(CaptionButton::Role role, bool maximized) {
    switch (role) {
        case CaptionButton::Role::Minimize:
            return "最小化";
        case CaptionButton::Role::Maximize:
            return maximized ? "还原" : "最大化";
        case CaptionButton::Role::Close:
            return "关闭";
    }
    return "";
}

}  // namespace

CaptionButton::CaptionButton(Role role) : role_(role) {
    // The window keeps the focus: a caption button is for the mouse only.
    set_can_focus(false);
    set_focus_on_click(false);
    set_valign(Gtk::ALIGN_CENTER);
    auto style = get_style_context();
    style->add_class(skin::kButtonClass);
    switch (role) {
        case Role::Minimize:
            style->add_class(skin::kMinimizeClass);
            break;
        case Role::Maximize:
            style->add_class(skin::kMaximizeClass);
            break;
        case Role::Close:
            style->add_class(skin::kCloseClass);
            break;
    }
    set_name(role == Role::Minimize   ? "skin-minimize"
             : role == Role::Maximize ? "skin-maximize"
                                      : "skin-close");
    get_accessible()->set_name(AccessibleName(role_, maximized_));
}

void CaptionButton::SetMaximized(bool maximized) {
    if (maximized == maximized_) return;
    maximized_ = maximized;
    get_accessible()->set_name(AccessibleName(role_, maximized_));
    queue_draw();
}

bool CaptionButton::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    Gtk::Button::on_draw(cr);

    const auto color = get_style_context()->get_color(get_state_flags());
    const double w = get_allocated_width();
    const double h = get_allocated_height();
    // The glyph fills about two fifths of the face, on whole pixels so that
    // its lines stay sharp at any button size.
    const double side = std::max(4.0, std::floor(std::min(w, h) * 0.4));
    const double x = std::floor((w - side) / 2) + 0.5;
    const double y = std::floor((h - side) / 2) + 0.5;
    const double line = std::max(1.0, std::floor(side / 6));

    cr->save();
    cr->set_source_rgba(color.get_red(), color.get_green(), color.get_blue(), color.get_alpha());
    cr->set_line_width(line);
    cr->set_line_cap(Cairo::LINE_CAP_SQUARE);
    switch (role_) {
        case Role::Minimize:
            cr->move_to(x, y + side - line / 2);
            cr->line_to(x + side, y + side - line / 2);
            cr->stroke();
            break;
        case Role::Maximize:
            if (maximized_) {
                const double s = std::floor(side * 0.75);
                cr->rectangle(x, y + side - s, s, s);
                cr->stroke();
                cr->move_to(x + side - s, y + side - s);
                cr->line_to(x + side - s, y);
                cr->line_to(x + side, y);
                cr->line_to(x + side, y + s);
                cr->line_to(x + s, y + s);
                cr->stroke();
            } else {
                cr->rectangle(x, y, side, side);
                cr->stroke();
                cr->move_to(x, y + line);
                cr->line_to(x + side, y + line);
                cr->stroke();
            }
            break;
        case Role::Close:
            cr->set_line_cap(Cairo::LINE_CAP_ROUND);
            cr->move_to(x, y);
            cr->line_to(x + side, y + side);
            cr->move_to(x + side, y);
            cr->line_to(x, y + side);
            cr->stroke();
            break;
    }
    cr->restore();
    return true;
}

}  // namespace pelko::ui
