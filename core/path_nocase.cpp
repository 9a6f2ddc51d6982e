#include "core/path_nocase.h"

#include "core/text.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace pelko {
namespace {

namespace fs = std::filesystem;

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec)) && !ec;
}

// The entry of a folder whose name matches without regard to case.
std::optional<std::string> FindInFolder(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    if (ec) return std::nullopt;
    std::optional<std::string> best;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return best;
        const std::string candidate = it->path().filename().string();
        if (text::EqualsIgnoringAsciiCase(candidate, name) && (!best || candidate < *best)) best = candidate;
    }
    return best;
}

}  // namespace

std::string FindPathNoCase(const std::string& path) {
    if (path.empty() || Exists(path)) return path;

    const fs::path given(path);
    fs::path found = given.root_path();
    for (const fs::path& part : given.relative_path()) {
        const std::string name = part.string();
        // A trailing separator yields an empty part; "." and ".." are no names.
        if (name.empty() || name == "." || name == "..") {
            found /= part;
            continue;
        }
        if (Exists(found / part)) {
            found /= part;
            continue;
        }
        const auto match = FindInFolder(found, name);
        if (!match) return path;
        found /= *match;
    }
    return found.string();
}

}  // namespace pelko
