#pragma once

// The skin control `Skn`: it reads skin files and draws a window after them -
// its frame and title bar (client-side decoration), the menu bar and menus
// and the client area behind the page - through one GTK style sheet built
// from the file and given to the screen at application priority. Each apply
// and each hue change swaps the whole sheet in one step.
//
// Failures are exceptions: every operation throws skin::SkinError, whose
// what() is a description for the user (pelko::ui::ShowFailure shows it), and
// a failed operation leaves the window with the look it had.
//
// Typical use, as the main window does it:
//     Skn.LoadSkinFile(ProgramFolder() + "/Skins/mac.skn");
//     Skn.ApplySkin(*this);
//     Skn.GetColorScheme()->SetHue(hue);

#include <gtkmm.h>

#include <memory>
#include <string>

#include "controls/skin_color_scheme.h"
#include "core/skin_config.h"

namespace pelko::ui {

class SkinControl {
  public:
    explicit SkinControl(skin::SkinConfig config = {});
    ~SkinControl();
    SkinControl(const SkinControl&) = delete;
    SkinControl& operator=(const SkinControl&) = delete;

    // Load skin file: reads the file at the full path (its name matched
    // without regard to letter case) and holds it as the current skin, at the
    // configured hue. The window's look does not change until ApplySkin.
    void LoadSkinFile(const std::string& path);

    // Apply skin to window: draws the window with the current skin. The first
    // apply gives the window its skinned title bar and should come before the
    // window is shown. A shown window keeps the size of its content, so the
    // client area does not move when a skin with another title bar comes.
    void ApplySkin(Gtk::Window& window);

    // Get colour scheme: a fresh colour-scheme object of the current skin.
    std::shared_ptr<SkinColorScheme> GetColorScheme();

    const skin::SkinConfig& Config() const;
    // The style sheet in effect (empty before the first apply), and the class
    // that scopes it to this control's windows; for tests and measurements.
    std::string StyleSheet() const;
    std::string Scope() const;

    class State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace pelko::ui
