// The style rules of a skin file. There is no writer of rules, so the
// rendering is checked instead: rules that parse render to a sheet that
// keeps to the scope and fetches nothing, the same text parses to the same
// sheet, and a turn of the hue changes the colours and nothing else (every
// colour is written #rrggbb, so the sheet keeps its length, and whole turns
// give it back unchanged).

#include <string>

#include "core/skin_css_fragment.h"
#include "core/skin_error.h"
#include "css_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::skin;
    pelko::fuzz::Input input(data, size);
    const int degrees = input.Number<std::int16_t>();
    const std::string_view text = input.Rest();
    CssFragment fragment;
    try {
        fragment = CssFragment::Parse(text, "fuzz.skn", 3);
    } catch (const SkinError&) {
        return 0;
    }
    const std::string plain = fragment.Render(pelko::fuzz::kScope, 0);
    pelko::fuzz::CheckSheet(plain);
    PELKO_FUZZ_CHECK(CssFragment::Parse(text, "again.skn", 1).Render(pelko::fuzz::kScope, 0) ==
                     plain);
    PELKO_FUZZ_CHECK(fragment.Render(pelko::fuzz::kScope, 360) == plain);
    const std::string turned = fragment.Render(pelko::fuzz::kScope, degrees);
    PELKO_FUZZ_CHECK(turned.size() == plain.size());
    pelko::fuzz::CheckSheet(turned);
    return 0;
}
