#include "core/tray_pixmap.h"

namespace pelko::tray {

std::vector<std::uint8_t> ToNetworkArgb(const PixelRows& rows) {
    if (rows.data == nullptr || rows.width <= 0 || rows.height <= 0) return {};
    if (rows.channels != 3 && rows.channels != 4) return {};
    const auto row_bytes = static_cast<std::size_t>(rows.width) * rows.channels;
    if (rows.rowstride < 0 || static_cast<std::size_t>(rows.rowstride) < row_bytes) return {};
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(rows.width) * rows.height * 4);
    for (int y = 0; y < rows.height; ++y) {
        const std::uint8_t* p = rows.data + static_cast<std::size_t>(y) * rows.rowstride;
        for (int x = 0; x < rows.width; ++x, p += rows.channels) {
            out.push_back(rows.channels == 4 ? p[3] : 0xFF);
            out.push_back(p[0]);
            out.push_back(p[1]);
            out.push_back(p[2]);
        }
    }
    return out;
}

}  // namespace pelko::tray
