#pragma once

// What every style sheet made from a skin must be, whatever the skin file
// held: each rule reaches only the widgets of one skinned window (its
// selectors all name the scope class), nothing in it fetches anything, and
// its braces pair up so that no rule runs into the next.

#include <array>
#include <string>
#include <string_view>

#include "fuzz_support.h"

namespace pelko::fuzz {

inline constexpr char kScope[] = "pelko-fuzz-scope";

inline void CheckSheet(const std::string& css) {
    constexpr std::array<std::string_view, 9> kOutside = {"url(",           "@import",     "image(",
                                                          "-gtk-icontheme", "-gtk-scaled", "://",
                                                          "file:",          "resource:",   "\\"};
    for (const auto mark : kOutside) PELKO_FUZZ_CHECK(css.find(mark) == std::string::npos);

    const std::string scope = std::string(".") + kScope;
    std::size_t pos = 0;
    while (pos < css.size()) {
        const auto open = css.find('{', pos);
        PELKO_FUZZ_CHECK(open != std::string::npos);
        const auto close = css.find('}', open);
        PELKO_FUZZ_CHECK(close != std::string::npos);
        PELKO_FUZZ_CHECK(css.find('{', open + 1) > close);
        // Every selector of the rule, split at its commas.
        std::string_view selectors(css.data() + pos, open - pos);
        while (!selectors.empty()) {
            const auto comma = selectors.find(',');
            PELKO_FUZZ_CHECK(selectors.substr(0, comma).find(scope) != std::string_view::npos);
            selectors =
                comma == std::string_view::npos ? std::string_view{} : selectors.substr(comma + 1);
        }
        pos = close + 1;
        while (pos < css.size() && (css[pos] == '\n' || css[pos] == ' ')) ++pos;
    }
}

}  // namespace pelko::fuzz
