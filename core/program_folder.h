#pragma once

#include <string>

namespace pelko {

// The folder of the running executable, without a trailing separator.
// Every file the programs name is this folder followed by a literal
// beginning with "/" ("/update.ini", "/Skins/mac.skn").
std::string ProgramFolder();

// The folder part of a path, without the trailing separator ("/" stays "/").
std::string DirName(const std::string& path);

}  // namespace pelko
