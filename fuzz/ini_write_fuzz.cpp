// The profile writer on any old file: what it accepts reads back as
// written, a key of another name keeps its value, and writing the same
// again changes no byte.

#include <string>

#include "core/ini_file.h"
#include "core/text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko;
    fuzz::Input input(data, size);
    const std::string section(input.Text());
    const std::string key(input.Text());
    const std::string value(input.Text());
    const std::string other_key(input.Text());
    const std::string old(input.Rest());
    const std::string absent(fuzz::kAbsent);

    const std::string path = fuzz::PutFile("write.ini", old);
    const std::string other_before = ini::ReadIniValue(path, section, other_key, absent);
    std::string error;
    if (!ini::WriteIniValue(path, section, key, value, &error)) {
        PELKO_FUZZ_CHECK(!error.empty());
        PELKO_FUZZ_CHECK(fuzz::ReadFile(path) == old);
        return 0;
    }

    PELKO_FUZZ_CHECK(ini::ReadIniValue(path, section, key, absent) == value);
    if (!text::EqualsIgnoringAsciiCase(fuzz::TrimBlanks(other_key), fuzz::TrimBlanks(key))) {
        PELKO_FUZZ_CHECK(ini::ReadIniValue(path, section, other_key, absent) == other_before);
    }
    const std::string written = fuzz::ReadFile(path);
    PELKO_FUZZ_CHECK(ini::WriteIniValue(path, section, key, value));
    PELKO_FUZZ_CHECK(fuzz::ReadFile(path) == written);
    return 0;
}
