#pragma once

// Proportional layout: every control keeps its place in proportion to the
// window's inner size. Positions are twips (15 per pixel at 96 dpi), and each
// control carries its start position as a text record in its tag, so that
// every pass starts again from the records and never accumulates error.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::layout {

constexpr double kTwipsPerPixel = 15.0;

struct Rect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Nearest whole number, halves to the even neighbour; clamped to 32 bits.
std::int32_t RoundHalfEven(double value);

// "left top width height " - each number followed by one blank, written in
// the shortest text that reads back to the same double.
std::string FormatRecord(const Rect& r);

// Reads four numbers back. A number ends at the next blank; when there is no
// blank left the number is 0 and the reading position stays. Throws
// std::invalid_argument for a piece that is not a finite number.
Rect ParseRecord(std::string_view tag);

// current / recorded; a recorded size of zero leaves that axis unscaled.
double Factor(double current, std::int32_t recorded);

// One control as the layout passes see it. Any member may throw: a control
// without a position (a menu entry) fails, and the passes skip it.
class Control {
public:
    virtual ~Control() = default;
    virtual std::string Tag() const = 0;
    virtual void SetTag(const std::string& tag) = 0;
    virtual Rect Bounds() const = 0;
    virtual void Move(const Rect& r) = 0;
};

struct Recorded {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Records the inner size and writes each control's record into its tag.
Recorded Record(double inner_width, double inner_height, const std::vector<Control*>& controls);

// Places every control from its record, scaled to the current inner size.
void Scale(const Recorded& recorded, double inner_width, double inner_height,
           const std::vector<Control*>& controls);

}  // namespace pelko::layout
