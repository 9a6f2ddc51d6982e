#pragma once

// The texts the updater shows about a transfer: a byte count in b, k, M or G
// and the share done as a whole percentage.

#include <cstdint>
#include <string>

namespace pelko {

// The short text of a byte count with its unit letter: "1023b", "1k",
// "1.3M", "0.5G". The M and G values carry one decimal, rounded half away
// from zero, and a ".0" is dropped, so whole values read "3M" and "2G".
std::string FormatSize(std::int32_t bytes);

// The fraction as a whole percentage, rounded half away from zero: 0.125
// gives "13%", 1 gives "100%".
std::string FormatPercent(float fraction);

// The progress text of a transfer: "50% of 3M".
std::string ProgressText(float fraction, std::int32_t size);

}  // namespace pelko
