#include "core/tray_contract.h"

#include "core/text.h"

namespace pelko::tray {

std::u32string DecodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            len = 1, cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        }
        bool ok = len != 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (ok && len > 1 && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.push_back(cp);
            i += len;
        } else {
            out.push_back(U'\uFFFD');
            i += 1;
        }
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = U'\uFFFD';
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string CutUtf8(std::string_view utf8, std::size_t max_bytes) {
    return std::string(text::CutOnCharacter(utf8, max_bytes));
}

TipField::TipField() : field_(kChars, U'\0') {}

void TipField::Set(std::string_view utf8) {
    std::u32string text = DecodeUtf8(utf8);
    text.push_back(U'\0');
    text.resize(kChars, U' ');
    field_ = std::move(text);
}

std::string TipField::Get() const { return EncodeUtf8(field_); }

std::string TipField::ForShell() const {
    const auto nul = field_.find(U'\0');
    const std::u32string_view text = std::u32string_view(field_).substr(0, nul);
    return CutUtf8(EncodeUtf8(text), kShellBytes - 1);
}

int MessageFor(unsigned button, Action action) {
    int base = 0;
    switch (button) {
        case 1: base = static_cast<int>(Message::LButtonDown); break;
        case 2: base = static_cast<int>(Message::MButtonDown); break;
        case 3: base = static_cast<int>(Message::RButtonDown); break;
        default: return static_cast<int>(Message::MouseMove);
    }
    switch (action) {
        case Action::Down: return base;
        case Action::Up: return base + 1;
        case Action::DoubleClick: return base + 2;
    }
    return static_cast<int>(Message::MouseMove);
}

Event EventFor(int message) {
    switch (static_cast<Message>(message)) {
        case Message::LButtonDown: return Event::LButtonDown;
        case Message::LButtonUp: return Event::LButtonUp;
        case Message::LButtonDblClick: return Event::LButtonDblClick;
        case Message::RButtonDown: return Event::RButtonDown;
        case Message::RButtonUp: return Event::RButtonUp;
        case Message::RButtonDblClick: return Event::RButtonDblClick;
        default: return Event::None;
    }
}

bool EventGate::Dispatch(int message, const std::function<void(Event)>& raise) {
    if (busy_) return false;
    const Event e = EventFor(message);
    if (e == Event::None) return false;
    busy_ = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{busy_};
    raise(e);
    return true;
}

}  // namespace pelko::tray
