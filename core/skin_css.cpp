#include "core/skin_css.h"

#include <algorithm>
#include <stdexcept>

namespace pelko::skin {
namespace {

std::string Px(int n) { return std::to_string(n) + "px"; }

// background-color and background-image for a paint; a gradient keeps its
// first stop as the colour beneath it.
std::string PaintDecl(const Paint& paint) {
    std::string out = "  background-color: " + ToHex(paint.stops.front()) + ";\n";
    if (paint.stops.size() == 1) return out + "  background-image: none;\n";
    out += "  background-image: linear-gradient(to ";
    out += paint.direction == Paint::Direction::Right ? "right" : "bottom";
    for (const Rgb& stop : paint.stops) out += ", " + ToHex(stop);
    return out + ");\n";
}

class Sheet {
  public:
    explicit Sheet(std::string scope) : scope_(std::move(scope)) {}

    // The selector of a skin class within the scope: ".skin-titlebar.scope".
    std::string Of(const char* skin_class, const std::string& rest = {}) const {
        return "." + std::string(skin_class) + "." + scope_ + rest;
    }
    // Every rule also stops the theme's transitions: a new skin or hue shows
    // at once and whole, never sliding from the old metrics to the new.
    void Rule(const std::string& selectors, const std::string& body) {
        text_ += selectors + " {\n" + body + "  transition: none;\n}\n";
    }
    std::string& Text() { return text_; }

  private:
    std::string scope_;
    std::string text_;
};

bool IsPlainClassName(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

}  // namespace

std::string BuildSkinCss(const Skin& skin, int hue, const std::string& scope,
                         const SkinConfig& config) {
    if (!IsPlainClassName(scope)) throw std::invalid_argument("bad skin scope class " + scope);
    const Skin s = skin.Rotated(hue);
    Sheet css(scope);
    const std::string window = "window" + css.Of(kWindowClass);

    // The client area behind the page: the window's own background.
    if (config.m_bSkinClientArea) {
        css.Rule(window, "  background-color: " + ToHex(s.Color("client.background")) +
                             ";\n  background-image: none;\n  color: " +
                             ToHex(s.Color("client.text")) + ";\n");
    } else {
        css.Rule(window, "  background-color: " + ToHex(config.m_BackColor) +
                             ";\n  background-image: none;\n  color: " + ToHex(config.m_ForeColor) +
                             ";\n");
    }

    // The frame. No shadow and no margin: the window's X geometry is then the
    // title bar and the content with the border around them, nothing more,
    // and the client area keeps the size the window gives it.
    const int radius = s.Metric("corner.radius");
    const std::string top_corners = Px(radius) + " " + Px(radius) + " 0 0";
    css.Rule(window + " decoration",
             "  margin: 0;\n  padding: 0;\n  box-shadow: none;\n  border-style: solid;\n"
             "  border-width: " +
                 Px(s.Metric("border.width")) + ";\n  border-color: " +
                 ToHex(s.Color("border.color")) + ";\n  border-radius: " + top_corners +
                 ";\n  background-color: " + ToHex(s.Color("border.color")) +
                 ";\n  background-image: none;\n");
    css.Rule(window + ".maximized decoration, " + window + ".fullscreen decoration, " + window +
                 ".tiled decoration",
             "  border-width: 0;\n  border-radius: 0;\n");

    // The title bar: its height is exact, its bottom line drawn inside it.
    css.Rule(css.Of(kTitleBarClass),
             "  min-height: " + Px(s.Metric("title.height")) +
                 ";\n  padding: 0 4px;\n  margin: 0;\n  border: none;\n  border-radius: " +
                 top_corners + ";\n  box-shadow: inset 0 -1px " + ToHex(s.Color("title.line")) +
                 ";\n" + PaintDecl(s.PaintOf("title.background")) +
                 "  color: " + ToHex(s.Color("title.text")) + ";\n  text-shadow: none;\n");
    css.Rule(css.Of(kTitleBarClass, ":backdrop"),
             PaintDecl(s.PaintOf("title.background.inactive")) +
                 "  color: " + ToHex(s.Color("title.text.inactive")) + ";\n");
    css.Rule(css.Of(kCaptionClass),
             "  color: " + ToHex(s.Color("title.text")) +
                 ";\n  font-size: " + Px(s.Metric("title.font.size")) +
                 ";\n  font-weight: " + s.Choice("title.font.weight") +
                 ";\n  text-shadow: none;\n  padding: 0 6px;\n  margin: 0;\n");
    css.Rule(css.Of(kCaptionClass, ":backdrop"),
             "  color: " + ToHex(s.Color("title.text.inactive")) + ";\n");
    css.Rule(css.Of(kIconClass), "  margin: 0 0 0 4px;\n  padding: 0;\n");

    // Caption buttons: the size is the outer size, border included.
    const int inner = s.Metric("button.size") - 2;
    css.Rule(css.Of(kButtonClass),
             "  min-width: " + Px(inner) + ";\n  min-height: " + Px(inner) +
                 ";\n  padding: 0;\n  margin: 0;\n  border: 1px solid " +
                 ToHex(s.Color("button.border")) +
                 ";\n  border-radius: " + Px(s.Metric("button.radius")) +
                 ";\n  box-shadow: none;\n  text-shadow: none;\n  -gtk-icon-shadow: none;\n"
                 "  outline-width: 0;\n" +
                 PaintDecl(s.PaintOf("button.background")) +
                 "  color: " + ToHex(s.Color("button.glyph")) + ";\n");
    css.Rule(css.Of(kMinimizeClass), PaintDecl(s.PaintOf("minimize.background")));
    css.Rule(css.Of(kMaximizeClass), PaintDecl(s.PaintOf("maximize.background")));
    css.Rule(css.Of(kCloseClass), PaintDecl(s.PaintOf("close.background")) +
                                      "  color: " + ToHex(s.Color("close.glyph")) + ";\n");
    css.Rule(css.Of(kButtonClass, ":hover"), PaintDecl(s.PaintOf("button.background.hover")));
    css.Rule(css.Of(kButtonClass, ":active"), PaintDecl(s.PaintOf("button.background.pressed")));
    css.Rule(css.Of(kCloseClass, ":hover") + ", " + css.Of(kCloseClass, ":active"),
             PaintDecl(s.PaintOf("close.background.hover")));

    // The menu bar keeps the theme's usual metrics whatever the skin, so that
    // switching skins never moves the client area below it.
    const std::string highlight = PaintDecl(s.PaintOf("highlight.background")) +
                                  "  color: " + ToHex(s.Color("highlight.text")) +
                                  ";\n  box-shadow: none;\n";
    css.Rule(css.Of(kMenuBarClass),
             "  padding: 0;\n  margin: 0;\n  border: none;\n  box-shadow: inset 0 -1px " +
                 ToHex(s.Color("menubar.line")) + ";\n" +
                 PaintDecl(s.PaintOf("menubar.background")) +
                 "  color: " + ToHex(s.Color("menubar.text")) + ";\n");
    css.Rule(css.Of(kMenuBarClass, " > menuitem"),
             "  min-height: 16px;\n  padding: 4px 8px;\n  margin: 0;\n  border: none;\n"
             "  box-shadow: none;\n  background-color: transparent;\n  background-image: none;\n"
             "  color: " +
                 ToHex(s.Color("menubar.text")) + ";\n  text-shadow: none;\n");
    css.Rule(css.Of(kMenuBarClass, " > menuitem:hover"), highlight);

    css.Rule(css.Of(kMenuClass),
             "  background-color: " + ToHex(s.Color("menu.background")) +
                 ";\n  background-image: none;\n  color: " + ToHex(s.Color("menu.text")) +
                 ";\n  border: 1px solid " + ToHex(s.Color("menu.border")) +
                 ";\n  border-radius: 0;\n  padding: 2px 0;\n  margin: 0;\n  box-shadow: none;\n");
    css.Rule(css.Of(kMenuClass, " menuitem"),
             "  min-height: 16px;\n  padding: 4px 6px;\n  background-color: transparent;\n"
             "  background-image: none;\n  color: " +
                 ToHex(s.Color("menu.text")) + ";\n  text-shadow: none;\n  box-shadow: none;\n");
    css.Rule(css.Of(kMenuClass, " menuitem:hover"), highlight);

    if (config.m_bApplyColors) {
        css.Rule(window + " entry", "  background-color: " + ToHex(config.PanelColor()) +
                                        ";\n  background-image: none;\n  color: " +
                                        ToHex(config.m_PanelTextColor) + ";\n");
    }

    // The skin's own rules last, so that they refine the rules above.
    css.Text() += s.Css().Render(scope, s.Hue());
    return std::move(css.Text());
}

}  // namespace pelko::skin
