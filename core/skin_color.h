#pragma once

// Colours of a skin and the hue maths of the random colour change: every
// colour turns around the colour wheel in HSL, so greys stay grey and each
// colour keeps its saturation and lightness.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelko::skin {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Exactly "#" and six hex digits, either case; anything else is no colour.
std::optional<Rgb> ParseHexColor(std::string_view text);

// "#rrggbb" in lower case.
std::string ToHex(Rgb c);

// The colour turned by the given degrees around the colour wheel. Whole turns
// (0, 360, -360) give the colour back unchanged, and so does any turn of a grey.
Rgb RotateHue(Rgb c, int degrees);

// The hue for a draw r of the uniform sequence (0 <= r < 1): r x 360 rounded
// to the nearest whole number, halves to the even neighbour (22.5 gives 22,
// 67.5 gives 68). The product of a single-precision number and 360 is exact in
// double precision, so the halves are real halves and round as they should.
int HueFromUniform(float r);

}  // namespace pelko::skin
