#include "core/format_size.h"

#include <cmath>
#include <cstdio>

namespace pelko {

namespace {

constexpr std::int32_t kKiB = 1024;
constexpr std::int32_t kMiB = 1024 * 1024;
// The unit changes to G at half a GiB, so values show from 0.5G upwards.
constexpr std::int32_t kHalfGiB = 512 * kMiB;

// Writes value / 1024 with one decimal, rounded half away from zero, and
// drops every ".0". Any whole number of 1024ths, times ten, is exact in a
// double, so the rounding sees the true value. The values passed here stay
// below 1000, which is why the thousands grouping of the G format never
// shows and is not written.
std::string OneDecimalOf1024ths(std::int32_t units) {
    const auto tenths = static_cast<std::int64_t>(std::round(units * 10.0 / 1024.0));
    std::string text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    for (auto pos = text.find(".0"); pos != std::string::npos; pos = text.find(".0")) {
        text.erase(pos, 2);
    }
    return text;
}

}  // namespace

std::string FormatSize(std::int32_t bytes) {
    if (bytes < kKiB) return std::to_string(bytes) + "b";
    if (bytes < kMiB) return std::to_string(bytes / kKiB) + "k";
    if (bytes < kHalfGiB) return OneDecimalOf1024ths(bytes / kKiB) + "M";
    return OneDecimalOf1024ths(bytes / kMiB) + "G";
}

std::string FormatPercent(float fraction) {
    double percent = std::round(static_cast<double>(fraction) * 100.0);
    // A tiny negative fraction rounds to -0, which would print as "-0%".
    percent += 0.0;
    if (!std::isfinite(percent)) percent = 0.0;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f%%", percent);
    return text;
}

std::string ProgressText(float fraction, std::int32_t size) {
    return FormatPercent(fraction) + " of " + FormatSize(size);
}

}  // namespace pelko
