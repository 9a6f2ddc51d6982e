#include "main/SysInfoKeys.h"

#include <glibmm/miscutils.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace pelko {
namespace {

// Key and value names compare without regard to ASCII case, as the store
// they stand for does.
bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return Glib::Ascii::tolower(x) == Glib::Ascii::tolower(y);
    });
}

std::string FindInstalledTool() {
    for (const std::string& name : SysInfoKeys::KnownTools()) {
        // Only regular files we may execute count; an empty answer means none.
        std::string path = Glib::find_program_in_path(name);
        if (!path.empty()) return path;
    }
    return {};
}

}  // namespace

const std::vector<std::string>& SysInfoKeys::KnownTools() {
    static const std::vector<std::string> tools = {
        "kinfocenter", "xfce4-about", "hardinfo2", "hardinfo", "lshw-gtk",
    };
    return tools;
}

std::optional<registry::KeyHandle> SysInfoKeys::OpenForRead(std::uint32_t root,
                                                            const std::string& key_path) {
    if (root != registry::kLocalMachine || !SameName(key_path, kSysInfoKey)) return std::nullopt;
    std::string tool = FindInstalledTool();
    if (tool.empty()) return std::nullopt;
    const registry::KeyHandle key = next_++;
    open_.emplace(key, std::move(tool));
    return key;
}

std::optional<registry::RawValue> SysInfoKeys::Query(registry::KeyHandle key,
                                                     const std::string& value_name) {
    const auto it = open_.find(key);
    if (it == open_.end() || !SameName(value_name, kSysInfoValue)) return std::nullopt;
    // Stored as a text value is: with its terminator.
    registry::RawValue value{registry::ValueType::String, it->second};
    value.bytes.push_back('\0');
    return value;
}

void SysInfoKeys::Close(registry::KeyHandle key) { open_.erase(key); }

std::optional<std::string> SysInfoPath(registry::KeyValueSource& source) {
    std::string text;
    if (registry::GetKeyValue(source, registry::kLocalMachine, kSysInfoKey, kSysInfoValue, text)) {
        return text;
    }
    if (!registry::GetKeyValue(source, registry::kLocalMachine, kSysInfoLocationKey,
                               kSysInfoLocationValue, text)) {
        return std::nullopt;
    }
    const std::string path = text + kSysInfoFile;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    return path;
}

}  // namespace pelko
