#include "core/text.h"

namespace pelko::text {

namespace {
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

std::string_view CutOnCharacter(std::string_view s, std::size_t max_bytes) {
    if (s.size() <= max_bytes) return s;
    std::size_t cut = max_bytes;
    for (int back = 0; back < 3 && cut > 0; ++back) {
        const auto byte = static_cast<unsigned char>(s[cut]);
        if ((byte & 0xC0) != 0x80) break;
        --cut;
    }
    // A run of continuation bytes longer than any character is no character
    // to protect: cut where the limit says.
    if ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) cut = max_bytes;
    return s.substr(0, cut);
}

}  // namespace pelko::text
