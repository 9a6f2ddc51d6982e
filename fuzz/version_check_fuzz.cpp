// The start-up version check as it reads the service's up.ini: the value of
// [ver] version= compared with the installed update.ini. Whatever up.ini
// holds, an offer is never mutual, and once the offered version has been
// recorded in update.ini (as a good update does) the same up.ini offers
// nothing more: otherwise the user would be asked at every start.

#include <string>

#include "core/ini_file.h"
#include "core/version_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko;
    fuzz::Input input(data, size);
    const std::string installed_file(input.Text());
    const std::string up_ini(input.Rest());

    const std::string update_ini = fuzz::PutFile("update.ini", installed_file);
    const std::string service =
        ini::ReadIniValue(fuzz::PutFile("up.ini", up_ini), "ver", "version", "");
    const std::string installed = ini::ReadIniValue(update_ini, "ver", "version", "");

    if (version::IsNewerVersion(service, installed)) {
        PELKO_FUZZ_CHECK(!version::IsNewerVersion(installed, service));
    }
    if (service == installed) PELKO_FUZZ_CHECK(!version::IsNewerVersion(service, installed));

    if (ini::WriteIniValue(update_ini, "ver", "version", service)) {
        const std::string recorded = ini::ReadIniValue(update_ini, "ver", "version", "");
        PELKO_FUZZ_CHECK(!version::IsNewerVersion(service, recorded));
    }
    return 0;
}
