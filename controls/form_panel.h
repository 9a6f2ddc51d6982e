#pragma once

// The client area of a form: children stand at rectangles given in twips, in
// the order they were placed (later ones on top), and the panel asks for no
// size of its own, so the window can be made smaller than its design.

#include <gtkmm.h>

#include <map>
#include <string>

#include "core/layout.h"

namespace pelko::ui {

class FormPanel : public Gtk::Fixed {
public:
    FormPanel(int design_width_px, int design_height_px);

    // Places a child (adding it on first use) at a rectangle in twips.
    void Place(Gtk::Widget& child, const layout::Rect& twips);
    // The rectangle last given to a child, in twips; throws for a stranger.
    layout::Rect Bounds(const Gtk::Widget& child) const;

    // The inner size in twips: the allocation once there is one, the design before.
    double InnerWidth() const;
    double InnerHeight() const;

    // Emitted from the allocation whenever the inner size has changed;
    // children placed by its handlers take their new place in the same pass.
    sigc::signal<void()>& signal_resized() { return resized_; }

    static int ToPixels(double twips);

protected:
    void get_preferred_width_vfunc(int& minimum, int& natural) const override;
    void get_preferred_height_vfunc(int& minimum, int& natural) const override;
    void on_size_allocate(Gtk::Allocation& allocation) override;
    void on_remove(Gtk::Widget* child) override;

private:
    int design_width_;
    int design_height_;
    int last_width_ = -1;
    int last_height_ = -1;
    bool allocating_ = false;
    std::map<const Gtk::Widget*, layout::Rect> bounds_;
    sigc::signal<void()> resized_;
};

// The tag text every control carries, kept on the widget itself.
std::string GetTag(const Glib::ObjectBase& widget);
void SetTag(Glib::ObjectBase& widget, const std::string& tag);

}  // namespace pelko::ui
