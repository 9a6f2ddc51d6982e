#pragma once

// Where the About box finds the desktop's system-information tool. The box
// looks the tool up the way it always has, by two keys of the machine-wide
// store; this desktop keeps no such store, so SysInfoKeys answers those two
// keys from what is installed: the first key names the first program of a
// list of known system-information tools that the program search (PATH)
// finds. The second key, a folder that holds the tool under a fixed name,
// has nothing to stand for here and is always missing.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/key_value.h"

namespace pelko {

// The keys and values the About box reads, all under registry::kLocalMachine.
inline constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kSysInfoValue = "PATH";
inline constexpr const char* kSysInfoLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* kSysInfoLocationValue = "MSINFO";
// The tool's file in the folder that the second key names.
inline constexpr const char* kSysInfoFile = "/MSINFO32";

class SysInfoKeys : public registry::KeyValueSource {
public:
    // The programs that show the system's hardware and software, in the
    // order they are preferred: the desktops' own tools first (KDE, Xfce),
    // then the desktop-neutral ones. Each starts without arguments.
    static const std::vector<std::string>& KnownTools();

    std::optional<registry::KeyHandle> OpenForRead(std::uint32_t root,
                                                   const std::string& key_path) override;
    std::optional<registry::RawValue> Query(registry::KeyHandle key,
                                            const std::string& value_name) override;
    void Close(registry::KeyHandle key) override;

private:
    // The tool's full path for each open key; the key exists only while a
    // tool is installed, as it does where the tool's installer writes it.
    std::map<registry::KeyHandle, std::string> open_;
    registry::KeyHandle next_ = 1;
};

// The program StartSysInfo starts: the first key's text unchanged (not
// checked, so a stale entry fails at the start), else the second key's
// folder followed by kSysInfoFile when that file exists; nullopt when
// neither lookup gives one.
std::optional<std::string> SysInfoPath(registry::KeyValueSource& source);

}  // namespace pelko
