#include "core/version_text.h"

#include <cstddef>

namespace pelko::version {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The next dot-separated part of a dotted decimal text; empty once the text is used up.
std::string_view NextPart(std::string_view& rest) {
    const auto dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    return part;
}

// Compares two digit runs as numbers without converting them, so that no
// length of digits can overflow: leading zeros off, then the longer run is
// the larger, then the first differing digit decides.
int CompareNumbers(std::string_view a, std::string_view b) {
    while (!a.empty() && a.front() == '0') a.remove_prefix(1);
    while (!b.empty() && b.front() == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

int CompareOrdinal(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

bool IsDottedDecimal(std::string_view text) {
    if (text.empty()) return false;
    bool after_digit = false;
    for (const char c : text) {
        if (IsDigit(c)) {
            after_digit = true;
        } else if (c == '.' && after_digit) {
            after_digit = false;
        } else {
            return false;
        }
    }
    return after_digit;
}

int CompareVersionTexts(std::string_view a, std::string_view b) {
    if (IsDottedDecimal(a) && IsDottedDecimal(b)) {
        std::string_view rest_a = a;
        std::string_view rest_b = b;
        while (!rest_a.empty() || !rest_b.empty()) {
            const int order = CompareNumbers(NextPart(rest_a), NextPart(rest_b));
            if (order != 0) return order;
        }
    }
    return CompareOrdinal(a, b);
}

bool IsNewerVersion(std::string_view service, std::string_view installed) {
    return CompareVersionTexts(service, installed) > 0;
}

}  // namespace pelko::version
