#pragma once

// What Pelko tells the updater it starts: the version installed and, after
// the start-up check, the version the service offered
// (PelkoUpdate --installed 1.2.0 --offered 1.3.0).

#include <optional>
#include <string>
#include <string_view>

namespace pelko::updater {

struct Versions {
    std::optional<std::string> installed;
    std::optional<std::string> offered;
};

// Takes our options out of the argument vector, leaving the rest to the toolkit.
inline Versions TakeVersions(int& argc, char** argv) {
    Versions versions;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--installed" || arg == "--offered") && i + 1 < argc) {
            (arg == "--installed" ? versions.installed : versions.offered) = argv[++i];
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return versions;
}

}  // namespace pelko::updater
