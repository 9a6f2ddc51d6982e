#include "core/skin_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "core/skin_error.h"
#include "tests/core/skin_sample.h"
#include "tests/support/temp_dir.h"

using pelko::skin::Paint;
using pelko::skin::Rgb;
using pelko::skin::Skin;
using pelko::skin::SkinError;
using namespace std::string_literals;

namespace {

const std::string& kMinimal = pelko::test::kMinimalSkin;

template <typename Read>
std::string Failure(Read read) {
    try {
        read();
    } catch (const SkinError& e) {
        return e.what();
    }
    return "(no failure)";
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
