#include "core/program_folder.h"

#include <filesystem>
#include <system_error>

namespace pelko {

std::string DirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
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
