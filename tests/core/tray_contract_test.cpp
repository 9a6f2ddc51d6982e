#include "core/tray_contract.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pelko::tray;

TEST(TipField, HoldsTextNulAndSpaces) {
    TipField tip;
    EXPECT_EQ(tip.Get(), std::string(64, '\0'));
    tip.Set("Pelko网络电视");
    const std::u32string field = DecodeUtf8(tip.Get());
    ASSERT_EQ(field.size(), 64u);
    EXPECT_EQ(field.substr(0, 9), U"Pelko网络电视");
    EXPECT_EQ(field[9], U'\0');
    EXPECT_EQ(field.substr(10), std::u32string(54, U' '));
    EXPECT_EQ(tip.ForShell(), "Pelko网络电视");
}

TEST(TipField, LongTextIsCutWithoutTerminator) {
    TipField tip;
    tip.Set(std::string(70, 'a'));
    EXPECT_EQ(tip.Get(), std::string(64, 'a'));
    // The tray gets at most 63 bytes and its terminator.
    EXPECT_EQ(tip.ForShell(), std::string(63, 'a'));
}

TEST(TipField, ShellTextNeverSplitsACharacter) {
    TipField tip;
    // 30 three-byte characters: 90 bytes, cut to 21 whole characters (63 bytes).
    std::string text;
    for (int i = 0; i < 30; ++i) text += "电";
    tip.Set(text);
    EXPECT_EQ(tip.ForShell().size(), 63u);
    EXPECT_EQ(DecodeUtf8(tip.ForShell()), std::u32string(21, U'电'));
    // Shifted by one byte the cut lands inside a character and must step back.
    tip.Set("a" + text);
    EXPECT_EQ(tip.ForShell(), "a" + text.substr(0, 60));
    // Four-byte characters too.
    std::string emoji;
    for (int i = 0; i < 20; ++i) emoji += "\xF0\x9F\x93\xBA";
    tip.Set(emoji);
    EXPECT_EQ(tip.ForShell().size(), 60u);
}

TEST(TipField, BrokenUtf8IsReplacedNotPassedOn) {
    TipField tip;
    tip.Set(std::string("a\xFF\xC3") + "b\xE7\x94");
    EXPECT_EQ(DecodeUtf8(tip.ForShell()), U"a\uFFFD\uFFFDb\uFFFD\uFFFD");
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
    EXPECT_EQ(static_cast<int>(Event::LButtonDblClick), 6);
}

TEST(EventGate, NoEventWhileAnotherIsHandled) {
    EventGate gate;
    std::vector<Event> seen;
    bool nested_raised = true;
    const bool raised = gate.Dispatch(0x205, [&](Event e) {
        seen.push_back(e);
        // A click that arrives while the pop-up menu runs is dropped.
        nested_raised = gate.Dispatch(0x203, [&](Event n) { seen.push_back(n); });
    });
    EXPECT_TRUE(raised);
    EXPECT_FALSE(nested_raised);
    EXPECT_EQ(seen, std::vector<Event>{Event::RButtonUp});
    EXPECT_FALSE(gate.Busy());
    EXPECT_TRUE(gate.Dispatch(0x203, [&](Event e) { seen.push_back(e); }));
    EXPECT_EQ(seen.back(), Event::LButtonDblClick);
}

TEST(EventGate, FailingHandlerDoesNotLeaveTheGateShut) {
    EventGate gate;
    EXPECT_THROW(gate.Dispatch(0x202, [](Event) { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_FALSE(gate.Busy());
    EXPECT_FALSE(gate.Dispatch(0x200, [](Event) { FAIL(); }));
}
