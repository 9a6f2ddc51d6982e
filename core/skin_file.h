#pragma once

// A skin: the colours, paints and metrics of the window's frame, title bar,
// caption buttons, menu bar, menus and client area, read from a skin file
// (docs/skin-format.md describes the format). Files are read strictly: any
// unknown key, bad value, damaged or hostile content is a SkinError that
// names the file and, where there is one, the line.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/skin_color.h"
#include "core/skin_css_fragment.h"

namespace pelko::skin {

// A flat colour (one stop) or a gradient of two to four stops, top to bottom
// or left to right.
struct Paint {
    enum class Direction { Down, Right };
    std::vector<Rgb> stops;
    Direction direction = Direction::Down;
    friend bool operator==(const Paint&, const Paint&) = default;
};

class Skin {
  public:
    // Limits of what a skin file may be; beyond them the file is refused.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;
    static constexpr std::size_t kMaxLineBytes = 1024;

    // Reads a skin from its text; source names the file in failures.
    static Skin Parse(std::string_view text, const std::string& source);
    // Reads the skin file at path (a regular file of at most kMaxFileBytes).
    static Skin ReadFile(const std::string& path);

    // The values by key; asking for an unknown key or the wrong kind is a
    // programming fault (std::logic_error), never a fault of the file.
    const std::string& Text(std::string_view key) const;
    Rgb Color(std::string_view key) const;
    const Paint& PaintOf(std::string_view key) const;
    int Metric(std::string_view key) const;
    const std::string& Choice(std::string_view key) const;
    const CssFragment& Css() const { return css_; }

    // Every colour of the skin turned by the given degrees; the skin itself
    // stays as drawn, so each new hue starts from the skin's own colours.
    Skin Rotated(int degrees) const;
    int Hue() const { return hue_; }

  private:
    using Value = std::variant<std::string, Paint, int>;
    const Value& Get(std::string_view key) const;

    std::map<std::string, Value, std::less<>> values_;
    CssFragment css_;
    int hue_ = 0;
};

}  // namespace pelko::skin
