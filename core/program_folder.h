#pragma once

#include <string>

namespace pelko {

// The folder of the running executable, without a trailing separator.
// Every file the programs name is this folder followed by a literal
// beginning with "/" ("/update.ini", "/Skins/mac.skn").
std::string ProgramFolder();

// Whether this process may create and replace files in the folder: false
// for a system-wide install or a read-only file system, where updates come
// from the package manager instead.
bool FolderWritable(const std::string& folder);

// What the programs say when the folder they would update cannot be written.
inline constexpr const char* kReadOnlyUpdate =
    "程序所在的文件夹不能写入，无法在这里更新。请通过软件包管理器更新，或请管理员更新。";
inline constexpr const char* kReadOnlyNewVersion =
    "程序有新的版本，但程序所在的文件夹不能写入，无法在这里更新。请通过软件包管理器更新，或请管理员更新。";
inline constexpr const char* kReadOnlyClear =
    "程序所在的文件夹不能写入，垃圾清理无法运行。请联系管理员。";

// The folder part of a path, without the trailing separator ("/" stays "/").
std::string DirName(const std::string& path);

}  // namespace pelko
