#pragma once

// The colour scheme of the skin control's current skin: the object through
// which the random colour change sets a hue. A fresh one is handed out on
// every request; it holds no skin of its own and does not keep the control
// alive.

#include <memory>

namespace pelko::ui {

// What a colour scheme turns: the skin control behind it.
class HueTarget {
  public:
    virtual ~HueTarget() = default;
    virtual void SetHue(int hue) = 0;
};

class SkinColorScheme {
  public:
    explicit SkinColorScheme(std::weak_ptr<HueTarget> target) : target_(std::move(target)) {}

    // Turns every colour of the current skin by hue degrees (0 to 360) from the
    // skin's own colours and restyles the skinned window at once; 0 and 360
    // give the skin as drawn. Throws skin::SkinError for a hue out of range or
    // a control that is gone; the window then keeps its look.
    void SetHue(int hue);

  private:
    std::weak_ptr<HueTarget> target_;
};

}  // namespace pelko::ui
