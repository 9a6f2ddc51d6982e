#pragma once

// One of the skinned title bar's buttons. The skin's style sheet paints its
// face and border; the button draws its own glyph in the sheet's text colour,
// so that no icon file is ever needed.

#include <gtkmm.h>

namespace pelko::ui {

class CaptionButton : public Gtk::Button {
  public:
    enum class Role { Minimize, Maximize, Close };

    explicit CaptionButton(Role role);

    Role GetRole() const { return role_; }
    // A maximised window's maximise button shows the restore glyph.
    void SetMaximized(bool maximized);

  protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;

  private:
    Role role_;
    bool maximized_ = false;
};

}  // namespace pelko::ui
