// Skin colours: a text that parses is exactly "#" and six hex digits and
// prints back as itself in lower case; a turn of the hue by whole turns
// gives the colour back bit for bit, greys stay grey, colours stay coloured
// and keep their lightness within rounding, and a hue drawn from the
// uniform sequence lies on the wheel.

#include <algorithm>
#include <cmath>
#include <string>

#include "core/skin_color.h"
#include "fuzz_support.h"

namespace {

using pelko::skin::Rgb;

bool Grey(Rgb c) { return c.r == c.g && c.g == c.b; }
int Lightness(Rgb c) { return std::max({c.r, c.g, c.b}) + std::min({c.r, c.g, c.b}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::skin;
    pelko::fuzz::Input input(data, size);
    // Turns far beyond any the program makes, but not where adding a whole
    // turn would overflow.
    const int degrees = input.Number<std::int32_t>() % 10'000'000;
    const float uniform = input.Number<float>();
    const std::string_view text = input.Rest();

    if (uniform >= 0.0f && uniform < 1.0f) {
        const int hue = HueFromUniform(uniform);
        PELKO_FUZZ_CHECK(hue >= 0 && hue <= 360);
        PELKO_FUZZ_CHECK(std::fabs(hue - static_cast<double>(uniform) * 360.0) <= 0.5);
    }

    const auto color = ParseHexColor(text);
    if (!color) return 0;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    PELKO_FUZZ_CHECK(ToHex(*color) == lower);
    PELKO_FUZZ_CHECK(ParseHexColor(ToHex(*color)) == color);

    for (const int turns : {0, 360, -360, 720})
        PELKO_FUZZ_CHECK(RotateHue(*color, turns) == *color);
    const Rgb turned = RotateHue(*color, degrees);
    PELKO_FUZZ_CHECK(RotateHue(*color, degrees + 360) == turned);
    PELKO_FUZZ_CHECK(RotateHue(*color, degrees - 360) == turned);
    PELKO_FUZZ_CHECK(Grey(turned) == Grey(*color));
    if (Grey(*color)) PELKO_FUZZ_CHECK(turned == *color);
    PELKO_FUZZ_CHECK(std::abs(Lightness(turned) - Lightness(*color)) <= 2);
    return 0;
}
