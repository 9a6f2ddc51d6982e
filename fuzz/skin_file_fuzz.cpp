// Skin files. There is no writer of skins, so a skin that loads is checked
// through what the window does with it: the sheet BuildSkinCss makes keeps
// to the scope and fetches nothing at any hue; the same bytes (with a byte
// order mark, or with CR LF line ends) load to the same sheet; a whole turn
// of the hue gives the sheet back; a turn changes only colours, so the
// sheet keeps its length; and hues add up around the wheel.

#include <string>

#include "core/skin_css.h"
#include "core/skin_error.h"
#include "css_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::skin;
    pelko::fuzz::Input input(data, size);
    const int hue = input.Number<std::int16_t>();
    const bool paint_client = input.Number<std::uint8_t>() & 1;
    const std::string text(input.Rest());
    Skin skin;
    try {
        skin = Skin::Parse(text, "fuzz.skn");
    } catch (const SkinError&) {
        return 0;
    }
    SkinConfig config;
    config.m_bSkinClientArea = paint_client;
    const std::string plain = BuildSkinCss(skin, 0, pelko::fuzz::kScope, config);
    pelko::fuzz::CheckSheet(plain);
    PELKO_FUZZ_CHECK(BuildSkinCss(Skin::Parse(text, "again.skn"), 0, pelko::fuzz::kScope, config) ==
                     plain);
    if (text.compare(0, 3, "\xEF\xBB\xBF") != 0 && text.size() + 3 <= Skin::kMaxFileBytes) {
        PELKO_FUZZ_CHECK(BuildSkinCss(Skin::Parse("\xEF\xBB\xBF" + text, "bom.skn"), 0,
                                      pelko::fuzz::kScope, config) == plain);
    }
    if (text.find('\r') == std::string::npos) {
        std::string crlf;
        for (const char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        if (crlf.size() <= Skin::kMaxFileBytes) {
            PELKO_FUZZ_CHECK(BuildSkinCss(Skin::Parse(crlf, "crlf.skn"), 0, pelko::fuzz::kScope,
                                          config) == plain);
        }
    }
    PELKO_FUZZ_CHECK(BuildSkinCss(skin, 360, pelko::fuzz::kScope, config) == plain);
    PELKO_FUZZ_CHECK(BuildSkinCss(skin.Rotated(360), 0, pelko::fuzz::kScope, config) == plain);

    const std::string turned = BuildSkinCss(skin, hue, pelko::fuzz::kScope, config);
    PELKO_FUZZ_CHECK(turned.size() == plain.size());
    pelko::fuzz::CheckSheet(turned);
    const Skin rotated = skin.Rotated(hue);
    PELKO_FUZZ_CHECK(rotated.Hue() == ((hue % 360) + 360) % 360);
    PELKO_FUZZ_CHECK(rotated.Rotated(-hue).Hue() == 0);
    PELKO_FUZZ_CHECK(rotated.Text("name") == skin.Text("name"));
    return 0;
}
