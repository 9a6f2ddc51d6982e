#include "core/tray_contract.h"
#include "core/tray_pixmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pelko::tray;

// The field the tray reads is 64 bytes: the text, a terminator and blanks.
// What the shell gets is at most 63 bytes, cut between characters, with
// broken UTF-8 replaced rather than passed on.
TEST(TipField, FieldAndShellText) {
    TipField tip;
    EXPECT_EQ(tip.Get(), std::string(64, '\0'));
    tip.Set("Pelko网络电视");
    EXPECT_EQ(DecodeUtf8(tip.Get()), U"Pelko网络电视" + std::u32string(1, U'\0') +
                                         std::u32string(54, U' '));
    tip.Set(std::string(70, 'a'));
    EXPECT_EQ(tip.Get(), std::string(64, 'a'));

    std::string wide, emoji;  // 90 bytes of three-byte characters, 80 of four-byte ones
    for (int i = 0; i < 30; ++i) wide += "电";
    for (int i = 0; i < 20; ++i) emoji += "\xF0\x9F\x93\xBA";
    const std::pair<std::string, std::string> cases[] = {
        {"Pelko网络电视", "Pelko网络电视"},
        {std::string(70, 'a'), std::string(63, 'a')},
        {wide, wide.substr(0, 63)},
        {"a" + wide, "a" + wide.substr(0, 60)},  // the cut steps back out of a character
        {emoji, emoji.substr(0, 60)},
        {"a\xFF\xC3" "b\xE7\x94", "a\uFFFD\uFFFDb\uFFFD\uFFFD"},
    };
    for (const auto& [text, shell] : cases) {
        tip.Set(text);
        EXPECT_EQ(tip.ForShell(), shell) << text;
    }
    EXPECT_EQ(DecodeUtf8("\xC0\x80"), U"\uFFFD\uFFFD");  // overlong NUL
    EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");  // surrogate
}

TEST(TrayMessages, ButtonsAndActionsMapToTheSixEvents) {
    struct Case {
        unsigned button;
        Action action;
        Event event;
    };
    const std::vector<Case> cases = {
        {1, Action::Down, Event::LButtonDown},   {1, Action::Up, Event::LButtonUp},
        {1, Action::DoubleClick, Event::LButtonDblClick}, {3, Action::Down, Event::RButtonDown},
        {3, Action::Up, Event::RButtonUp},       {3, Action::DoubleClick, Event::RButtonDblClick},
        {2, Action::Down, Event::None},          {2, Action::Up, Event::None},
        {2, Action::DoubleClick, Event::None},   {8, Action::Down, Event::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EventFor(MessageFor(c.button, c.action)), c.event) << c.button;
    }
    EXPECT_EQ(EventFor(0x200), Event::None);
    EXPECT_EQ(EventFor(0x205), Event::RButtonUp);
}

// A click that arrives while the pop-up menu runs is dropped, and a handler
// that fails does not leave the gate shut.
TEST(EventGate, NoEventWhileAnotherIsHandled) {
    EventGate gate;
    std::vector<Event> seen;
    bool nested_raised = true;
    const bool raised = gate.Dispatch(0x205, [&](Event e) {
        seen.push_back(e);
        nested_raised = gate.Dispatch(0x203, [&](Event n) { seen.push_back(n); });
    });
    EXPECT_TRUE(raised);
    EXPECT_FALSE(nested_raised);
    EXPECT_EQ(seen, std::vector<Event>{Event::RButtonUp});
    EXPECT_THROW(gate.Dispatch(0x202, [](Event) { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_FALSE(gate.Busy());
    EXPECT_FALSE(gate.Dispatch(0x200, [](Event) { FAIL(); }));
    EXPECT_TRUE(gate.Dispatch(0x203, [&](Event e) { seen.push_back(e); }));
    EXPECT_EQ(seen.back(), Event::LButtonDblClick);
}

TEST(TrayPixmap, ReordersEachPixelDropsRowPaddingAndRefusesWhatDoesNotAddUp) {
    // Two RGBA pixels per row, two bytes of padding after each row.
    const std::uint8_t rgba[] = {1, 2,  3,  4,  5,  6,  7,  8,  0xEE, 0xEE,
                                 9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE};
    EXPECT_EQ(ToNetworkArgb({rgba, 2, 2, 10, 4}),
              (std::vector<std::uint8_t>{4, 1, 2, 3, 8, 5, 6, 7, 12, 9, 10, 11, 16, 13, 14, 15}));
    // A picture without alpha is opaque.
    const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ToNetworkArgb({rgb, 2, 1, 6, 3}),
              (std::vector<std::uint8_t>{0xFF, 1, 2, 3, 0xFF, 4, 5, 6}));
    // An inconsistent picture gives no icon.
    const std::uint8_t px[16] = {};
    EXPECT_TRUE(ToNetworkArgb({nullptr, 1, 1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 0, 1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 1, -1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 2, 2, 7, 4}).empty());  // rows shorter than their pixels
    EXPECT_TRUE(ToNetworkArgb({px, 1, 1, 4, 2}).empty());
}
