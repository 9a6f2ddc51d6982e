#include "core/layout.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using pelko::layout::Control;
using pelko::layout::Rect;

namespace {

// A control as the form holds it: a tag and a rectangle in twips; one that
// cannot be placed (a menu) throws, as the toolkit's would.
struct FakeControl : Control {
    explicit FakeControl(Rect r, bool movable = true) : rect_(r), movable_(movable) {}
    std::string Tag() const override { return tag_; }
    void SetTag(const std::string& t) override { tag_ = t; }
    Rect Bounds() const override {
        if (!movable_) throw std::runtime_error("no position");
        return rect_;
    }
    void Move(const Rect& r) override {
        if (!movable_) throw std::runtime_error("cannot move");
        rect_ = r;
    }
    Rect rect_;
    bool movable_;
    std::string tag_;
};

}  // namespace

TEST(Layout, RoundHalfEvenTable) {
    const std::map<double, int> cases = {
        {0.5, 0},       {1.5, 2},         {2.5, 2},        {-0.5, 0},     {-1.5, -2},
        {15240.5, 15240}, {15241.5, 15242}, {9749.4999, 9749}, {9749.5001, 9750}, {1e12, 2147483647},
        {-1e12, -2147483647 - 1},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(pelko::layout::RoundHalfEven(in), want) << in;
    // The recorded form size rounds the same way.
    const auto rec = pelko::layout::Record(100.5, 101.5, {});
    EXPECT_EQ(rec.width, 100);
    EXPECT_EQ(rec.height, 102);
}

TEST(Layout, RecordTexts) {
    EXPECT_EQ(pelko::layout::FormatRecord({0, 0, 15255, 9735}), "0 0 15255 9735 ");
    // A number ends at a blank; with no blank left it is 0 and reading stays put.
    const std::vector<std::pair<const char*, Rect>> cases = {
        {"0 0 15255 9735 ", {0, 0, 15255, 9735}},
        {"", {}},
        {"12 34", {12, 0, 0, 0}},
        {"1.5 -2 3e2 4 trailing", {1.5, -2, 300, 4}},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(pelko::layout::ParseRecord(text), want) << text;
    for (const char* bad : {"x 1 2 3 ", "1  2 3 ", "nan 0 0 0 ", "inf 0 0 0 ", "1,5 0 0 0 "}) {
        EXPECT_THROW(pelko::layout::ParseRecord(bad), std::invalid_argument) << bad;
    }
}

TEST(Layout, EveryResizeBackToTheStartSizeIsExact) {
    // Awkward fractions at many sizes must never creep into the start position.
    FakeControl browser({0, 0, 15255, 9735});
    FakeControl text({9360, 6120, 1215, 495});
    FakeControl odd({7, 13, 1, 3});
    std::vector<Control*> all{&text, &odd, &browser};
    const auto rec = pelko::layout::Record(15240, 9750, all);
    for (int w = 15; w <= 40000; w += 4441) {
        for (int h = 15; h <= 30000; h += 3313) pelko::layout::Scale(rec, w, h, all);
    }
    pelko::layout::Scale(rec, 15240, 9750, all);
    EXPECT_EQ(browser.rect_, (Rect{0, 0, 15255, 9735}));
    EXPECT_EQ(text.rect_, (Rect{9360, 6120, 1215, 495}));
    EXPECT_EQ(odd.rect_, (Rect{7, 13, 1, 3}));
    // Each side keeps its own factor, and a recorded size of zero does not divide.
    pelko::layout::Scale(rec, 30480, 4875, all);
    EXPECT_DOUBLE_EQ(browser.rect_.width, 30510);
    EXPECT_DOUBLE_EQ(browser.rect_.height, 4867.5);
    EXPECT_EQ(pelko::layout::Factor(15240, 0), 1.0);
}

TEST(Layout, FailingControlsAreSkippedOneByOne) {
    FakeControl before({15, 30, 45, 60});
    FakeControl menu({0, 0, 0, 0}, false);
    menu.tag_ = "kept";
    FakeControl after({150, 300, 450, 600});
    std::vector<Control*> all{&before, &menu, &after};
    const auto rec = pelko::layout::Record(1500, 3000, all);
    EXPECT_EQ(menu.tag_, "kept");
    EXPECT_EQ(after.tag_, "150 300 450 600 ");

    before.tag_ = "garbage 1 2 3 ";  // a damaged record skips only its own control
    pelko::layout::Scale(rec, 3000, 6000, all);
    EXPECT_EQ(before.rect_, (Rect{15, 30, 45, 60}));
    EXPECT_EQ(after.rect_, (Rect{300, 600, 900, 1200}));
}
