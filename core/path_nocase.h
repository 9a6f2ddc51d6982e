#pragma once

// File names as the skin table writes them ("/Skins/mac.skn") name files whose
// letter case differs ("mac.Skn"): names match without regard to ASCII letter
// case, the way the programs' original platform matched them.

#include <string>

namespace pelko {

// The path of an existing file or folder that matches the given path part by
// part, ASCII letters compared without regard to case and every other byte
// exactly. An exact match wins at each step; among several case-only matches
// the one first in byte order wins, so the choice is the same every time. When
// no entry matches, the path comes back unchanged, so that opening it reports
// the missing file under the name the caller used.
std::string FindPathNoCase(const std::string& path);

}  // namespace pelko
