#include "core/skin_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/skin_error.h"

namespace fs = std::filesystem;
using pelko::skin::Paint;
using pelko::skin::Rgb;
using pelko::skin::Skin;
using pelko::skin::SkinError;
using namespace std::string_literals;

namespace {

// The required keys only; line numbers in the tables below count from here
// (the header is line 1, "name" line 2, ..., "client.background" line 14).
const std::string kMinimal =
    "pelko-skin 1\n"
    "name = Test\n"
    "border.color = #102030\n"
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
    "client.background = #eeeeee\n";

std::string Failure(const std::string& text) {
    try {
        Skin::Parse(text, "t.skn");
    } catch (const SkinError& e) {
        return e.what();
    }
    return "(no failure)";
}

struct BadCase {
    std::string what;
    std::string text;
    std::string want;  // a piece of the message: the line and the reason
};

void ExpectRefused(const std::vector<BadCase>& cases) {
    for (const auto& c : cases) {
        const std::string message = Failure(c.text);
        EXPECT_NE(message.find(c.want), std::string::npos)
            << c.what << "\n  message: " << message << "\n  wanted: " << c.want;
        EXPECT_EQ(message.rfind("皮肤文件“t.skn”", 0), 0u) << c.what << ": " << message;
    }
}

}  // namespace

TEST(SkinFile, ReadsValuesAndFillsTheRest) {
    const Skin s =
        Skin::Parse("\xEF\xBB\xBF# A comment before the header\r\n" + kMinimal +
                        "  # an indented comment\n"
                        "title.height = 32\n"
                        "title.align = center\n"
                        "button.background.hover = gradient(right, #ffffff, #808080, #000000)\n",
                    "t.skn");
    EXPECT_EQ(s.Text("name"), "Test");
    EXPECT_EQ(s.Text("author"), "");
    EXPECT_EQ(s.Metric("title.height"), 32);
    EXPECT_EQ(s.Choice("title.align"), "center");
    EXPECT_EQ(s.PaintOf("title.background"), (Paint{{{0, 0, 255}, {0, 0, 128}}}));
    EXPECT_EQ(s.PaintOf("button.background.hover"),
              (Paint{{{255, 255, 255}, {128, 128, 128}, {0, 0, 0}}, Paint::Direction::Right}));
    // Defaults and keys that take another key's value.
    EXPECT_EQ(s.Metric("border.width"), 1);
    EXPECT_EQ(s.Metric("button.size"), 20);
    EXPECT_EQ(s.Choice("buttons.side"), "right");
    EXPECT_EQ(s.PaintOf("title.background.inactive"), s.PaintOf("title.background"));
    EXPECT_EQ(s.Color("title.line"), (Rgb{0x10, 0x20, 0x30}));
    EXPECT_EQ(s.PaintOf("button.background.pressed"), s.PaintOf("button.background.hover"));
    EXPECT_EQ(s.PaintOf("close.background"), s.PaintOf("button.background"));
    EXPECT_EQ(s.Color("close.glyph"), (Rgb{0, 0, 0}));
    EXPECT_TRUE(s.Css().Empty());
}

TEST(SkinFile, RefusesDamagedFiles) {
    const std::vector<BadCase> cases = {
        {"empty", "", "缺少第一行"},
        {"comments only", "# nothing\n\n", "缺少第一行"},
        {"no header", "name = x\n", "第 1 行：不是皮肤文件"},
        {"other version", "pelko-skin 2\n", "第 1 行：不支持的皮肤文件版本"},
        {"NUL",
         kMinimal + "title.height = 3\0"
                    "0\n"s,
         "第 15 行：含有空字符"},
        {"NUL in a comment", "pelko-skin 1\n# \0\n"s, "第 2 行：含有空字符"},
        {"overlong line", kMinimal + "# " + std::string(1100, 'x') + "\n", "第 15 行：这一行太长"},
        {"not UTF-8", kMinimal + "author = \xC3\x28\n", "第 15 行：不是有效的 UTF-8"},
        {"overlong UTF-8", kMinimal + "author = \xC0\xAF\n", "第 15 行：不是有效的 UTF-8"},
        {"control character", kMinimal + "author = a\x1b[31m\n", "第 15 行：含有控制字符"},
        {"unknown key", kMinimal + "title.colour = #000000\n",
         "第 15 行：未知的设置项“title.colour”"},
        {"key in other case", kMinimal + "Title.Height = 30\n", "第 15 行：未知的设置项"},
        {"duplicate", kMinimal + "name = Again\n", "第 15 行：设置项“name”重复（第 2 行"},
        {"no equals sign", kMinimal + "title.height 30\n", "第 15 行：这一行应写成“键 = 值”"},
        {"no value", kMinimal + "title.height =\n", "第 15 行：设置项“title.height”没有值"},
        {"short colour", kMinimal + "title.text.inactive = #fff\n",
         "第 15 行：“title.text.inactive”的值“#fff”不是颜色"},
        {"named colour", kMinimal + "title.line = red\n",
         "第 15 行：“title.line”的值“red”不是颜色"},
        {"gradient for a colour", kMinimal + "title.line = gradient(#000000, #ffffff)\n",
         "第 15 行：“title.line”的值"},
        {"one-stop gradient", kMinimal + "button.background.hover = gradient(#000000)\n",
         "第 15 行：“button.background.hover”的渐变应有 2 到 4 个颜色"},
        {"five stops",
         kMinimal +
             "button.background.hover = gradient(#000000, #000000, #000000, #000000, #000000)\n",
         "2 到 4 个颜色"},
        {"bad direction", kMinimal + "button.background.hover = gradient(up, #000000, #ffffff)\n",
         "第 15 行：“button.background.hover”的值"},
        {"unclosed gradient", kMinimal + "button.background.hover = gradient(#000000, #ffffff\n",
         "不是颜色或渐变"},
        {"too high", kMinimal + "title.height = 49\n",
         "第 15 行：“title.height”应是 20 到 48 之间的整数"},
        {"negative", kMinimal + "border.width = -1\n", "“border.width”应是 0 到 6 之间的整数"},
        {"not a number", kMinimal + "button.size = 1e1\n", "“button.size”应是 12 到 32 之间的整数"},
        {"bad choice", kMinimal + "title.align = right\n",
         "第 15 行：“title.align”应是 left/center 之一"},
        {"long name", "pelko-skin 1\nname = " + std::string(65, 'n') + "\n",
         "第 2 行：“name”最多 64 个字符"},
        {"missing key", "pelko-skin 1\nname = x\n", "：缺少必需的设置项“border.color”"},
        {"unended css", kMinimal + "begin css\n.skin-caption { color: #000000; }\n",
         "第 15 行：begin css 块没有以 end css 结束"},
        {"end without begin", kMinimal + "end css\n", "第 15 行：end css 之前没有 begin css"},
        {"two css blocks", kMinimal + "begin css\nend css\nbegin css\nend css\n",
         "第 17 行：只能有一个 begin css 块"},
        {"too large", kMinimal + std::string(Skin::kMaxFileBytes, '#'), "文件太大"},
    };
    ExpectRefused(cases);
}

// A skin file may style the skinned window and nothing else: it can neither
// load a file, an icon or an address, nor reach other windows.
TEST(SkinFile, RefusesHostileFiles) {
    auto css = [](const std::string& rules) {
        return kMinimal + "begin css\n" + rules + "\nend css\n";
    };
    const std::string outside = "皮肤文件不得引用其他文件、图标或网址";
    const std::vector<BadCase> cases = {
        {"url in a value", kMinimal + "title.background = url(/etc/passwd)\n",
         "第 15 行：" + outside},
        {"import line", kMinimal + "@import url(\"x.css\");\n", "第 15 行：" + outside},
        {"address in a value", kMinimal + "author = see http://example.com\n",
         "第 15 行：" + outside},
        {"file address", kMinimal + "author = file:/etc/passwd\n", outside},
        {"backslash", kMinimal + "author = a\\b\n", outside},
        {"url in css", css(".skin-titlebar { background-image: url(\"/tmp/x.png\"); }"),
         "第 16 行：" + outside},
        {"url in css, unquoted", css(".skin-titlebar {\n  background-image: url(x.png);\n}"),
         "第 17 行：" + outside},
        {"icon theme", css(".skin-button { background-image: -gtk-icontheme(\"x\"); }"), outside},
        {"image()", css(".skin-button { background-image: image(#000000); }"), outside},
        {"import in css", css("@import 'x.css';"), outside},
        {"define-color", css("@define-color theme_bg_color #ff0000;"),
         "第 16 行：样式中不允许 @ 规则"},
        {"escape", css(".skin-button { background-image: u\\72l(x); }"),
         "第 16 行：样式中不允许转义字符"},
        {"string", css(".skin-button { font-style: \"x\"; }"), "第 16 行：样式中不允许字符串"},
        {"whole screen", css("window { color: #000000; }"),
         "第 16 行：选择器中不允许部件类型“window”"},
        {"other class", css(".titlebar { color: #000000; }"),
         "第 16 行：选择器只能使用皮肤自己的类"},
        {"universal", css("* { color: #000000; }"), "第 16 行：样式中不允许字符“*”"},
        {"id", css("#main { color: #000000; }"), "不允许 #id 选择器"},
        {"scope after", css("label .skin-caption { color: #000000; }"),
         "选择器必须从皮肤自己的类开始"},
        {"second selector unscoped", css(".skin-caption, label { color: #000000; }"),
         "选择器必须从皮肤自己的类开始"},
        {"not()", css(".skin-button:not(.skin-close) { color: #000000; }"), "伪类“:not”"},
        {"sizing property", css(".skin-menubar { margin: 10px; }"),
         "第 16 行：不允许的样式属性“margin”"},
        {"icon source", css(".skin-button { -gtk-icon-source: none; }"),
         "不允许的样式属性“-gtk-icon-source”"},
        {"font family", css(".skin-caption { font-family: x; }"), "不允许的样式属性“font-family”"},
        {"rgb()", css(".skin-caption { color: rgb(1, 2, 3); }"), "颜色必须写成 #rrggbb"},
        {"named colour", css(".skin-caption { color: red; }"), "样式中不允许的词“red”"},
        {"short colour", css(".skin-caption { color: #fff; }"), "颜色“#fff”必须写成 #rrggbb"},
        {"important", css(".skin-caption { color: #000000 !important; }"), "样式中不允许字符“!”"},
        {"huge number", css(".skin-button { box-shadow: 0 0 0 50000px #000000; }"), "太大"},
        {"unclosed rule", css(".skin-caption { color: #000000;"), "缺少“}”"},
        {"unclosed comment", css("/* x"), "注释没有结束"},
        {"deep nesting",
         css(".skin-button { background-image: shade(shade(shade(shade(shade(#000000, 1), 1), 1), "
             "1), 1); }"),
         "函数嵌套太深"},
    };
    ExpectRefused(cases);
}

TEST(SkinFile, ReadsAndScopesItsStyleRules) {
    const Skin s =
        Skin::Parse(kMinimal +
                        "begin css\n"
                        "/* hover glow */\n"
                        ".skin-titlebar .skin-button:hover,\n"
                        "menu.skin-menu > menuitem:hover label {\n"
                        "  box-shadow: inset 0 0 0 1px alpha(#ff0000, 0.5);\n"
                        "  background-image: linear-gradient(to bottom, #ff0000, #00ff00);\n"
                        "}\n"
                        "end css\n",
                    "t.skn");
    EXPECT_EQ(s.Css().Render("sc", 0),
              ".skin-titlebar.sc .skin-button.sc:hover,\n"
              "menu.skin-menu.sc > menuitem:hover label {\n"
              "  box-shadow: inset 0 0 0 1px alpha(#ff0000, 0.5);\n"
              "  background-image: linear-gradient(to bottom, #ff0000, #00ff00);\n"
              "}\n");
    // The hue turns the rules' colours too.
    const std::string turned = s.Css().Render("sc", 120);
    EXPECT_NE(turned.find("alpha(#00ff00, 0.5)"), std::string::npos) << turned;
    EXPECT_NE(turned.find("to bottom, #00ff00, #0000ff"), std::string::npos) << turned;
}

TEST(SkinFile, RotatedTurnsEveryColourButKeepsTheSkin) {
    const Skin s = Skin::Parse(kMinimal, "t.skn");
    const Skin turned = s.Rotated(120);
    EXPECT_EQ(turned.PaintOf("title.background"), (Paint{{{255, 0, 0}, {128, 0, 0}}}));
    EXPECT_EQ(turned.Color("client.background"), (Rgb{0xee, 0xee, 0xee}));  // grey stays
    EXPECT_EQ(turned.Hue(), 120);
    EXPECT_EQ(s.PaintOf("title.background"), (Paint{{{0, 0, 255}, {0, 0, 128}}}));
    EXPECT_EQ(s.Hue(), 0);
    // Asking for a key of another kind is the program's fault, not the file's.
    EXPECT_THROW(s.Color("title.background"), std::logic_error);
    EXPECT_THROW(s.Metric("no.such.key"), std::logic_error);
}

namespace {

class SkinFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelko-skinfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Put(const std::string& name, const std::string& bytes) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string Failure(const std::string& path) {
        try {
            Skin::ReadFile(path);
        } catch (const SkinError& e) {
            return e.what();
        }
        return "(no failure)";
    }

    fs::path dir_;
};

}  // namespace

TEST_F(SkinFileOnDisk, ReadsARegularFileAndRefusesTheRest) {
    EXPECT_EQ(Skin::ReadFile(Put("good.skn", kMinimal)).Text("name"), "Test");

    const std::string fifo = (dir_ / "fifo.skn").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder.skn");
    struct Case {
        std::string path;
        std::string want;
    };
    const std::vector<Case> cases = {
        {(dir_ / "none.skn").string(), "找不到皮肤文件“" + (dir_ / "none.skn").string() + "”"},
        {(dir_ / "none" / "x.skn").string(), "找不到皮肤文件"},
        // A FIFO would block a plain open until a writer came.
        {fifo, "不是普通文件"},
        {(dir_ / "folder.skn").string(), "不是普通文件"},
        {"/dev/zero", "不是普通文件"},
        {Put("big.skn", kMinimal + std::string(Skin::kMaxFileBytes, '#')), "文件太大"},
        {Put("bad.skn", kMinimal + "oops\n"), "第 15 行：这一行应写成"},
    };
    for (const auto& c : cases) {
        const std::string message = Failure(c.path);
        EXPECT_NE(message.find(c.want), std::string::npos) << c.path << ": " << message;
    }
}
