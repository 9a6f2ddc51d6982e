#include "main/Module2.h"

#include "core/layout.h"
#include "main/Form1.h"

namespace pelko::Module2 {

namespace {
// The window's inner size in twips at load time.
layout::Recorded recorded;
}  // namespace

void RecordLayout(Form1& form) {
    auto controls = form.LayoutControls();
    recorded = layout::Record(form.Panel().InnerWidth(), form.Panel().InnerHeight(),
                              form.LayoutView(controls));
}

void ScaleLayout(Form1& form) {
    auto controls = form.LayoutControls();
    layout::Scale(recorded, form.Panel().InnerWidth(), form.Panel().InnerHeight(),
                  form.LayoutView(controls));
}

std::int32_t RecordedWidth() { return recorded.width; }
std::int32_t RecordedHeight() { return recorded.height; }

}  // namespace pelko::Module2
