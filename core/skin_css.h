#pragma once

// The style sheet that draws a skin: GTK CSS for the window's frame, its own
// title bar and caption buttons, the menu bar, the menus and the client area.
// Every rule carries the scope class, a class that only the skinned window's
// own widgets wear, so the sheet can be given to the whole screen and still
// reach nothing else.

#include <string>

#include "core/skin_config.h"
#include "core/skin_file.h"

namespace pelko::skin {

// Style classes the skin control puts on the widgets it draws.
inline constexpr const char* kWindowClass = "skin-window";
inline constexpr const char* kTitleBarClass = "skin-titlebar";
inline constexpr const char* kCaptionClass = "skin-caption";
inline constexpr const char* kIconClass = "skin-icon";
inline constexpr const char* kButtonClass = "skin-button";
inline constexpr const char* kMinimizeClass = "skin-minimize";
inline constexpr const char* kMaximizeClass = "skin-maximize";
inline constexpr const char* kCloseClass = "skin-close";
inline constexpr const char* kMenuBarClass = "skin-menubar";
inline constexpr const char* kMenuClass = "skin-menu";

// The sheet for the skin turned by hue degrees (taken from the skin's own
// colours), limited to the widgets that wear the scope class. The scope must
// be a plain class name: lower-case letters, digits and hyphens.
std::string BuildSkinCss(const Skin& skin, int hue, const std::string& scope,
                         const SkinConfig& config);

}  // namespace pelko::skin
