#include "controls/form_panel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pelko::ui {

FormPanel::FormPanel(int design_width_px, int design_height_px)
    : design_width_(design_width_px), design_height_(design_height_px) {}

int FormPanel::ToPixels(double twips) {
    // Far beyond any screen, but inside what the toolkit's int coordinates hold.
    constexpr double kLimit = 1 << 20;
    const double px = std::clamp(twips / layout::kTwipsPerPixel, -kLimit, kLimit);
    return static_cast<int>(std::lround(px));
}

void FormPanel::Place(Gtk::Widget& child, const layout::Rect& twips) {
    const int x = ToPixels(twips.left);
    const int y = ToPixels(twips.top);
    const int w = std::max(0, ToPixels(twips.width));
    const int h = std::max(0, ToPixels(twips.height));
    if (child.get_parent() == this) {
        move(child, x, y);
    } else {
        put(child, x, y);
    }
    child.set_size_request(w, h);
    bounds_[&child] = twips;
}

layout::Rect FormPanel::Bounds(const Gtk::Widget& child) const {
    const auto it = bounds_.find(&child);
    if (it == bounds_.end()) throw std::invalid_argument("control is not on the form");
    return it->second;
}

double FormPanel::InnerWidth() const {
    const int w = get_realized() ? get_allocated_width() : design_width_;
    return w * layout::kTwipsPerPixel;
}

double FormPanel::InnerHeight() const {
    const int h = get_realized() ? get_allocated_height() : design_height_;
    return h * layout::kTwipsPerPixel;
}

void FormPanel::get_preferred_width_vfunc(int& minimum, int& natural) const {
    minimum = 1;
    natural = design_width_;
}

void FormPanel::get_preferred_height_vfunc(int& minimum, int& natural) const {
    minimum = 1;
    natural = design_height_;
}

void FormPanel::on_remove(Gtk::Widget* child) {
    bounds_.erase(child);
    Gtk::Fixed::on_remove(child);
}

}  // namespace pelko::ui
