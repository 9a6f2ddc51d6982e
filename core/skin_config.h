#pragma once

// The skin control's configuration, set once when the window is made and never
// changed while the program runs. The defaults are the main window's settings.

#include <array>
#include <cstdint>
#include <string>

#include "core/skin_color.h"

namespace pelko::skin {

struct SkinConfig {
    std::string m_bstrAuthor;
    std::string m_bstrDescription;
    std::string m_bstrApplication;
    // The hue every freshly loaded skin starts with; 0 is the skin as drawn.
    int m_nHue = 0;
    // The client area's colours when the skin does not paint it.
    Rgb m_BackColor{0xFF, 0xFF, 0xFF};
    Rgb m_ForeColor{0x00, 0x00, 0x00};
    // Kept as the three stored bytes, which are in the order blue, green, red
    // (the order of a bitmap's pixel): D8 E9 EC is the warm grey #ECE9D8.
    std::array<std::uint8_t, 3> m_PanelColor{0xD8, 0xE9, 0xEC};
    Rgb m_PanelTextColor{0x00, 0x00, 0x00};
    // On: the client area's entry fields take the panel colours as well.
    bool m_bApplyColors = false;
    // On: the skin paints the client area behind the page too.
    bool m_bSkinClientArea = true;
    std::string m_bstrName;
    std::string m_bstrTag;

    Rgb PanelColor() const { return {m_PanelColor[2], m_PanelColor[1], m_PanelColor[0]}; }
};

}  // namespace pelko::skin
