#include "core/skin_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "core/skin_config.h"
#include "core/skin_css.h"
#include "core/skin_error.h"
#include "tests/support/temp_dir.h"

using pelko::skin::BuildSkinCss;
using pelko::skin::Paint;
using pelko::skin::Rgb;
using pelko::skin::Skin;
using pelko::skin::SkinConfig;
using pelko::skin::SkinError;
using namespace std::string_literals;

namespace {

// The smallest valid skin file: the required keys only, one a line (the
// header is line 1, "client.background" line 14, a line added after it 15).
const std::string kMinimal =
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

template <typename Read>
std::string Failure(Read read) {
    try {
        read();
    } catch (const SkinError& e) {
        return e.what();
    }
    return "(no failure)";
}

// Orange in the client area, a border 3 pixels wide and style rules of its own.
Skin CssSkin() {
    return Skin::Parse(
        kMinimal +
            "border.width = 3\n"
            "begin css\n"
            ".skin-close:hover, .skin-menu menuitem:hover label { color: #ff0000; }\n"
            "end css\n",
        "t.skn");
}

}  // namespace

TEST(SkinFile, ReadsValuesAndFillsTheRest) {
    const Skin s = Skin::Parse("\xEF\xBB\xBF# A comment before the header\r\n" + kMinimal +
                                   "title.height = 32\n"
                                   "button.background.hover = gradient(right, #ffffff, #000000)\n",
                               "t.skn");
    EXPECT_EQ(s.Metric("title.height"), 32);
    EXPECT_EQ(s.PaintOf("title.background"), (Paint{{{0, 0, 255}, {0, 0, 128}}}));
    EXPECT_EQ(s.PaintOf("button.background.hover"),
              (Paint{{{255, 255, 255}, {0, 0, 0}}, Paint::Direction::Right}));
    // Keys that take another key's value when the file has none.
    EXPECT_EQ(s.Color("title.line"), (Rgb{0x10, 0xA0, 0xFF}));
    EXPECT_EQ(s.PaintOf("title.background.inactive"), s.PaintOf("title.background"));
    EXPECT_EQ(s.PaintOf("button.background.pressed"), s.PaintOf("button.background.hover"));
}

// A damaged file names the line and the reason. A skin file may style the
// skinned window and nothing else: it can neither load a file, an icon or an
// address, nor reach other windows.
TEST(SkinFile, RefusesDamagedAndHostileFiles) {
    auto css = [](const std::string& rules) {
        return kMinimal + "begin css\n" + rules + "\nend css\n";
    };
    const std::string outside = "皮肤文件不得引用其他文件、图标或网址";
    // The file's text and a piece of the message.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"name = x\n", "第 1 行：不是皮肤文件"},
        {kMinimal + "title.height = 3\0x\n"s, "第 15 行：含有空字符"},
        {kMinimal + "# " + std::string(1100, 'x') + "\n", "第 15 行：这一行太长"},
        {kMinimal + "author = \xC0\xAF\n", "第 15 行：不是有效的 UTF-8"},
        {kMinimal + "title.colour = #000000\n", "第 15 行：未知的设置项“title.colour”"},
        {kMinimal + "title.line = #fff\n", "第 15 行：“title.line”的值“#fff”不是颜色"},
        {kMinimal + "title.height = 49\n", "第 15 行：“title.height”应是 20 到 48 之间的整数"},
        {"pelko-skin 1\nname = x\n", "：缺少必需的设置项“border.color”"},
        {kMinimal + "begin css\n.skin-caption { color: #000000; }\n",
         "第 15 行：begin css 块没有以 end css 结束"},
        {kMinimal + "title.background = url(/etc/passwd)\n", "第 15 行：" + outside},
        {kMinimal + "@import url(\"x.css\");\n", "第 15 行：" + outside},
        {kMinimal + "author = see http://example.com\n", outside},
        {kMinimal + "author = file:/etc/passwd\n", outside},
        {css(".skin-titlebar {\n  background-image: url(x.png);\n}"), "第 17 行：" + outside},
        {css(".skin-button { background-image: -gtk-icontheme(\"x\"); }"), outside},
        {css(".skin-button { background-image: u\\72l(x); }"), "第 16 行：样式中不允许转义字符"},
        {css("@define-color theme_bg_color #ff0000;"), "样式中不允许 @ 规则"},
        {css("window { color: #000000; }"), "第 16 行：选择器中不允许部件类型“window”"},
        {css(".titlebar { color: #000000; }"), "选择器只能使用皮肤自己的类"},
        {css(".skin-caption, label { color: #000000; }"), "选择器必须从皮肤自己的类开始"},
    };
    for (const auto& [text, want] : cases) {
        const std::string message = Failure([&] { Skin::Parse(text, "t.skn"); });
        EXPECT_NE(message.find(want), std::string::npos) << message << "\n  wanted: " << want;
        EXPECT_EQ(message.rfind("皮肤文件“t.skn”", 0), 0u) << message;
    }
}

TEST(SkinFile, ReadsOnlyABoundedRegularFile) {
    const pelko::test::TempDir dir;
    EXPECT_EQ(Skin::ReadFile(dir.Put("good.skn", kMinimal)).Text("name"), "Test");
    // A FIFO would block a plain open until a writer came.
    const std::string fifo = dir.PathOf("fifo.skn");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.PathOf("none.skn"), "找不到皮肤文件“" + dir.PathOf("none.skn") + "”"},
        {fifo, "不是普通文件"},
        {dir.Put("big.skn", kMinimal + std::string(Skin::kMaxFileBytes, '#')), "文件太大"},
    };
    for (const auto& [path, want] : cases) {
        const std::string message = Failure([&] { Skin::ReadFile(path); });
        EXPECT_NE(message.find(want), std::string::npos) << path << ": " << message;
    }
}

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
