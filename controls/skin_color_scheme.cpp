#include "controls/skin_color_scheme.h"

#include "core/skin_error.h"

namespace pelko::ui {

void SkinColorScheme::SetHue(int hue) {
    const auto target = target_.lock();
    if (!target) throw skin::SkinError("皮肤控件已经不存在，无法设置色调");
    target->SetHue(hue);
}

}  // namespace pelko::ui
