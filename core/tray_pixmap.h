#pragma once

// The icon picture as desktop notification hosts over D-Bus take it: rows of
// 32-bit ARGB pixels, each in network byte order (alpha, red, green, blue),
// with no padding between rows.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelko::tray {

struct PixelRows {
    const std::uint8_t* data = nullptr;  // the first row
    int width = 0;
    int height = 0;
    int rowstride = 0;  // bytes from one row to the next
    int channels = 4;   // 3 for RGB, 4 for RGBA (straight alpha)
};

// An empty result for a picture whose description does not add up (no data,
// a size of zero, rows shorter than their pixels, a channel count other than
// 3 or 4), so that a bad picture gives no icon rather than a read past its end.
std::vector<std::uint8_t> ToNetworkArgb(const PixelRows& rows);

}  // namespace pelko::tray
