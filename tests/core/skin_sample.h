#pragma once

// The smallest valid skin file: the required keys only, one a line (the
// header is line 1, "client.background" line 14, a line added after it 15).

#include <string>

namespace pelko::test {

inline const std::string kMinimalSkin =
    "pelko-skin 1\n"
    "name = Test\n"
    "border.color = #10A0fF\n"
    "title.background = gradient(#0000ff, #000080)\n"
    "title.text = #ffffff\n"
    "button.background = #c0c0c0\n"
    "button.glyph = #000000\n"
    "menubar.background = #d4d0c8\n"
    "menubar.text = #000000\n"
    "menu.background = #ffffff\n"
    "menu.text = #000000\n"
    "highlight.background = #316ac5\n"
    "highlight.text = #ffffff\n"
    "client.background = #ff8000\n";

}  // namespace pelko::test
