#pragma once

// What the tray icon promises its owner, free of any toolkit: the tip field,
// the six mouse events and the rule that no event of one icon is raised while
// another of its events is still being handled.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pelko::tray {

// The tip is a field of exactly 64 characters: the text, one NUL, then
// spaces; a text of 64 characters or more is cut and has no NUL. A new field
// holds 64 NULs.
class TipField {
public:
    static constexpr std::size_t kChars = 64;
    // What the tray receives: at most 63 bytes of UTF-8, cut on a character
    // boundary, so that with its terminator it fits 64 bytes.
    static constexpr std::size_t kShellBytes = 64;

    TipField();
    void Set(std::string_view utf8);
    // All 64 characters, in UTF-8 (the NUL and the padding included).
    std::string Get() const;
    // The text up to the field's NUL, cut to fit kShellBytes with its terminator.
    std::string ForShell() const;

private:
    std::u32string field_;
};

// Decodes UTF-8; a byte that does not start a valid sequence reads as U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view text);
// The longest prefix of a valid UTF-8 text that fits max_bytes, whole characters only.
std::string CutUtf8(std::string_view utf8, std::size_t max_bytes);

// The mouse messages the tray reports, numbered as the desktop's classic
// mouse messages; the six events carry the same identifiers everywhere.
enum class Message : int {
    MouseMove = 0x200,
    LButtonDown = 0x201,
    LButtonUp = 0x202,
    LButtonDblClick = 0x203,
    RButtonDown = 0x204,
    RButtonUp = 0x205,
    RButtonDblClick = 0x206,
    MButtonDown = 0x207,
    MButtonUp = 0x208,
    MButtonDblClick = 0x209,
};

enum class Event : int {
    None = 0,
    RButtonDown = 1,
    RButtonUp = 2,
    RButtonDblClick = 3,
    LButtonDown = 4,
    LButtonUp = 5,
    LButtonDblClick = 6,
};

enum class Action { Down, Up, DoubleClick };

// Button 1 is the left, 2 the middle and 3 the right button; anything else
// reports as a mere move, which raises nothing.
int MessageFor(unsigned button, Action action);
Event EventFor(int message);

// Raises at most one event at a time per tray icon. A notification that
// arrives while an event is being handled (a click while the icon's pop-up
// menu runs its own loop) is dropped.
class EventGate {
public:
    // Returns true when an event was raised.
    bool Dispatch(int message, const std::function<void(Event)>& raise);
    bool Busy() const { return busy_; }

private:
    bool busy_ = false;
};

}  // namespace pelko::tray
