#include "core/skin_color.h"

#include <algorithm>
#include <cmath>

#include "core/layout.h"

namespace pelko::skin {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Hsl {
    double h;  // degrees, [0, 360)
    double s;  // [0, 1]
    double l;  // [0, 1]
};

Hsl ToHsl(Rgb c) {
    const double r = c.r / 255.0;
    const double g = c.g / 255.0;
    const double b = c.b / 255.0;
    const double max = std::max({r, g, b});
    const double min = std::min({r, g, b});
    const double l = (max + min) / 2;
    const double d = max - min;
    if (d == 0) return {0, 0, l};
    const double s = l > 0.5 ? d / (2 - max - min) : d / (max + min);
    double h;
    if (max == r) {
        h = (g - b) / d + (g < b ? 6 : 0);
    } else if (max == g) {
        h = (b - r) / d + 2;
    } else {
        h = (r - g) / d + 4;
    }
    return {h * 60, s, l};
}

double HueToChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 1.0 / 2) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v * 255), 0L, 255L));
}

Rgb FromHsl(const Hsl& c) {
    const double q = c.l < 0.5 ? c.l * (1 + c.s) : c.l + c.s - c.l * c.s;
    const double p = 2 * c.l - q;
    const double h = c.h / 360;
    return {ToByte(HueToChannel(p, q, h + 1.0 / 3)), ToByte(HueToChannel(p, q, h)),
            ToByte(HueToChannel(p, q, h - 1.0 / 3))};
}

}  // namespace

std::optional<Rgb> ParseHexColor(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    int v[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = HexDigit(text[i + 1]);
        if (v[i] < 0) return std::nullopt;
    }
    return Rgb{static_cast<std::uint8_t>(v[0] * 16 + v[1]),
               static_cast<std::uint8_t>(v[2] * 16 + v[3]),
               static_cast<std::uint8_t>(v[4] * 16 + v[5])};
}

std::string ToHex(Rgb c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "#";
    for (std::uint8_t v : {c.r, c.g, c.b}) {
        out += kDigits[v >> 4];
        out += kDigits[v & 0xF];
    }
    return out;
}

Rgb RotateHue(Rgb c, int degrees) {
    const int turn = ((degrees % 360) + 360) % 360;
    // The skin as drawn must come back bit for bit, not merely close to it.
    if (turn == 0) return c;
    Hsl hsl = ToHsl(c);
    if (hsl.s == 0) return c;
    hsl.h = std::fmod(hsl.h + turn, 360.0);
    return FromHsl(hsl);
}

int HueFromUniform(float r) { return layout::RoundHalfEven(static_cast<double>(r) * 360.0); }

}  // namespace pelko::skin
