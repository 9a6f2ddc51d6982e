#include "core/tray_pixmap.h"

#include <gtest/gtest.h>

namespace pelko::tray {
namespace {

TEST(TrayPixmap, ReordersEachPixelDropsRowPaddingAndRefusesWhatDoesNotAddUp) {
    // Two RGBA pixels per row, two bytes of padding after each row.
    const std::uint8_t rgba[] = {1, 2,  3,  4,  5,  6,  7,  8,  0xEE, 0xEE,
                                 9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE};
    EXPECT_EQ(ToNetworkArgb({rgba, 2, 2, 10, 4}),
              (std::vector<std::uint8_t>{4, 1, 2, 3, 8, 5, 6, 7, 12, 9, 10, 11, 16, 13, 14, 15}));
    // A picture without alpha is opaque.
    const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ToNetworkArgb({rgb, 2, 1, 6, 3}),
              (std::vector<std::uint8_t>{0xFF, 1, 2, 3, 0xFF, 4, 5, 6}));
    // An inconsistent picture gives no icon.
    const std::uint8_t px[16] = {};
    EXPECT_TRUE(ToNetworkArgb({nullptr, 1, 1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 0, 1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 1, -1, 4, 4}).empty());
    EXPECT_TRUE(ToNetworkArgb({px, 2, 2, 7, 4}).empty());  // rows shorter than their pixels
    EXPECT_TRUE(ToNetworkArgb({px, 1, 1, 4, 2}).empty());
}

}  // namespace
}  // namespace pelko::tray
