#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "main/SysInfoKeys.h"
#include "main/frmAbout.h"
#include "tests/support/temp_dir.h"

using namespace pelko;

// The About box's lookup names the known tool that PATH finds, and gives
// nothing (the box's "unavailable" message) when none is there.
TEST(SysInfoKeys, NamesTheKnownToolOnPath) {
    const char* path = std::getenv("PATH");
    const std::string saved_path = path != nullptr ? path : "";
    for (const bool installed : {false, true}) {
        test::TempDir folder;
        setenv("PATH", folder.path().c_str(), 1);
        std::string tool;
        if (installed) {
            tool = folder.Put(SysInfoKeys::KnownTools().back(), "#!/bin/sh\n");
            chmod(tool.c_str(), 0755);
        }
        SysInfoKeys keys;
        std::string text = "before";
        EXPECT_EQ(
            registry::GetKeyValue(keys, registry::kLocalMachine, kSysInfoKey, kSysInfoValue, text),
            installed);
        EXPECT_EQ(text, tool);
        EXPECT_EQ(SysInfoPath(keys), installed ? std::optional(tool) : std::nullopt);
    }
    setenv("PATH", saved_path.c_str(), 1);
}

TEST(frmAbout, VersionTextHasNoLeadingZeros) {
    for (const auto& [version, want] : std::vector<std::pair<const char*, const char*>>{
             {"1.02.00", "版本 1.2.0"}, {"10.20.30.7", "版本 10.20.30"}, {"1", "版本 1.0.0"}}) {
        EXPECT_EQ(frmAbout::VersionText(version), want) << version;
    }
}
