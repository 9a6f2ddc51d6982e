#pragma once

// Proportional layout of the main window: the window's recorded size and
// the two passes that record and restore every control's place.

#include <cstdint>

namespace pelko {

class Form1;

namespace Module2 {

// Records the inner size and writes every control's start place into its tag.
void RecordLayout(Form1& form);
// Re-places every control from its tag, scaled to the current inner size.
void ScaleLayout(Form1& form);

std::int32_t RecordedWidth();
std::int32_t RecordedHeight();

}  // namespace Module2
}  // namespace pelko
