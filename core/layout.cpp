#include "core/layout.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

namespace pelko::layout {

std::int32_t RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    // nearbyint follows the default rounding mode: to nearest, ties to even.
    const double r = std::nearbyint(value);
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

namespace {

void AppendNumber(std::string& out, double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
    out.push_back(' ');
}

double ToDouble(std::string_view text) {
    double v = 0;
    const auto* first = text.data();
    const auto* last = text.data() + text.size();
    const auto res = std::from_chars(first, last, v);
    if (text.empty() || res.ec != std::errc() || res.ptr != last || !std::isfinite(v))
        throw std::invalid_argument("layout record holds no number: \"" + std::string(text) + "\"");
    return v;
}

}  // namespace

std::string FormatRecord(const Rect& r) {
    std::string out;
    AppendNumber(out, r.left);
    AppendNumber(out, r.top);
    AppendNumber(out, r.width);
    AppendNumber(out, r.height);
    return out;
}

Rect ParseRecord(std::string_view tag) {
    double n[4] = {0, 0, 0, 0};
    std::size_t start = 0;
    for (double& v : n) {
        const auto blank = tag.find(' ', start);
        if (blank == std::string_view::npos) continue;
        v = ToDouble(tag.substr(start, blank - start));
        start = blank + 1;
    }
    return {n[0], n[1], n[2], n[3]};
}

double Factor(double current, std::int32_t recorded) {
    if (recorded == 0) return 1.0;
    return current / static_cast<double>(recorded);
}

Recorded Record(double inner_width, double inner_height, const std::vector<Control*>& controls) {
    const Recorded rec{RoundHalfEven(inner_width), RoundHalfEven(inner_height)};
    for (Control* c : controls) {
        try {
            c->SetTag(FormatRecord(c->Bounds()));
        } catch (const std::exception&) {
            // A control without a position keeps its tag; the pass goes on.
        }
    }
    return rec;
}

void Scale(const Recorded& recorded, double inner_width, double inner_height,
           const std::vector<Control*>& controls) {
    const double h = Factor(inner_width, recorded.width);
    const double v = Factor(inner_height, recorded.height);
    for (Control* c : controls) {
        try {
            const Rect r = ParseRecord(c->Tag());
            c->Move({r.left * h, r.top * v, r.width * h, r.height * v});
        } catch (const std::exception&) {
            // A control that cannot be moved is left as it is.
        }
    }
}

}  // namespace pelko::layout
