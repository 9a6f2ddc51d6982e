#include "controls/form_panel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pelko::ui {

namespace {
constexpr const char* kTagKey = "pelko-tag";
}

FormPanel::FormPanel(int design_width_px, int design_height_px)
    : design_width_(design_width_px), design_height_(design_height_px) {}

int FormPanel::ToPixels(double twips) {
    // Far beyond any screen, but inside what the toolkit's int coordinates hold.
    constexpr double kLimit = 1 << 20;
    const double px = std::clamp(twips / layout::kTwipsPerPixel, -kLimit, kLimit);
    return static_cast<int>(std::lround(px));
}

void FormPanel::Place(Gtk::Widget& child, const layout::Rect& twips) {
    if (child.get_parent() != this) put(child, 0, 0);
    bounds_[&child] = twips;
    // Placing from a resize handler happens inside the allocation that is
    // about to position the children anyway.
    if (!allocating_) queue_allocate();
}

layout::Rect FormPanel::Bounds(const Gtk::Widget& child) const {
    const auto it = bounds_.find(&child);
    if (it == bounds_.end()) throw std::invalid_argument("control is not on the form");
    return it->second;
}

double FormPanel::InnerWidth() const {
    return (last_width_ >= 0 ? last_width_ : design_width_) * layout::kTwipsPerPixel;
}

double FormPanel::InnerHeight() const {
    return (last_height_ >= 0 ? last_height_ : design_height_) * layout::kTwipsPerPixel;
}

void FormPanel::get_preferred_width_vfunc(int& minimum, int& natural) const {
    minimum = 1;
    natural = design_width_;
}

void FormPanel::get_preferred_height_vfunc(int& minimum, int& natural) const {
    minimum = 1;
    natural = design_height_;
}

void FormPanel::on_size_allocate(Gtk::Allocation& allocation) {
    set_allocation(allocation);
    allocating_ = true;
    if (allocation.get_width() != last_width_ || allocation.get_height() != last_height_) {
        last_width_ = allocation.get_width();
        last_height_ = allocation.get_height();
        try {
            resized_.emit();
        } catch (...) {
            allocating_ = false;
            throw;
        }
    }
    allocating_ = false;
    for (auto* child : get_children()) {
        if (!child->get_visible()) continue;
        // The toolkit wants every child measured before it is allocated.
        Gtk::Requisition min, nat;
        child->get_preferred_size(min, nat);
        layout::Rect r;
        if (const auto it = bounds_.find(child); it != bounds_.end()) r = it->second;
        Gtk::Allocation a(allocation.get_x() + ToPixels(r.left),
                          allocation.get_y() + ToPixels(r.top), std::max(1, ToPixels(r.width)),
                          std::max(1, ToPixels(r.height)));
        child->size_allocate(a);
    }
}

void FormPanel::on_remove(Gtk::Widget* child) {
    bounds_.erase(child);
    Gtk::Fixed::on_remove(child);
}

std::string GetTag(const Glib::ObjectBase& widget) {
    const auto* tag = static_cast<const char*>(
        g_object_get_data(const_cast<GObject*>(widget.gobj()), kTagKey));
    return tag != nullptr ? tag : "";
}

void SetTag(Glib::ObjectBase& widget, const std::string& tag) {
    g_object_set_data_full(widget.gobj(), kTagKey, g_strdup(tag.c_str()), g_free);
}

}  // namespace pelko::ui
