#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "main/SysInfoKeys.h"
#include "main/frmAbout.h"

using namespace pelko;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

// A temporary folder put in place of PATH, both undone at the end.
class ToolFolder {
  public:
    ToolFolder() {
        char tmpl[] = "/tmp/pelko-sysinfo-XXXXXX";
        dir_ = mkdtemp(tmpl);
        const char* path = std::getenv("PATH");
        saved_path_ = path != nullptr ? path : "";
        setenv("PATH", dir_.c_str(), 1);
    }
    ~ToolFolder() {
        setenv("PATH", saved_path_.c_str(), 1);
        fs::remove_all(dir_);
    }
    ToolFolder(const ToolFolder&) = delete;
    ToolFolder& operator=(const ToolFolder&) = delete;

    std::string Add(const std::string& name, bool executable) const {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n";
        chmod(path.c_str(), executable ? 0755 : 0644);
        return path;
    }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::string saved_path_;
};

// The store as the About box's two lookups may find it.
class FakeSource : public registry::KeyValueSource {
  public:
    std::optional<registry::KeyHandle> OpenForRead(std::uint32_t root,
                                                   const std::string& path) override {
        if (root != registry::kLocalMachine) return std::nullopt;
        for (const auto& [key, value] : values) {
            if (key.first == path) return ++opened;
        }
        return std::nullopt;
    }
    std::optional<registry::RawValue> Query(registry::KeyHandle, const std::string& name) override {
        // One value per key name is all these cases hold.
        for (const auto& [key, value] : values) {
            if (key.second == name) return value;
        }
        return std::nullopt;
    }
    void Close(registry::KeyHandle) override {}

    std::map<std::pair<std::string, std::string>, registry::RawValue> values;
    registry::KeyHandle opened = 0;
};

registry::RawValue Text(const std::string& s) { return {registry::ValueType::String, s + '\0'}; }

}  // namespace

TEST(SysInfoKeys, NamesTheFirstKnownToolOnPath) {
    const auto& known = SysInfoKeys::KnownTools();
    struct Case {
        std::vector<std::pair<std::string, bool>> installed;  // name, executable
        std::string want;                                     // "" for a missing key
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{{known.back(), true}}, known.back()},
        {{{known.back(), true}, {known.front(), true}}, known.front()},
        // A file that may not be executed is no program.
        {{{known.front(), false}, {known.back(), true}}, known.back()},
        {{{known.front(), false}}, ""},
        // Other programs on PATH are not taken for the tool.
        {{{"gnome-system-monitor", true}, {"msinfo32", true}}, ""},
    };
    for (const Case& c : cases) {
        ToolFolder folder;
        for (const auto& [name, executable] : c.installed) folder.Add(name, executable);
        SysInfoKeys keys;
        std::string text = "before";
        const bool found =
            registry::GetKeyValue(keys, registry::kLocalMachine, kSysInfoKey, kSysInfoValue, text);
        EXPECT_EQ(found, !c.want.empty()) << c.want;
        EXPECT_EQ(text, c.want.empty() ? "" : folder.dir() + "/" + c.want);
    }
}

TEST(SysInfoKeys, AnswersOnlyTheToolKeyAndValue) {
    ToolFolder folder;
    const std::string tool = folder.Add(SysInfoKeys::KnownTools().front(), true);
    struct Case {
        std::uint32_t root;
        std::string key;
        std::string value;
        bool found;
    };
    const std::vector<Case> cases = {
        {registry::kLocalMachine, kSysInfoKey, kSysInfoValue, true},
        // Names compare without regard to case, as in the store they stand for.
        {registry::kLocalMachine, "software\\MICROSOFT\\shared tools\\msinfo", "Path", true},
        {0x80000001, kSysInfoKey, kSysInfoValue, false},
        {registry::kLocalMachine, kSysInfoKey, "Version", false},
        {registry::kLocalMachine, kSysInfoKey + "\\Sub"s, kSysInfoValue, false},
        {registry::kLocalMachine, kSysInfoLocationKey, kSysInfoLocationValue, false},
    };
    for (const Case& c : cases) {
        SysInfoKeys keys;
        std::string text;
        EXPECT_EQ(registry::GetKeyValue(keys, c.root, c.key, c.value, text), c.found)
            << c.key << " " << c.value;
        EXPECT_EQ(text, c.found ? tool : "");
    }
}

TEST(SysInfoPath, FollowsTheTwoLookups) {
    ToolFolder with_tool;
    with_tool.Add(std::string(kSysInfoFile).substr(1), true);
    ToolFolder without_tool;
    const std::pair<std::string, std::string> path_value{kSysInfoKey, kSysInfoValue};
    const std::pair<std::string, std::string> folder_value{kSysInfoLocationKey,
                                                           kSysInfoLocationValue};
    struct Case {
        const char* what;
        std::map<std::pair<std::string, std::string>, registry::RawValue> values;
        std::optional<std::string> want;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, std::nullopt},
        {"a path is taken unchanged, even when missing",
         {{path_value, Text("/nowhere/sysinfo")}, {folder_value, Text(with_tool.dir())}},
         "/nowhere/sysinfo"},
        {"a folder that holds the tool",
         {{folder_value, Text(with_tool.dir())}},
         with_tool.dir() + kSysInfoFile},
        {"a folder without it", {{folder_value, Text(without_tool.dir())}}, std::nullopt},
        // Another type leaves the text empty: the start of "" fails later.
        {"a path of another type",
         {{path_value, {registry::ValueType::ExpandString, "/usr/bin/x\0"s}}},
         ""},
    };
    for (const Case& c : cases) {
        FakeSource source;
        source.values = c.values;
        EXPECT_EQ(SysInfoPath(source), c.want) << c.what;
    }
}

TEST(frmAbout, VersionTextHasNoLeadingZeros) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1.2.0", "版本 1.2.0"},   {"1.02.00", "版本 1.2.0"}, {"10.20.30", "版本 10.20.30"},
        {"1.2.0.7", "版本 1.2.0"}, {"1.2", "版本 1.2.0"},     {"", "版本 0.0.0"},
    };
    for (const auto& [version, want] : cases) {
        EXPECT_EQ(frmAbout::VersionText(version), want) << version;
    }
    EXPECT_EQ(frmAbout::VersionText(PELKO_VERSION), "版本 1.2.0");
}
