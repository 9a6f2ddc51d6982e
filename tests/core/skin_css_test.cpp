#include "core/skin_css.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/skin_config.h"
#include "core/skin_file.h"
#include "tests/core/skin_sample.h"

using pelko::skin::BuildSkinCss;
using pelko::skin::Skin;
using pelko::skin::SkinConfig;

namespace {

// Orange in the client area, a border 3 pixels wide and style rules of its own.
Skin CssSkin() {
    return Skin::Parse(
        pelko::test::kMinimalSkin +
            "border.width = 3\n"
            "begin css\n"
            ".skin-close:hover, .skin-menu menuitem:hover label { color: #ff0000; }\n"
            "end css\n",
        "t.skn");
}

}  // namespace

// Given to the whole screen, the sheet must still reach only the skinned
// window's own widgets: every selector starts at a widget wearing the scope.
TEST(SkinCss, EveryRuleStaysInsideTheScope) {
    SkinConfig config;
    config.m_bApplyColors = true;
    const std::string css = BuildSkinCss(CssSkin(), 0, "pelko-skin-1", config);
    // The selectors: what is left between the rule bodies, split at the commas.
    const std::string heads = std::regex_replace(css, std::regex(R"(\{[^}]*\})"), ",");
    const std::regex scoped(R"(^[a-z]*\.skin-[a-z]+\.pelko-skin-1\b)");
    const std::regex selector(R"([^,\s][^,]*)");
    int count = 0;
    for (std::sregex_iterator it(heads.begin(), heads.end(), selector), end; it != end; ++it) {
        EXPECT_TRUE(std::regex_search(it->str(), scoped)) << it->str();
        ++count;
    }
    EXPECT_GT(count, 20);
    for (const char* never : {"url(", "@", "-gtk-icontheme", "image("}) {
        EXPECT_EQ(css.find(never), std::string::npos) << never;
    }
    EXPECT_THROW(BuildSkinCss(CssSkin(), 0, "x { } * ", config), std::invalid_argument);
}

// The frame is the border alone; a hue turns the skin's own colours, every
// time from the skin as drawn, while the host's configured colours never turn.
TEST(SkinCss, DrawsTheFrameAndTurnsOnlyTheSkinsColours) {
    const Skin skin = CssSkin();
    SkinConfig config;
    const std::string drawn = BuildSkinCss(skin, 0, "s", config);
    // A frame with a shadow or a margin would make the window larger than it looks.
    const auto at = drawn.find("window.skin-window.s decoration {");
    ASSERT_NE(at, std::string::npos) << drawn;
    const std::string frame = drawn.substr(at, drawn.find('}', at) - at);
    for (const char* want :
         {"margin: 0;", "box-shadow: none;", "border-width: 3px;", "border-color: #10a0ff;"}) {
        EXPECT_NE(frame.find(want), std::string::npos) << want << "\n" << frame;
    }
    EXPECT_EQ(drawn.find(" entry {"), std::string::npos);
    EXPECT_EQ(BuildSkinCss(skin, 360, "s", config), drawn);
    const std::string turned = BuildSkinCss(skin, 120, "s", config);
    // Title blue turns red, the client orange a green, the style rules' red
    // green; the greys stay.
    for (const char* want :
         {"linear-gradient(to bottom, #ff0000, #800000)", "background-color: #00ff80;",
          "color: #00ff00;", "background-color: #ffffff;"}) {
        EXPECT_NE(turned.find(want), std::string::npos) << want;
    }
    // The panel colour is kept as its stored bytes D8 E9 EC: blue, green, red.
    config.m_bSkinClientArea = false;
    config.m_BackColor = {0x00, 0x00, 0xff};
    config.m_bApplyColors = true;
    const std::string plain = BuildSkinCss(skin, 120, "s", config);
    for (const char* want : {"window.skin-window.s {\n  background-color: #0000ff;",
                             "window.skin-window.s entry {\n  background-color: #ece9d8;"}) {
        EXPECT_NE(plain.find(want), std::string::npos) << want << "\n" << plain;
    }
}
