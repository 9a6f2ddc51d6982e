#pragma once

// Small text rules several parts of the core share.

#include <cstddef>
#include <string_view>

namespace pelko::text {

// Equal but for ASCII letter case; other bytes, those of multi-byte
// characters included, must be the same.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Whether s begins with prefix, but for ASCII letter case ("MAILTO:" too).
bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix);

// Cuts to at most max_bytes without splitting a UTF-8 sequence. Bytes that
// are not valid UTF-8 are kept as they are; the step back is bounded by the
// longest sequence, so garbage cannot make it walk far.
std::string_view CutOnCharacter(std::string_view s, std::size_t max_bytes);

}  // namespace pelko::text
