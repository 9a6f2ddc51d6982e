#include "core/skin_css.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/skin_config.h"
#include "core/skin_file.h"

using pelko::skin::BuildSkinCss;
using pelko::skin::Skin;
using pelko::skin::SkinConfig;

namespace {

const std::string kSkin =
    "pelko-skin 1\n"
    "name = Css\n"
    "border.color = #102030\n"
    "border.width = 3\n"
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
    "client.background = #ff8000\n"
    "begin css\n"
    ".skin-close:hover, .skin-menu menuitem:hover label { color: #ff0000; }\n"
    "end css\n";

// The selector lists of a sheet: the text before each "{".
std::vector<std::string> Selectors(const std::string& css) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (auto open = css.find('{'); open != std::string::npos; open = css.find('{', start)) {
        const auto selector_start = css.rfind('}', open);
        const std::size_t from = selector_start == std::string::npos ? 0 : selector_start + 1;
        std::string list = css.substr(from, open - from);
        std::size_t comma = 0;
        while ((comma = list.find(',')) != std::string::npos) {
            out.push_back(list.substr(0, comma));
            list.erase(0, comma + 1);
        }
        out.push_back(list);
        start = css.find('}', open) + 1;
    }
    return out;
}

}  // namespace

// Given to the whole screen, the sheet must still reach only the skinned
// window's own widgets: every selector starts at a widget wearing the scope.
TEST(SkinCss, EveryRuleStaysInsideTheScope) {
    const Skin skin = Skin::Parse(kSkin, "t.skn");
    SkinConfig config;
    config.m_bApplyColors = true;
    const std::string css = BuildSkinCss(skin, 0, "pelko-skin-1", config);
    const std::regex scoped(R"(^\s*[a-z]*\.skin-[a-z]+\.pelko-skin-1\b)");
    const auto selectors = Selectors(css);
    ASSERT_GT(selectors.size(), 20u);
    for (const std::string& s : selectors) EXPECT_TRUE(std::regex_search(s, scoped)) << s;
    for (const char* never : {"url(", "@", "-gtk-icontheme", "image("}) {
        EXPECT_EQ(css.find(never), std::string::npos) << never;
    }
    EXPECT_THROW(BuildSkinCss(skin, 0, "x { } * ", config), std::invalid_argument);
}

TEST(SkinCss, FrameHasNoShadowOrMargin) {
    const std::string css = BuildSkinCss(Skin::Parse(kSkin, "t.skn"), 0, "s", SkinConfig{});
    const auto at = css.find("window.skin-window.s decoration {");
    ASSERT_NE(at, std::string::npos) << css;
    const std::string rule = css.substr(at, css.find('}', at) - at);
    for (const char* want :
         {"margin: 0;", "box-shadow: none;", "border-width: 3px;", "border-color: #102030;"}) {
        EXPECT_NE(rule.find(want), std::string::npos) << want << "\n" << rule;
    }
}

// A hue turns the skin's own colours, every time from the skin as drawn; the
// host's configured colours are not the skin's and never turn.
TEST(SkinCss, HueTurnsTheSkinsColoursOnly) {
    const Skin skin = Skin::Parse(kSkin, "t.skn");
    SkinConfig config;
    const std::string drawn = BuildSkinCss(skin, 0, "s", config);
    EXPECT_EQ(BuildSkinCss(skin, 360, "s", config), drawn);
    const std::string turned = BuildSkinCss(skin, 120, "s", config);
    EXPECT_NE(turned, drawn);
    // Title blue turns red, the client orange turns a green, the style
    // rules' red turns green; the greys stay.
    for (const char* want :
         {"linear-gradient(to bottom, #ff0000, #800000)", "background-color: #00ff80;",
          "color: #00ff00;", "background-color: #ffffff;"}) {
        EXPECT_NE(turned.find(want), std::string::npos) << want;
    }

    config.m_bSkinClientArea = false;
    config.m_BackColor = {0x00, 0x00, 0xff};
    const std::string plain = BuildSkinCss(skin, 120, "s", config);
    EXPECT_NE(plain.find("window.skin-window.s {\n  background-color: #0000ff;"), std::string::npos)
        << plain;
}

// The panel colour is kept as its three stored bytes, D8 E9 EC, in the order
// blue, green, red.
TEST(SkinCss, ApplyColorsPaintsEntriesInThePanelColour) {
    const Skin skin = Skin::Parse(kSkin, "t.skn");
    SkinConfig config;
    EXPECT_EQ(BuildSkinCss(skin, 0, "s", config).find(" entry {"), std::string::npos);
    config.m_bApplyColors = true;
    const std::string css = BuildSkinCss(skin, 0, "s", config);
    EXPECT_NE(css.find("window.skin-window.s entry {\n  background-color: #ece9d8;"),
              std::string::npos)
        << css;
}
