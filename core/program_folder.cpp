#include "core/program_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace pelko {

std::string DirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool FolderWritable(const std::string& folder) {
    // The effective ids decide, as they do for the writes themselves; a
    // read-only mount says no even to the superuser.
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string ProgramFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        // Without /proc the working directory is the best guess left.
        return std::filesystem::current_path().string();
    }
    return DirName(exe.string());
}

}  // namespace pelko
